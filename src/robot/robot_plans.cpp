// Placeholder until plans, primitives and global variables land: every operation reports that it is
// not available.
#include <stdexcept>

#include "robot/robot_impl.hpp"

namespace korvo::vyr {

namespace {
[[noreturn]] void NotYet() { throw std::logic_error("[korvo::vyr::Robot] Not available yet"); }
}  // namespace

void Robot::Impl::ExecutePlan(unsigned int, bool, bool) { NotYet(); }
void Robot::Impl::ExecutePlan(const std::string&, bool, bool) { NotYet(); }
void Robot::Impl::PausePlan(bool) { NotYet(); }
void Robot::Impl::StopPlan() { NotYet(); }
std::vector<std::string> Robot::Impl::plan_list() const { NotYet(); }
PlanInfo Robot::Impl::plan_info() const { NotYet(); }
void Robot::Impl::SetBreakpointMode(bool) { NotYet(); }
void Robot::Impl::StepBreakpoint() { NotYet(); }
void Robot::Impl::SetVelocityScale(unsigned int) { NotYet(); }
void Robot::Impl::ExecutePrimitive(const std::map<JointGroup, PrimitiveArgs>&, bool) { NotYet(); }
std::map<JointGroup, PrimitiveStates> Robot::Impl::primitive_states() const { NotYet(); }
void Robot::Impl::SetGlobalVariables(const std::map<std::string, ParamValue>&) { NotYet(); }
std::map<std::string, ParamValue> Robot::Impl::global_variables() const { NotYet(); }
void Robot::Impl::Home(const std::vector<JointGroup>&) { NotYet(); }

}  // namespace korvo::vyr
