// Gripper ranges: parsing them from device parameters, the range check and the margin clamp.
#include "interfaces/gripper_ranges.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvo::vyr_impl {
namespace {

using Params = std::map<std::string, vyr::DeviceParamValue>;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Params GoodParams() {
  return {{"maxWidth", 0.1},
          {"minWidth", 0.0},
          {"maxForce", 80.0},
          {"minForce", -80.0},
          {"maxVel", 0.2},
          {"minVel", 0.001},
          {"model", std::string("KG-100")},
          {"forceSensing", 1}};
}

TEST(ParseGripperParamsTest, ReadsTheSixRangesAndTheName) {
  const auto params = ParseGripperParams("Gripper1", GoodParams());
  ASSERT_TRUE(params.has_value());
  EXPECT_EQ(params->name, "Gripper1");
  EXPECT_EQ(params->max_width, 0.1);
  EXPECT_EQ(params->min_width, 0.0);
  EXPECT_EQ(params->max_force, 80.0);
  EXPECT_EQ(params->min_force, -80.0);
  EXPECT_EQ(params->max_vel, 0.2);
  EXPECT_EQ(params->min_vel, 0.001);
}

struct BadParam {
  const char* name;
  const char* key;
  std::optional<vyr::DeviceParamValue> value;  // nothing: the key is missing
};

class ParseGripperParamsFailureTest : public ::testing::TestWithParam<BadParam> {};

TEST_P(ParseGripperParamsFailureTest, RefusesTheWholeRecord) {
  auto params = GoodParams();
  if (GetParam().value) {
    params[GetParam().key] = *GetParam().value;
  } else {
    params.erase(GetParam().key);
  }
  EXPECT_FALSE(ParseGripperParams("Gripper1", params).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseGripperParamsFailureTest,
    ::testing::Values(BadParam{"MissingMinVel", "minVel", std::nullopt},
                      BadParam{"IntegerMinVel", "minVel", vyr::DeviceParamValue(0)},
                      BadParam{"StringMaxWidth", "maxWidth", vyr::DeviceParamValue("0.1")},
                      BadParam{"ListMaxForce", "maxForce",
                               vyr::DeviceParamValue(std::vector<double>{80.0})},
                      BadParam{"NaNMinWidth", "minWidth", vyr::DeviceParamValue(kNaN)},
                      BadParam{"InfiniteMaxVel", "maxVel", vyr::DeviceParamValue(kInf)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WithinRangeTest, IncludesBothEndsAndRefusesNaN) {
  EXPECT_TRUE(WithinRange(-80.0, -80.0, 80.0));
  EXPECT_TRUE(WithinRange(80.0, -80.0, 80.0));
  EXPECT_FALSE(WithinRange(std::nextafter(80.0, kInf), -80.0, 80.0));
  EXPECT_FALSE(WithinRange(std::nextafter(-80.0, -kInf), -80.0, 80.0));
  EXPECT_FALSE(WithinRange(kNaN, -80.0, 80.0));
  EXPECT_FALSE(WithinRange(kInf, -80.0, 80.0));
  EXPECT_FALSE(WithinRange(-kInf, -80.0, 80.0));
}

struct ClampCase {
  const char* name;
  double v, lo, hi, expected;
};

class ClampIntoMarginTest : public ::testing::TestWithParam<ClampCase> {};

TEST_P(ClampIntoMarginTest, StaysInsideTheRange) {
  const auto& c = GetParam();
  const double sent = ClampIntoMargin(c.v, c.lo, c.hi);
  EXPECT_DOUBLE_EQ(sent, c.expected);
  EXPECT_GE(sent, c.lo);
  EXPECT_LE(sent, c.hi);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ClampIntoMarginTest,
    ::testing::Values(ClampCase{"AtMaximum", 80.0, -80.0, 80.0, 80.0 - 1e-4},
                      ClampCase{"AtMinimum", -80.0, -80.0, 80.0, -80.0 + 1e-4},
                      ClampCase{"InsideUnchanged", 12.5, -80.0, 80.0, 12.5},
                      ClampCase{"JustInsideTheMargin", 0.09995, 0.0, 0.1, 0.1 - 1e-4},
                      ClampCase{"EmptyRangeSendsItsOnlyValue", 20.0, 20.0, 20.0, 20.0},
                      ClampCase{"NarrowRangeSendsTheMidpoint", 1.0, 1.0, 1.00015, 1.000075}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korvo::vyr_impl
