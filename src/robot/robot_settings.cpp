// Placeholder until the controller settings land: every operation reports that it is not available.
#include <stdexcept>

#include "robot/robot_impl.hpp"

namespace korvo::vyr {

namespace {
[[noreturn]] void NotYet() { throw std::logic_error("[korvo::vyr::Robot] Not available yet"); }
}  // namespace

void Robot::Impl::SetJointImpedance(JointGroup, const std::vector<double>&,
                                    const std::vector<double>&) {
  NotYet();
}
void Robot::Impl::SetMaxContactTorque(JointGroup, const std::vector<double>&) { NotYet(); }
void Robot::Impl::SetJointInertiaScale(JointGroup, const std::vector<double>&) { NotYet(); }
void Robot::Impl::SetCartesianImpedance(JointGroup, const std::array<double, kCartDoF>&,
                                        const std::array<double, kCartDoF>&) {
  NotYet();
}
void Robot::Impl::SetMaxContactWrench(JointGroup, const std::array<double, kCartDoF>&) { NotYet(); }
void Robot::Impl::SetNullSpacePosture(JointGroup, const std::vector<double>&) { NotYet(); }
void Robot::Impl::SetNullSpaceObjectives(JointGroup, double, double, double) { NotYet(); }
void Robot::Impl::SetForceControlAxis(JointGroup, const std::array<bool, kCartDoF>&,
                                      const std::array<double, 3>&) {
  NotYet();
}
void Robot::Impl::SetForceControlFrame(JointGroup, CoordType,
                                       const std::array<double, kPoseSize>&) {
  NotYet();
}
void Robot::Impl::SetPassiveForceControl(JointGroup, bool) { NotYet(); }
void Robot::Impl::SetDigitalOutputs(const std::map<unsigned int, bool>&) { NotYet(); }

}  // namespace korvo::vyr
