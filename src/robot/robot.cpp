#include "korvo/vyr/robot.hpp"

#include "robot/robot_impl.hpp"

namespace korvo::vyr {

Robot::Robot(const std::string& robot_sn, bool verbose, bool lite)
    : pimpl_(std::make_unique<Impl>(robot_sn, verbose, lite)) {}

Robot::~Robot() = default;

bool Robot::lite() const { return pimpl_->lite(); }
bool Robot::connected() const { return pimpl_->connected(); }
RobotInfo Robot::info() const { return pimpl_->info(); }
Mode Robot::mode() const { return pimpl_->mode(); }
std::map<JointGroup, RobotStates> Robot::states() const { return pimpl_->states(); }
std::map<JointGroup, RobotActions> Robot::actions() const { return pimpl_->actions(); }
std::map<JointGroup, bool> Robot::stopped() const { return pimpl_->stopped(); }
bool Robot::all_stopped() const { return pimpl_->all_stopped(); }
bool Robot::operational() const { return pimpl_->operational(); }
OperationalStatus Robot::operational_status() const { return pimpl_->operational_status(); }
bool Robot::busy() const { return pimpl_->busy(); }
bool Robot::fault() const { return pimpl_->fault(); }
bool Robot::reduced() const { return pimpl_->reduced(); }
bool Robot::recovery() const { return pimpl_->recovery(); }
bool Robot::estop_released() const { return pimpl_->estop_released(); }
bool Robot::enabling_device_on() const { return pimpl_->enabling_device_on(); }
bool Robot::reached_timeliness_failure_limit() const {
  return pimpl_->reached_timeliness_failure_limit();
}
std::vector<RobotEvent> Robot::event_log() const { return pimpl_->event_log(); }
std::array<bool, kIOPorts> Robot::digital_inputs() const { return pimpl_->digital_inputs(); }
std::array<bool, kIOPorts> Robot::digital_outputs() const { return pimpl_->digital_outputs(); }

void Robot::ServoOn() { pimpl_->ServoOn(); }
void Robot::Brake(bool engage) { pimpl_->Brake(engage); }
void Robot::SwitchMode(Mode mode) { pimpl_->SwitchMode(mode); }
void Robot::Stop() { pimpl_->SwitchMode(Mode::IDLE); }
bool Robot::ClearFault(unsigned int timeout_sec) { return pimpl_->ClearFault(timeout_sec); }

void Robot::StreamJointTorque(const std::map<JointGroup, RtJointTorqueCmd>& cmds) {
  pimpl_->StreamJointTorque(cmds);
}
void Robot::StreamJointPosition(const std::map<JointGroup, RtJointPositionCmd>& cmds) {
  pimpl_->StreamJointPosition(cmds);
}
void Robot::StreamCartesianMotionForce(const std::map<JointGroup, RtCartesianCmd>& cmds) {
  pimpl_->StreamCartesianMotionForce(cmds);
}
void Robot::SetTimelinessFailureLimit(double percentage) {
  pimpl_->SetTimelinessFailureLimit(percentage);
}
void Robot::SendJointPosition(const std::map<JointGroup, NrtJointPositionCmd>& cmds) {
  pimpl_->SendJointPosition(cmds);
}
void Robot::SendCartesianMotionForce(const std::map<JointGroup, NrtCartesianCmd>& cmds) {
  pimpl_->SendCartesianMotionForce(cmds);
}
void Robot::SendCartesianMotionForceMultiWaypoint(
    const std::map<JointGroup, NrtCartesianMultiWaypointCmd>& cmds) {
  pimpl_->SendCartesianMotionForceMultiWaypoint(cmds);
}

}  // namespace korvo::vyr
