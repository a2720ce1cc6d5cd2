// Placeholder until plans, primitives and global variables are bound.
#include "robot_method.hpp"

namespace korvo::vyr_py {

void DefRobotHome(RobotClass&) {}
void DefRobotPlans(RobotClass&) {}
void DefRobotPrimitives(RobotClass&) {}

}  // namespace korvo::vyr_py
