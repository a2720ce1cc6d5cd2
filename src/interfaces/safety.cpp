#include "korvo/vyr/safety.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

#include "interfaces/safety_defaults.hpp"
#include "korvo/vyr/name_tables.hpp"
#include "robot/robot_access.hpp"
#include "robot/robot_impl.hpp"

namespace korvo::vyr {
namespace {

constexpr std::uint16_t kOpPositionLimits = 100;
constexpr std::uint16_t kOpVelocityNormalLimits = 101;
constexpr std::uint16_t kOpVelocityReducedLimits = 102;
constexpr std::uint16_t kOpTorqueRegulator = 103;
// The safety state the robot reports while its reduced limits apply.
constexpr std::int16_t kReducedSafetyState = 10;

// Set up once when the library is loaded; compared byte for byte, never logged.
const std::string kPassword = "KVsafe";

std::string Prefix(const char* operation) {
  return std::string("[korvo::vyr::Safety::") + operation + "] ";
}

std::string ProductModelName(ProductModel model) {
  const auto it = kProductModelNames.find(model);
  return it == kProductModelNames.end() ? "UNKNOWN" : it->second;
}

bool Within(double value, double low, double high) { return low <= value && value <= high; }

// Every entry within [low[i], high[i]]; a NaN is not.
bool AllWithin(const std::vector<double>& values, const std::vector<double>& low,
               const std::vector<double>& high) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!Within(values[i], low[i], high[i])) return false;
  }
  return true;
}

// `values` moved by `offset`, each.
std::vector<double> Offset(std::vector<double> values, double offset) {
  for (double& v : values) v += offset;
  return values;
}

SafetyLimits Defaults(ProductModel model) {
  auto defaults = vyr_impl::DefaultSafetyLimits(model);
  if (!defaults) {
    throw std::logic_error("[korvo::vyr::Safety] Default safety limits of product model [" +
                           ProductModelName(model) + "] is not finalized");
  }
  return *defaults;
}

}  // namespace

class Safety::Impl {
 public:
  Impl(Robot& robot, const std::string& password)
      : link(vyr_impl::RobotAccess::Link(robot, "Safety")) {
    if (password.size() != kPassword.size() || password != kPassword) {
      throw std::invalid_argument("[korvo::vyr::Safety] The provided password is incorrect");
    }
    const Robot::Impl& impl = link.Robot();
    info = impl.info();
    defaults = Defaults(impl.product_model);
  }
  virtual ~Impl() = default;

  // The group, IDLE and size checks of the limit setters, then whether the defaults cover the
  // group's joints (the range checks read them by joint index). Returns the group's DoF.
  std::size_t CheckRequest(const char* operation, JointGroup group,
                           const std::vector<const std::vector<double>*>& inputs,
                           const std::vector<const char*>& names) const {
    const std::string prefix = Prefix(operation);
    vyr_impl::RequireSingleArm(info.single_arm_groups, group, prefix);
    vyr_impl::RequireIdle(link, prefix);
    const auto dof = static_cast<std::size_t>(info.DoF.at(group));
    for (std::size_t k = 0; k < inputs.size(); ++k) {
      if (inputs[k]->size() != dof) {
        throw std::invalid_argument(prefix + "Size of input vector [" + names[k] +
                                    "] does not match joint group DoF");
      }
    }
    const auto covered = defaults.q_min.find(group);
    if (covered == defaults.q_min.end() || covered->second.size() != dof) {
      throw std::logic_error(prefix + "The default safety limits do not cover the " +
                             std::to_string(dof) + " joints of joint group [" +
                             Robot::Impl::GroupName(group) + "]");
    }
    return dof;
  }

  void Send(const char* operation, std::uint16_t op_code, vyr_impl::OperationArgs args) const {
    if (!link.client->operations_rpc().CallOperation(op_code, args).ok()) {
      throw std::runtime_error(Prefix(operation) + "Failed to deliver the request");
    }
  }

  void SetVelocityLimits(const char* operation, std::uint16_t op_code, JointGroup group,
                         const std::vector<double>& max_velocities) const {
    const auto dof = CheckRequest(operation, group, {&max_velocities}, {"max_velocities"});
    const std::vector<double> floor(dof, vyr_impl::kMinSafetyVelocityLimit);
    if (!AllWithin(max_velocities, floor, defaults.dq_max_normal.at(group))) {
      throw std::invalid_argument(Prefix(operation) +
                                  "Input parameter [max_velocities] contains value outside the "
                                  "valid range");
    }
    vyr_impl::OperationArgs args;
    args.joint_groups = {group};
    args.floats.assign(max_velocities.begin(), max_velocities.end());
    Send(operation, op_code, std::move(args));
  }

  vyr_impl::RobotLink link;
  RobotInfo info;
  SafetyLimits defaults;
};

Safety::Safety(Robot& robot, const std::string& password)
    : pimpl_(std::make_unique<Impl>(robot, password)) {}

Safety::~Safety() = default;

SafetyLimits Safety::default_limits() const { return pimpl_->defaults; }

SafetyLimits Safety::current_limits() const {
  const RobotInfo& info = pimpl_->info;
  SafetyLimits limits = pimpl_->defaults;
  for (auto& [g, values] : limits.q_min) {
    values = Offset(info.q_min.at(g), -vyr_impl::kSafetyPositionMargin);
  }
  for (auto& [g, values] : limits.q_max) {
    values = Offset(info.q_max.at(g), vyr_impl::kSafetyPositionMargin);
  }
  const bool reduced = pimpl_->link.client->qel_data_stream().safety_state() == kReducedSafetyState;
  for (auto& [g, values] : limits.dq_max_normal) {
    values = reduced ? std::vector<double>{}
                     : Offset(info.dq_max.at(g), vyr_impl::kSafetyVelocityMargin);
  }
  for (auto& [g, values] : limits.dq_max_reduced) {
    values = reduced ? Offset(info.dq_max.at(g), vyr_impl::kSafetyVelocityMargin)
                     : std::vector<double>{};
  }
  return limits;
}

std::array<bool, kSafetyIOPorts> Safety::safety_inputs() const {
  return pimpl_->link.client->qel_data_stream().safety_inputs();
}

void Safety::SetJointPositionLimits(JointGroup group, const std::vector<double>& min_positions,
                                    const std::vector<double>& max_positions) {
  constexpr char kOperation[] = "SetJointPositionLimits";
  pimpl_->CheckRequest(kOperation, group, {&min_positions, &max_positions},
                       {"min_positions", "max_positions"});
  const auto& low = pimpl_->defaults.q_min.at(group);
  const auto& high = pimpl_->defaults.q_max.at(group);
  if (!AllWithin(min_positions, low, high)) {
    throw std::invalid_argument(Prefix(kOperation) +
                                "Input parameter [min_positions] contains value outside the "
                                "valid range");
  }
  if (!AllWithin(max_positions, low, high)) {
    throw std::invalid_argument(Prefix(kOperation) +
                                "Input parameter [max_positions] contains value outside the "
                                "valid range");
  }
  // A minimum above its maximum would leave the joint no position to be in.
  if (!AllWithin(min_positions, low, max_positions)) {
    throw std::invalid_argument(Prefix(kOperation) +
                                "Input parameter [min_positions] contains value outside the "
                                "valid range");
  }
  vyr_impl::OperationArgs args;
  args.joint_groups = {group};
  args.floats.assign(min_positions.begin(), min_positions.end());
  args.floats.insert(args.floats.end(), max_positions.begin(), max_positions.end());
  pimpl_->Send(kOperation, kOpPositionLimits, std::move(args));
}

void Safety::SetJointVelocityNormalLimits(JointGroup group,
                                          const std::vector<double>& max_velocities) {
  pimpl_->SetVelocityLimits("SetJointVelocityNormalLimits", kOpVelocityNormalLimits, group,
                            max_velocities);
}

void Safety::SetJointVelocityReducedLimits(JointGroup group,
                                           const std::vector<double>& max_velocities) {
  pimpl_->SetVelocityLimits("SetJointVelocityReducedLimits", kOpVelocityReducedLimits, group,
                            max_velocities);
}

void Safety::SetJointOutputTorqueRegulator(double limiting_factor, std::uint32_t error_threshold) {
  constexpr char kOperation[] = "SetJointOutputTorqueRegulator";
  vyr_impl::RequireIdle(pimpl_->link, Prefix(kOperation));
  if (!(limiting_factor > 0.0) || !std::isfinite(limiting_factor)) {
    throw std::invalid_argument(Prefix(kOperation) +
                                "Input parameter [limiting_factor] is not positive");
  }
  if (error_threshold == 0) {
    throw std::invalid_argument(Prefix(kOperation) +
                                "Input parameter [error_threshold] is not positive");
  }
  // The robot reads the threshold as a signed 32-bit value.
  constexpr auto kMaxThreshold =
      static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max());
  if (error_threshold > kMaxThreshold) {
    throw std::invalid_argument(Prefix(kOperation) +
                                "Input parameter [error_threshold] exceeds 2147483647");
  }
  vyr_impl::OperationArgs args;
  args.ints = {static_cast<std::int32_t>(error_threshold)};
  args.floats = {static_cast<float>(limiting_factor)};
  pimpl_->Send(kOperation, kOpTorqueRegulator, std::move(args));
}

}  // namespace korvo::vyr
