// The simulated robot's global variables take "a = 1, b = 2" assignments as a whole or not at
// all, and no text a peer sends, however long or odd, makes the parse fail other than by refusing.
#include "sim/global_variables.hpp"

#include <gtest/gtest.h>

#include <string>

namespace korvo::sim {
namespace {

struct AssignCase {
  std::string name;
  std::string text;
  bool accepted;
  std::string cycle_count, station_name;  // after the assignment
};

TEST(GlobalVariablesTest, AssignmentsApplyWholeOrNotAtAll) {
  const std::string long_value(16000, 'x');
  const AssignCase cases[] = {
      {"two", "cycle_count = 42, station_name = cell_b", true, "42", "cell_b"},
      {"unknown name", "cycle_count = 7, no_such = 1", false, "0", "cell_a"},
      {"leading blank", " cycle_count = 7", false, "0", "cell_a"},
      {"one character before the name", "xcycle_count = 7", false, "0", "cell_a"},
      {"no assignment", "cycle_count", false, "0", "cell_a"},
      {"empty", "", false, "0", "cell_a"},
      {"a long string", "station_name = " + long_value, true, "0", long_value},
      {"a long name", std::string(16000, 'n') + " = 1", false, "0", "cell_a"},
      {"many separators", std::string(16000, ','), false, "0", "cell_a"},
  };
  for (const auto& c : cases) {
    GlobalVariables variables;
    EXPECT_EQ(variables.Assign(c.text), c.accepted) << c.name;
    EXPECT_EQ(variables.Value("cycle_count"), c.cycle_count) << c.name;
    EXPECT_EQ(variables.Value("station_name"), c.station_name) << c.name;
  }
}

}  // namespace
}  // namespace korvo::sim
