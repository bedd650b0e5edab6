#include <gtest/gtest.h>

#include "platform/module.h"
#include "qor/qortools.h"

using namespace qor::platform;

namespace {

// Loads QorTools the way a host does: by its Windows name, from beside the
// program, binding the export by its undecorated name.
class ComputeModuloTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = load_module("QorTools.dll");
    ASSERT_NE(module_, nullptr) << "QorTools could not be loaded by name";
    compute_ = reinterpret_cast<ComputeModuloFn>(find_symbol(module_, "ComputeModulo"));
    ASSERT_NE(compute_, nullptr) << "ComputeModulo is not exported under its plain name";
  }
  void TearDown() override { unload_module(module_); }

  ModuleHandle module_ = nullptr;
  ComputeModuloFn compute_ = nullptr;
};

struct Case {
  const char* text;
  std::int32_t modulus;
  std::int32_t expected;
};

TEST_F(ComputeModuloTest, Remainders) {
  const Case cases[] = {
      {"123", 7, 4},
      {"", 7, 0},
      {"0", 1, 0},
      {"18446744073709551615", 10, 5},  // 2^64 - 1, the largest exact value
      {"1234567890123456789", 1000, 789},
      {"18446744073709551616", 7, 0},   // 2^64 wraps to 0 (unwrapped it would give 2)
      {"12", -5, 12},                   // the modulus is read as 4294967291
      {"4294967294", -1, -2},           // the largest remainder comes back negative
      {"2147483648", -1, INT32_MIN},    // 2^31
      {"000123", 100, 23},
  };
  for (const auto& c : cases)
    EXPECT_EQ(compute_(c.text, c.modulus), c.expected) << '"' << c.text << "\" mod " << c.modulus;
}

TEST_F(ComputeModuloTest, BadInputGivesMinusOne) {
  const char* bad[] = {" 1", "1 ", "-1", "+1", "1.5", "1,000", "12a", "\t"};
  for (const char* text : bad) EXPECT_EQ(compute_(text, 7), -1) << '"' << text << '"';
  EXPECT_EQ(compute_(nullptr, 7), -1);
}

TEST_F(ComputeModuloTest, ZeroModulusIsBadInputNotACrash) {
  EXPECT_EQ(compute_("123", 0), -1);
  EXPECT_EQ(compute_("", 0), -1);
  EXPECT_EQ(compute_("x", 0), -1);
}

}  // namespace
