// Binding of Robot operations, shared by the sources that bind the class Robot.
#pragma once

#include <memory>
#include <utility>

#include "bind_data.hpp"
#include "korvo/vyr/robot.hpp"

namespace korvo::vyr_py {

using RobotClass = py::class_<vyr::Robot, std::shared_ptr<vyr::Robot>>;

// Binds a Robot operation through the pointer to its object, checked before use.
template <typename Ret, typename... Args>
auto Method(Ret (vyr::Robot::*operation)(Args...) const) {
  return [operation](const vyr::Robot* self, Args... args) -> Ret {
    return (LiveRobot(*self).*operation)(std::forward<Args>(args)...);
  };
}

template <typename Ret, typename... Args>
auto Method(Ret (vyr::Robot::*operation)(Args...)) {
  return [operation](vyr::Robot* self, Args... args) -> Ret {
    return (LiveRobot(*self).*operation)(std::forward<Args>(args)...);
  };
}

// The operations of each family, registered by BindRobot at their places in the class.
void DefRobotHome(RobotClass& cls);           // Home
void DefRobotPlans(RobotClass& cls);          // SetVelocityScale ... global_variables
void DefRobotPrimitives(RobotClass& cls);     // SetBreakpointMode ... primitive_states
void DefRobotJointSettings(RobotClass& cls);  // SetJointImpedance ... SetJointInertiaScale
void DefRobotCartesianSettings(
    RobotClass& cls);                     // SetCartesianImpedance ... SetPassiveForceControl
void DefRobotDigitalIo(RobotClass& cls);  // SetDigitalOutputs, digital_inputs, digital_outputs

}  // namespace korvo::vyr_py
