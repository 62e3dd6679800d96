// Runs every registered QtTest class; arguments that name classes pick those, the others are
// passed to QtTest (-v2, -o ...).
#include <QApplication>
#include <QTest>

#include "test_registry.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QStringList chosen;
  QStringList testArguments{QString::fromLocal8Bit(argv[0])};
  for (int i = 1; i < argc; ++i) {
    const QString argument = QString::fromLocal8Bit(argv[i]);
    (argument.endsWith(QLatin1String("Test")) ? chosen : testArguments).append(argument);
  }
  int failures = 0;
  for (const auto& factory : vn::testing::registeredTests) {
    const std::unique_ptr<QObject> test = factory();
    if (chosen.isEmpty() || chosen.contains(QLatin1String(test->metaObject()->className())))
      failures += QTest::qExec(test.get(), testArguments);
  }
  return failures == 0 ? 0 : 1;
}
