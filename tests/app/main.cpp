// Runs every registered QtTest class; the arguments go to each (-v2, -o ...).
#include <QApplication>
#include <QTest>

#include "test_registry.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  int failures = 0;
  for (const auto& factory : vn::testing::registeredTests)
    failures += QTest::qExec(factory().get(), argc, argv);
  return failures == 0 ? 0 : 1;
}
