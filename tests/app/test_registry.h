#pragma once
// Each test file registers its QtTest class here, and main runs them all.
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
