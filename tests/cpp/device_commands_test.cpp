// The wire form of typed device commands: tags, parallel int and float slots, device name last.
#include "interfaces/device_commands.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <string>
#include <vector>

namespace korvo::vyr_impl {
namespace {

using Commands = std::map<std::string, vyr::DeviceCommandValue>;

struct EncodingCase {
  const char* name;
  Commands commands;
  std::vector<std::int32_t> ints;
  std::vector<float> floats;
  std::vector<std::string> strings;
};

class DeviceCommandEncodingTest : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(DeviceCommandEncodingTest, FillsOneSlotPerCommandInNameOrder) {
  const auto& c = GetParam();
  const auto args = EncodeDeviceCommands("Conveyor0", c.commands);
  EXPECT_EQ(args.ints, c.ints);
  EXPECT_EQ(args.floats, c.floats);
  EXPECT_EQ(args.strings, c.strings);
  EXPECT_TRUE(args.joint_groups.empty());
  EXPECT_TRUE(args.bools.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeviceCommandEncodingTest,
    ::testing::Values(EncodingCase{"BoolAndInt",
                                   {{"setSpeed", 6000}, {"openLaser", true}},
                                   {1, 6000},
                                   {0.0f, 0.0f},
                                   {"openLaser<bool>", "setSpeed<int>", "Conveyor0"}},
                      EncodingCase{"DoubleNarrowedToFloat",
                                   {{"rampTime", 0.1}},
                                   {0},
                                   {0.1f},
                                   {"rampTime<double>", "Conveyor0"}},
                      EncodingCase{"FalseAndNegativeInt",
                                   {{"run", false}, {"offset", -7}, {"gain", -2.5}},
                                   {0, -7, 0},
                                   {-2.5f, 0.0f, 0.0f},
                                   {"gain<double>", "offset<int>", "run<bool>", "Conveyor0"}},
                      EncodingCase{
                          "IntExtremesKeepTheirBits",
                          {{"a", std::numeric_limits<int>::min()},
                           {"b", std::numeric_limits<int>::max()}},
                          {std::numeric_limits<int>::min(), std::numeric_limits<int>::max()},
                          {0.0f, 0.0f},
                          {"a<int>", "b<int>", "Conveyor0"}},
                      EncodingCase{"EmptyMapSendsOnlyTheDeviceName", {}, {}, {}, {"Conveyor0"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korvo::vyr_impl
