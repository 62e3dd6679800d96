#pragma once
// Each test file registers its QtTest class here; main runs them all, or the ones named on the
// command line (test_app JpegImageTest).
#include <QObject>
#include <functional>
#include <memory>
#include <vector>

namespace vn::testing {
inline std::vector<std::function<std::unique_ptr<QObject>()>> registeredTests;
}  // namespace vn::testing

#define VN_REGISTER_TEST(Class)                                                                    \
  [[maybe_unused]] static const bool registered##Class =                                           \
      (vn::testing::registeredTests.push_back([] { return std::unique_ptr<QObject>(new Class); }), \
       true);
