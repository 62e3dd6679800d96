// What a port's reports look like, fed with events as a run reports them.
#include "cli/port_reporter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <regex>
#include <sstream>
#include <string>

#include "link/link_message.h"

namespace vn {
namespace {

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// What the reporter shows of one box's transfer failing in the erase phase, as the driver tells it.
std::string Shown(OutputMode mode, bool several, int columns) {
  FilePtr out(std::tmpfile(), &std::fclose);
  FilePtr errors(std::tmpfile(), &std::fclose);
  LineOutput output(out.get(), errors.get(), mode, 2, columns);
  PortSetup setup;
  setup.port = "COM7";
  setup.several = several;
  PortReporter reporter(output, setup);
  LinkCounters link;  // the box's tallies, as every event carries them
  auto send = [&reporter, &link](LinkEvent event) {
    event.box = 1;
    event.link = link;
    reporter.OnEvent(event);
  };
  send(MessageEvent(kMsgTransfer));
  send(PercentEvent(Phase::kTransfer, 1, 3));
  link.framesResent = 2;
  LinkEvent bytes;
  bytes.kind = EventKind::kBytes;
  bytes.phase = Phase::kTransfer;
  bytes.bytesDone = 40000;
  bytes.bytesTotal = 120000;
  send(bytes);
  send(PercentEvent(Phase::kTransfer, 3, 3));
  send(MessageEvent(kMsgTransferSuccess));
  send(PercentEvent(Phase::kErase, 1, 2));
  send(MessageEvent(kMsgEraseFailed));
  send(StatusEvent("", EventKind::kIdle));
  reporter.FinishRun();
  std::string text(1 << 16, '\0');
  std::rewind(out.get());
  text.resize(std::fread(text.data(), 1, text.size(), out.get()));
  return text;
}

TEST(PortReporter, PlainLinesAreTheStatusTextsNamedByPortWhenThereAreSeveral) {
  EXPECT_EQ(Shown(OutputMode::kPlain, false, 0),
            "Transfer...\nTransfering Data:  33%\nTransfering Data:  100%\nTransfer Success!\n"
            "Erase flash...  50%\nErase flash failed!\n");
  EXPECT_EQ(Shown(OutputMode::kPlain, true, 0),
            "COM7: Transfer...\nCOM7: Transfering Data:  33%\nCOM7: Transfering Data:  100%\n"
            "COM7: Transfer Success!\nCOM7: Erase flash...  50%\nCOM7: Erase flash failed!\n");
}

TEST(PortReporter, TerminalRowsFitANarrowTerminalAndKeepTheLinkHealth) {
  for (const bool several : {false, true}) {
    SCOPED_TRACE(several);
    const std::string shown = Shown(OutputMode::kTerminal, several, 40);
    // What the screen holds once the cursor movements have been applied is at most what was
    // printed; no printed line may be wider than the terminal.
    const std::string plain = std::regex_replace(shown, std::regex("\033\\[[0-9]*[A-Za-z]|\r"), "");
    std::istringstream lines(plain);
    for (std::string line; std::getline(lines, line);) EXPECT_LT(line.size(), 40u) << line;
    EXPECT_NE(plain.find("Erase flash failed!"), std::string::npos);
  }
  // Wide enough, the transfer row tells the resends.
  EXPECT_NE(Shown(OutputMode::kTerminal, false, 120).find("2 resent, 0 timeouts"),
            std::string::npos);
}

}  // namespace
}  // namespace vn
