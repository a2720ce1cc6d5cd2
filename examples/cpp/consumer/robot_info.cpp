// Connects to a robot and prints what it is, its status and where its joints are.
//
//   robot_info SERIAL_NUMBER
#include <cstdio>
#include <exception>

#include "korvo/vyr/vyr.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s SERIAL_NUMBER\n", argv[0]);
    return 2;
  }
  try {
    korvo::vyr::Robot robot(argv[1], false);
    const korvo::vyr::RobotInfo info = robot.info();
    std::printf("%s %s, software %s, %s\n",
                korvo::vyr::kProductModelNames.at(info.product_model).c_str(),
                info.serial_num.c_str(), info.software_ver.c_str(),
                korvo::vyr::kOpStatusNames.at(robot.operational_status()).c_str());
    for (const auto& [group, states] : robot.states()) {
      if (info.single_arm_groups.count(group) == 0) continue;
      std::printf("%s q [rad]:", korvo::vyr::kJointGroupNames.at(group).c_str());
      for (double q : states.q) std::printf(" %.3f", q);
      std::printf("\n");
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
