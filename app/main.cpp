// The program's entry: one copy per user and desktop, then the main window until Close or Exit.
#include <QApplication>
#include <cstdio>

#include "app/command_line.h"
#include "app/form_main.h"
#include "app/instance_guard.h"
#include "form/program_identity.h"
#include "link/system_port.h"

namespace {

std::vector<std::string> ArgumentsOf(int argc, char* argv[]) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

int Answer(const vn::CommandLineAnswer& answer) {
  std::fputs(answer.out.c_str(), stdout);
  std::fputs(answer.err.c_str(), stderr);
  return answer.exitCode;
}

}  // namespace

int main(int argc, char* argv[]) {
  // --help and --version work without a desktop, so they are answered before Qt needs one.
  if (const auto answer = vn::AnswerCommandLine(ArgumentsOf(argc, argv), false)) {
    return Answer(*answer);
  }
  QApplication application(argc, argv);  // takes Qt's own options out of argv
  if (const auto answer = vn::AnswerCommandLine(ArgumentsOf(argc, argv), true)) {
    return Answer(*answer);
  }
  QApplication::setApplicationName(QLatin1String(vn::kApplicationTitle));
  // Wayland docks find the icon through the installed desktop entry; X11 ones use StartupWMClass.
  QGuiApplication::setDesktopFileName(QStringLiteral("vespanode"));

  vn::InstanceGuard guard(vn::InstanceGuard::ServerNameFor(QLatin1String(vn::kApplicationTitle)));
  if (guard.Claim() == vn::InstanceGuard::Role::kHandedOver) return 0;

  // The folder of the executable, where the download's scratch file goes.
  vn::TFormMain window(vn::MakeSystemComPort(), QCoreApplication::applicationDirPath());
  QObject::connect(&guard, &vn::InstanceGuard::HandOverReceived, &window,
                   &vn::TFormMain::BringToFront);
  window.show();
  return QApplication::exec();
}
