// The command line's status output, fed with events as a run reports them.
#include "cli/console_observer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "link/link_message.h"

namespace vn {
namespace {

std::string Shown(bool interactive) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::tmpfile(), &std::fclose);
  {
    ConsoleObserver console(out.get(), interactive);
    console.OnEvent(MessageEvent(kMsgTransfer));
    console.OnEvent(PercentEvent(Phase::kTransfer, 1, 3));
    console.OnEvent(PercentEvent(Phase::kTransfer, 3, 3));
    console.OnEvent(MessageEvent(kMsgTransferSuccess));
    console.OnEvent(PercentEvent(Phase::kErase, 1, 2));
    console.OnEvent(MessageEvent(kMsgEraseFailed));
    EXPECT_EQ(console.LastStatus(), "Erase flash failed!");
  }
  std::string text(4096, '\0');
  std::rewind(out.get());
  text.resize(std::fread(text.data(), 1, text.size(), out.get()));
  return text;
}

TEST(ConsoleObserver, PlainLinesForAPipeAndOneProgressLinePerPhaseOnATerminal) {
  EXPECT_EQ(Shown(false),
            "Transfer...\nTransfering Data:  33%\nTransfering Data:  100%\nTransfer Success!\n"
            "Erase flash...  50%\nErase flash failed!\n");
  EXPECT_EQ(Shown(true),
            "Transfer...\n"
            "\r\033[KTransfering Data: [#######.................]  33%"
            "\r\033[KTransfering Data: [########################] 100%\n"
            "Transfer Success!\n"
            "\r\033[KErase flash... [############............]  50%\n"
            "Erase flash failed!\n");
}

}  // namespace
}  // namespace vn
