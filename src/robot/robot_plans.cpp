// Plans, primitives and global variables: blocking exchanges with the robot's VYR server and, for
// plan information and primitive states, with its QEL server. Values travel as text.
#include <spdlog/spdlog.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <variant>

#include "robot/param_value_text.hpp"
#include "robot/robot_impl.hpp"

namespace korvo::vyr {
namespace {

using namespace std::chrono_literals;

constexpr std::uint16_t kOpListGlobalVariables = 12;
constexpr std::uint16_t kOpSetGlobalVariables = 13;
constexpr std::uint16_t kOpSetVelocityScale = 20;
constexpr std::uint16_t kOpExecutePrimitives = 21;
constexpr std::uint16_t kOpExecutePlan = 22;
constexpr std::uint16_t kOpListPlans = 23;
constexpr std::uint16_t kOpPausePlan = 24;
constexpr std::uint16_t kOpResumePlan = 25;
constexpr std::uint16_t kOpStopPlan = 26;
constexpr std::uint16_t kOpSetBreakpointMode = 27;
constexpr std::uint16_t kOpStepBreakpoint = 28;

// How long a started plan or primitive takes to load and start.
constexpr auto kStartWait = 300ms;
constexpr auto kHomePoll = 1s;
// Requests of primitive states until one arrives without an empty entry.
constexpr int kPrimitiveStateRequests = 6;
constexpr unsigned int kMaxVelocityScale = 100;
constexpr char kMarker[] = "jointGroup";
constexpr char kPrimitiveName[] = "primitiveName";
constexpr char kReachedTarget[] = "reachedTarget";

// The operational test of the commands that start motions; a lite instance sees no status.
void RequireOperational(const Robot::Impl& robot, const std::string& prefix) {
  if (!robot.lite() && !robot.operational()) {
    throw std::runtime_error(prefix + " " + robot.NotOperationalText());
  }
}

std::string NotSingleArm(const char* operation, JointGroup g) {
  return std::string("[korvo::vyr::Robot::") + operation + "] The specified joint group [" +
         Robot::Impl::GroupName(g) +
         "] is not an existing single-arm joint group in the connected robot";
}

void Deliver(vyr_impl::OperationsRPC& rpc, std::uint16_t op_code,
             const vyr_impl::OperationArgs& args, const std::string& failure) {
  if (!rpc.CallOperation(op_code, args).ok()) throw std::runtime_error(failure);
}

vyr_impl::OperationArgs Ints(std::int32_t value) {
  vyr_impl::OperationArgs args;
  args.ints = {value};
  return args;
}

// The text after the first '=' of "name = value", and the name: the text before it without its
// last character (the blank). Nothing when the entry has no name.
std::optional<std::pair<std::string, std::string>> SplitAssignment(const std::string& entry) {
  const auto pos = entry.find('=');
  if (pos == std::string::npos || pos == 0) return std::nullopt;
  return std::pair{entry.substr(0, pos - 1), entry.substr(pos + 1)};
}

[[noreturn]] void PrimitiveStatesError(const std::string& what) {
  throw std::runtime_error("[korvo::vyr::Robot::primitive_states] " + what);
}

}  // namespace

// ---- plans ----

void Robot::Impl::ExecutePlan(unsigned int index, bool continue_exec, bool block_until_started) {
  const auto plans = plan_list();
  if (index >= plans.size()) {
    throw std::invalid_argument(
        "[korvo::vyr::Robot::ExecutePlan] Input parameter [index] is outside the valid range");
  }
  ExecutePlan(plans[index], continue_exec, block_until_started);
}

void Robot::Impl::ExecutePlan(const std::string& name, bool continue_exec,
                              bool block_until_started) {
  constexpr char kPrefix[] = "[korvo::vyr::Robot::ExecutePlan]";
  RequireOperational(*this, kPrefix);
  RequireMode(kPrefix, {Mode::NRT_PLAN_EXECUTION});
  vyr_impl::OperationArgs args = Ints(continue_exec ? 1 : 0);
  args.strings = {name};
  Deliver(client->operations_rpc(), kOpExecutePlan, args,
          std::string(kPrefix) + " Failed to deliver the request");
  if (block_until_started) std::this_thread::sleep_for(kStartWait);
}

void Robot::Impl::PausePlan(bool toggle) {
  constexpr char kPrefix[] = "[korvo::vyr::Robot::PausePlan]";
  RequireMode(kPrefix, {Mode::NRT_PLAN_EXECUTION});
  Deliver(
      client->operations_rpc(), toggle ? kOpPausePlan : kOpResumePlan, {},
      std::string(kPrefix) + " Failed to execute " + (toggle ? "pause" : "resume") + " request");
}

void Robot::Impl::StopPlan() {
  constexpr char kPrefix[] = "[korvo::vyr::Robot::StopPlan]";
  RequireMode(kPrefix, {Mode::NRT_PLAN_EXECUTION});
  Deliver(client->operations_rpc(), kOpStopPlan, {},
          std::string(kPrefix) + " Failed to deliver the request");
}

std::vector<std::string> Robot::Impl::plan_list() const {
  std::vector<std::string> plans;
  if (!client->operations_rpc().GetStringList(kOpListPlans, plans).ok()) {
    throw std::runtime_error("[korvo::vyr::Robot::plan_list] No reply from the robot");
  }
  return plans;
}

PlanInfo Robot::Impl::plan_info() const {
  constexpr char kPrefix[] = "[korvo::vyr::Robot::plan_info]";
  RequireMode(kPrefix, {Mode::NRT_PLAN_EXECUTION});
  PlanInfo info;
  if (!client->qel_data_rpc().GetPlanInfo(info).ok()) {
    throw std::runtime_error(std::string(kPrefix) + " No reply from the robot");
  }
  return info;
}

void Robot::Impl::SetBreakpointMode(bool is_enabled) {
  constexpr char kPrefix[] = "[korvo::vyr::Robot::SetBreakpointMode]";
  RequireMode(kPrefix, {Mode::NRT_PLAN_EXECUTION});
  Deliver(client->operations_rpc(), kOpSetBreakpointMode, Ints(is_enabled ? 1 : 0),
          std::string(kPrefix) + " Failed to deliver the request");
}

void Robot::Impl::StepBreakpoint() {
  constexpr char kPrefix[] = "[korvo::vyr::Robot::StepBreakpoint]";
  RequireMode(kPrefix, {Mode::NRT_PLAN_EXECUTION});
  Deliver(client->operations_rpc(), kOpStepBreakpoint, {},
          std::string(kPrefix) + " Failed to deliver the request");
}

void Robot::Impl::SetVelocityScale(unsigned int velocity_scale) {
  constexpr char kPrefix[] = "[korvo::vyr::Robot::SetVelocityScale]";
  RequireMode(kPrefix, {Mode::NRT_PLAN_EXECUTION, Mode::NRT_PRIMITIVE_EXECUTION});
  if (velocity_scale > kMaxVelocityScale) {
    throw std::invalid_argument(std::string(kPrefix) +
                                " Input parameter [velocity_scale] cannot exceed 100%");
  }
  Deliver(client->operations_rpc(), kOpSetVelocityScale,
          Ints(static_cast<std::int32_t>(velocity_scale)),
          std::string(kPrefix) + " Failed to deliver the request");
}

// ---- primitives ----

void Robot::Impl::ExecutePrimitive(const std::map<JointGroup, PrimitiveArgs>& primitive_args,
                                   bool block_until_started) {
  constexpr char kPrefix[] = "[korvo::vyr::Robot::ExecutePrimitive]";
  RequireOperational(*this, kPrefix);
  RequireMode(kPrefix, {Mode::NRT_PRIMITIVE_EXECUTION});
  // One entry per group in each of the four lists.
  vyr_impl::OperationArgs args;
  for (const auto& [g, primitive] : primitive_args) {
    if (!IsSingleArm(g)) throw std::invalid_argument(NotSingleArm("ExecutePrimitive", g));
    args.joint_groups.push_back(g);
    args.bools.push_back(primitive.external_axis_control);
    args.ints.push_back(static_cast<std::int32_t>(primitive.sync_motion_mode));
    args.strings.push_back(primitive.pt_name + "(" +
                           vyr_impl::EncodeAssignments(primitive.input_params) + ")");
  }
  Deliver(client->operations_rpc(), kOpExecutePrimitives, args,
          std::string(kPrefix) + " Failed to deliver the request");
  if (block_until_started) std::this_thread::sleep_for(kStartWait);
}

std::map<JointGroup, PrimitiveStates> Robot::Impl::primitive_states() const {
  // A reply with an empty entry is a glitch of the robot: ask again.
  std::vector<std::string> entries;
  for (int request = 1;; ++request) {
    if (!client->qel_data_rpc().GetPrimitiveStates(entries).ok()) {
      PrimitiveStatesError("No reply from the robot");
    }
    if (std::none_of(entries.begin(), entries.end(), [](const auto& e) { return e.empty(); })) {
      break;
    }
    if (request == kPrimitiveStateRequests) {
      PrimitiveStatesError("Still received corrupted data after several attempts");
    }
  }

  // Each group's entries begin with its "jointGroup = g" marker.
  std::map<JointGroup, std::vector<std::string>> grouped;
  std::vector<std::string>* current = nullptr;
  for (const auto& entry : entries) {
    if (entry.rfind(kMarker, 0) != 0) {
      if (current == nullptr) {
        PrimitiveStatesError("Malformed primitive states: missing jointGroup marker");
      }
      current->push_back(entry);
      continue;
    }
    const auto pos = entry.find('=');
    if (pos == std::string::npos || pos == 0) {
      PrimitiveStatesError("Malformed primitive state entry");
    }
    const auto g = static_cast<JointGroup>(std::stoi(entry.substr(pos + 1)));
    if (info_.all_groups.count(g) == 0) {
      PrimitiveStatesError("Received primitive states for unknown joint group");
    }
    if (grouped.count(g) != 0) {
      PrimitiveStatesError("Duplicate primitive states for a joint group");
    }
    current = &grouped[g];
    current->push_back(entry);
  }

  std::map<JointGroup, PrimitiveStates> result;
  for (const auto& [g, group_entries] : grouped) {
    std::map<std::string, ParamValue> values;
    for (const auto& entry : group_entries) {
      auto assignment = SplitAssignment(entry);
      if (!assignment) PrimitiveStatesError("Malformed primitive state entry");
      values.emplace(std::move(assignment->first),
                     vyr_impl::ParseReportedValue(assignment->second));
    }
    const auto marker = values.find(kMarker);
    const auto name = values.find(kPrimitiveName);
    if (marker == values.end() || name == values.end()) {
      PrimitiveStatesError("Malformed primitive states: jointGroup or primitiveName missing");
    }
    const auto* marked = std::get_if<int>(&marker->second);
    if (marked == nullptr || *marked != static_cast<int>(g)) {
      PrimitiveStatesError("Inconsistent joint group in primitive states");
    }
    const auto* pt_name = std::get_if<std::string>(&name->second);
    if (pt_name == nullptr) {
      PrimitiveStatesError("Malformed primitive states: [" + std::string(kPrimitiveName) +
                           "] does not hold a single word");
    }
    PrimitiveStates states{*pt_name, {}};
    values.erase(marker);
    values.erase(name);
    states.names_and_values = std::move(values);
    result.emplace(g, std::move(states));
  }
  return result;
}

// ---- global variables ----

void Robot::Impl::SetGlobalVariables(const std::map<std::string, ParamValue>& global_vars) {
  constexpr char kPrefix[] = "[korvo::vyr::Robot::SetGlobalVariables]";
  if (global_vars.empty()) {
    throw std::length_error(std::string(kPrefix) + " Input map [global_vars] is empty");
  }
  const auto existing = global_variables();
  for (const auto& [name, value] : global_vars) {
    if (existing.count(name) == 0) {
      throw std::invalid_argument(std::string(kPrefix) + " The specified global variable [" + name +
                                  "] does not exist");
    }
  }
  vyr_impl::OperationArgs args;
  args.strings = {vyr_impl::EncodeAssignments(global_vars)};
  Deliver(client->operations_rpc(), kOpSetGlobalVariables, args,
          std::string(kPrefix) + " Failed to deliver the request");
}

std::map<std::string, ParamValue> Robot::Impl::global_variables() const {
  std::vector<std::string> texts;
  if (!client->operations_rpc().GetStringList(kOpListGlobalVariables, texts).ok()) {
    throw std::runtime_error("[korvo::vyr::Robot::global_variables] No reply from the robot");
  }
  std::map<std::string, ParamValue> variables;
  for (const auto& text : texts) {
    auto assignment = SplitAssignment(text);
    // The robot writes "name = value"; a text without a name names no variable.
    if (!assignment) {
      spdlog::debug("[korvo::vyr::Robot::global_variables] Ignored a text without a name: [{}]",
                    text);
      continue;
    }
    if (variables.count(assignment->first) != 0) continue;
    variables.emplace(std::move(assignment->first),
                      vyr_impl::ParseReportedValue(assignment->second));
  }
  return variables;
}

// ---- home ----

void Robot::Impl::Home(const std::vector<JointGroup>& groups) {
  const Mode previous = mode();
  std::vector<JointGroup> targets;
  if (groups.empty()) {
    for (const auto& [g, name] : info_.single_arm_groups) targets.push_back(g);
  } else {
    for (const JointGroup g : groups) {
      if (!IsSingleArm(g)) throw std::invalid_argument(NotSingleArm("Home", g));
    }
    targets = groups;
  }

  SwitchMode(Mode::NRT_PRIMITIVE_EXECUTION);
  std::map<JointGroup, PrimitiveArgs> args;
  for (const JointGroup g : targets) {
    PrimitiveArgs home("Home", {});
    home.external_axis_control = true;
    home.sync_motion_mode = SyncMotionMode::DISABLE;
    args.emplace(g, std::move(home));
  }
  ExecutePrimitive(args, true);

  const auto reached = [](const PrimitiveStates& states) {
    const auto it = states.names_and_values.find(kReachedTarget);
    if (it == states.names_and_values.end()) return false;
    const auto* flag = std::get_if<int>(&it->second);
    return flag != nullptr && *flag != 0;
  };
  for (;;) {
    const auto states = primitive_states();
    if (std::all_of(states.begin(), states.end(),
                    [&](const auto& entry) { return reached(entry.second); })) {
      break;
    }
    std::this_thread::sleep_for(kHomePoll);
  }
  SwitchMode(previous);
}

}  // namespace korvo::vyr
