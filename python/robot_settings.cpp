// Placeholder until the controller settings and digital I/O are bound.
#include "robot_method.hpp"

namespace korvo::vyr_py {

void DefRobotJointSettings(RobotClass&) {}
void DefRobotCartesianSettings(RobotClass&) {}
void DefRobotDigitalIo(RobotClass&) {}

}  // namespace korvo::vyr_py
