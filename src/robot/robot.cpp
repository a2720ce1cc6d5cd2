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

void Robot::ExecutePlan(unsigned int index, bool continue_exec, bool block_until_started) {
  pimpl_->ExecutePlan(index, continue_exec, block_until_started);
}
void Robot::ExecutePlan(const std::string& name, bool continue_exec, bool block_until_started) {
  pimpl_->ExecutePlan(name, continue_exec, block_until_started);
}
void Robot::PausePlan(bool toggle) { pimpl_->PausePlan(toggle); }
void Robot::StopPlan() { pimpl_->StopPlan(); }
std::vector<std::string> Robot::plan_list() const { return pimpl_->plan_list(); }
PlanInfo Robot::plan_info() const { return pimpl_->plan_info(); }
void Robot::SetBreakpointMode(bool is_enabled) { pimpl_->SetBreakpointMode(is_enabled); }
void Robot::StepBreakpoint() { pimpl_->StepBreakpoint(); }
void Robot::SetVelocityScale(unsigned int velocity_scale) {
  pimpl_->SetVelocityScale(velocity_scale);
}
void Robot::ExecutePrimitive(const std::map<JointGroup, PrimitiveArgs>& primitive_args,
                             bool block_until_started) {
  pimpl_->ExecutePrimitive(primitive_args, block_until_started);
}
std::map<JointGroup, PrimitiveStates> Robot::primitive_states() const {
  return pimpl_->primitive_states();
}
void Robot::SetGlobalVariables(const std::map<std::string, ParamValue>& global_vars) {
  pimpl_->SetGlobalVariables(global_vars);
}
std::map<std::string, ParamValue> Robot::global_variables() const {
  return pimpl_->global_variables();
}
void Robot::Home(const std::vector<JointGroup>& groups) { pimpl_->Home(groups); }

void Robot::SetJointImpedance(JointGroup group, const std::vector<double>& K_q,
                              const std::vector<double>& Z_q) {
  pimpl_->SetJointImpedance(group, K_q, Z_q);
}
void Robot::SetMaxContactTorque(JointGroup group, const std::vector<double>& max_torques) {
  pimpl_->SetMaxContactTorque(group, max_torques);
}
void Robot::SetJointInertiaScale(JointGroup group, const std::vector<double>& inertia_scales) {
  pimpl_->SetJointInertiaScale(group, inertia_scales);
}
void Robot::SetCartesianImpedance(JointGroup group, const std::array<double, kCartDoF>& K_x,
                                  const std::array<double, kCartDoF>& Z_x) {
  pimpl_->SetCartesianImpedance(group, K_x, Z_x);
}
void Robot::SetMaxContactWrench(JointGroup group, const std::array<double, kCartDoF>& max_wrench) {
  pimpl_->SetMaxContactWrench(group, max_wrench);
}
void Robot::SetNullSpacePosture(JointGroup group, const std::vector<double>& ref_positions) {
  pimpl_->SetNullSpacePosture(group, ref_positions);
}
void Robot::SetNullSpaceObjectives(JointGroup group, double linear_manipulability,
                                   double angular_manipulability, double ref_positions_tracking) {
  pimpl_->SetNullSpaceObjectives(group, linear_manipulability, angular_manipulability,
                                 ref_positions_tracking);
}
void Robot::SetForceControlAxis(JointGroup group, const std::array<bool, kCartDoF>& enabled_axes,
                                const std::array<double, 3>& max_linear_vel) {
  pimpl_->SetForceControlAxis(group, enabled_axes, max_linear_vel);
}
void Robot::SetForceControlFrame(JointGroup group, CoordType root_coord,
                                 const std::array<double, kPoseSize>& T_in_root) {
  pimpl_->SetForceControlFrame(group, root_coord, T_in_root);
}
void Robot::SetPassiveForceControl(JointGroup group, bool is_enabled) {
  pimpl_->SetPassiveForceControl(group, is_enabled);
}
void Robot::SetDigitalOutputs(const std::map<unsigned int, bool>& digital_outputs) {
  pimpl_->SetDigitalOutputs(digital_outputs);
}

}  // namespace korvo::vyr
