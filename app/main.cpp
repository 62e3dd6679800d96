// The program's entry: one copy per user and desktop, then the main window until Close or Exit.
#include <QApplication>

#include "app/form_main.h"
#include "app/instance_guard.h"
#include "app/program_identity.h"
#include "link/system_port.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QLatin1String(vn::kApplicationTitle));

  vn::InstanceGuard guard(vn::InstanceGuard::ServerNameFor(QLatin1String(vn::kApplicationTitle)));
  if (guard.Claim() == vn::InstanceGuard::Role::kHandedOver) return 0;

  // The folder of the executable, where the download's scratch file goes.
  vn::TFormMain window(vn::MakeSystemComPort(), QCoreApplication::applicationDirPath());
  QObject::connect(&guard, &vn::InstanceGuard::HandOverReceived, &window,
                   &vn::TFormMain::BringToFront);
  window.show();
  return QApplication::exec();
}
