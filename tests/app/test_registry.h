#pragma once
// Each test file registers its QtTest class here; main runs them all, or the ones named on the
// command line (test_app JpegImageTest).
#include <QObject>
#include <functional>
#include <memory>
#include <vector>

namespace vn::testing {

using TestFactory = std::function<std::unique_ptr<QObject>()>;

inline std::vector<TestFactory>& RegisteredTests() {
  static std::vector<TestFactory> tests;
  return tests;
}

inline bool RegisterTest(TestFactory factory) {
  RegisteredTests().push_back(std::move(factory));
  return true;
}

}  // namespace vn::testing

#define VN_REGISTER_TEST(Class)                          \
  [[maybe_unused]] static const bool registered##Class = \
      vn::testing::RegisterTest([] { return std::unique_ptr<QObject>(new Class); });
