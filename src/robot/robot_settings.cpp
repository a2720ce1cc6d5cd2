// Controller settings of one joint group and the digital outputs: checked against the robot's
// limits and the current mode, narrowed to floats and sent as one request each.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "robot/robot_impl.hpp"

namespace korvo::vyr {
namespace {

constexpr std::initializer_list<Mode> kJointImpedanceModes = {Mode::RT_JOINT_IMPEDANCE,
                                                              Mode::NRT_JOINT_IMPEDANCE};
constexpr std::initializer_list<Mode> kCartesianModes = {
    Mode::RT_CARTESIAN_MOTION_FORCE, Mode::NRT_CARTESIAN_MOTION_FORCE, Mode::NRT_SUPER_PRIMITIVE};

constexpr double kDefaultDamping = 0.7;
constexpr double kMinDamping = 0.3;
constexpr double kMaxDamping = 0.8;

// The checks and the request of one setting operation, each failing with the operation's prefix.
class Setting {
 public:
  Setting(const Robot::Impl& robot, const char* operation)
      : robot_(robot), prefix_(std::string("[korvo::vyr::Robot::") + operation + "]") {}

  void RequireSingleArm(JointGroup group) const {
    if (!robot_.IsSingleArm(group)) InvalidGroup(group, "single-arm");
  }
  void RequireSingleArmOrExtAxis(JointGroup group) const {
    if (!robot_.IsSingleArmOrExtAxis(group)) InvalidGroup(group, "single-arm or external axis");
  }
  void RequireMode(std::initializer_list<Mode> modes) const {
    robot_.RequireMode(prefix_.c_str(), modes);
  }
  void RequireSize(const std::vector<double>& values, std::size_t n, const char* name) const {
    if (values.size() != n) {
      Invalid(" Size of input vector [" + std::string(name) + "] does not match joint group DoF");
    }
  }
  // One element of a vector argument; the comparison is written so that NaN is out of range.
  void RequireElement(double value, double min, double max, const char* name) const {
    if (!(value >= min && value <= max)) {
      Invalid(" Input parameter [" + std::string(name) +
              "] contains value outside the valid range");
    }
  }
  void RequireScalar(double value, double min, double max, const char* name) const {
    if (!(value >= min && value <= max)) {
      Invalid(" Input parameter [" + std::string(name) + "] is outside the valid range");
    }
  }
  [[noreturn]] void Invalid(const std::string& text) const {
    throw std::invalid_argument(prefix_ + text);
  }

  void Send(std::uint16_t op_code, const vyr_impl::OperationArgs& args) const {
    if (!robot_.client->operations_rpc().CallOperation(op_code, args).ok()) {
      throw std::runtime_error(prefix_ + " Failed to deliver the request");
    }
  }

  const std::string& prefix() const { return prefix_; }

 private:
  [[noreturn]] void InvalidGroup(JointGroup group, const char* kind) const {
    throw std::invalid_argument(prefix_ + " The specified joint group [" +
                                Robot::Impl::GroupName(group) + "] is not an existing " + kind +
                                " joint group in the connected robot");
  }

  const Robot::Impl& robot_;
  std::string prefix_;
};

// A request for one joint group whose floats are `first` followed by `second`, narrowed.
template <typename First, typename Second = std::array<double, 0>>
vyr_impl::OperationArgs GroupRequest(JointGroup group, const First& first,
                                     const Second& second = {}) {
  vyr_impl::OperationArgs args;
  args.joint_groups = {group};
  args.floats.reserve(first.size() + second.size());
  for (const double v : first) args.floats.push_back(static_cast<float>(v));
  for (const double v : second) args.floats.push_back(static_cast<float>(v));
  return args;
}

}  // namespace

void Robot::Impl::SetJointImpedance(JointGroup group, const std::vector<double>& K_q,
                                    const std::vector<double>& Z_q) {
  const Setting s(*this, "SetJointImpedance");
  s.RequireSingleArmOrExtAxis(group);
  const auto n = static_cast<std::size_t>(info_.DoF.at(group));
  const std::vector<double> damping = Z_q.empty() ? std::vector<double>(n, kDefaultDamping) : Z_q;
  s.RequireMode(kJointImpedanceModes);
  s.RequireSize(K_q, n, "K_q");
  s.RequireSize(damping, n, "Z_q");
  const auto& nominal = info_.K_q_nom.at(group);
  for (std::size_t i = 0; i < n; ++i) {
    s.RequireElement(K_q[i], 0.0, nominal.at(i), "K_q");
    s.RequireElement(damping[i], kMinDamping, kMaxDamping, "Z_q");
  }
  s.Send(71, GroupRequest(group, K_q, damping));
}

void Robot::Impl::SetMaxContactTorque(JointGroup group, const std::vector<double>& max_torques) {
  const Setting s(*this, "SetMaxContactTorque");
  s.RequireSingleArmOrExtAxis(group);
  s.RequireMode(kJointImpedanceModes);
  const auto n = static_cast<std::size_t>(info_.DoF.at(group));
  s.RequireSize(max_torques, n, "max_torques");
  const auto& tau_max = info_.tau_max.at(group);
  for (std::size_t i = 0; i < n; ++i) {
    s.RequireElement(max_torques[i], 0.0, tau_max.at(i), "max_torques");
  }
  s.Send(76, GroupRequest(group, max_torques));
}

void Robot::Impl::SetJointInertiaScale(JointGroup group,
                                       const std::vector<double>& inertia_scales) {
  const Setting s(*this, "SetJointInertiaScale");
  s.RequireSingleArmOrExtAxis(group);
  s.RequireMode(kJointImpedanceModes);
  s.RequireSize(inertia_scales, static_cast<std::size_t>(info_.DoF.at(group)), "inertia_scales");
  for (const double v : inertia_scales) s.RequireElement(v, 0.75, 1.0, "inertia_scales");
  s.Send(75, GroupRequest(group, inertia_scales));
}

void Robot::Impl::SetCartesianImpedance(JointGroup group, const std::array<double, kCartDoF>& K_x,
                                        const std::array<double, kCartDoF>& Z_x) {
  const Setting s(*this, "SetCartesianImpedance");
  s.RequireSingleArm(group);
  s.RequireMode(kCartesianModes);
  const auto& nominal = info_.K_x_nom.at(group);
  for (std::size_t i = 0; i < kCartDoF; ++i) {
    s.RequireElement(K_x[i], 0.0, nominal[i], "K_x");
    s.RequireElement(Z_x[i], kMinDamping, kMaxDamping, "Z_x");
  }
  s.Send(70, GroupRequest(group, K_x, Z_x));
}

void Robot::Impl::SetMaxContactWrench(JointGroup group,
                                      const std::array<double, kCartDoF>& max_wrench) {
  const Setting s(*this, "SetMaxContactWrench");
  s.RequireSingleArm(group);
  s.RequireMode(kCartesianModes);
  for (const double v : max_wrench) {
    if (!(v >= 0.0)) s.Invalid(" Input parameter [max_wrench] contains negative value");
  }
  s.Send(72, GroupRequest(group, max_wrench));
}

void Robot::Impl::SetNullSpacePosture(JointGroup group, const std::vector<double>& ref_positions) {
  const Setting s(*this, "SetNullSpacePosture");
  s.RequireSingleArmOrExtAxis(group);
  s.RequireMode(kCartesianModes);
  const auto n = static_cast<std::size_t>(info_.DoF.at(group));
  s.RequireSize(ref_positions, n, "ref_positions");
  const auto& q_min = info_.q_min.at(group);
  const auto& q_max = info_.q_max.at(group);
  for (std::size_t i = 0; i < n; ++i) {
    s.RequireElement(ref_positions[i], q_min.at(i), q_max.at(i), "ref_positions");
  }
  s.Send(73, GroupRequest(group, ref_positions));
}

void Robot::Impl::SetNullSpaceObjectives(JointGroup group, double linear_manipulability,
                                         double angular_manipulability,
                                         double ref_positions_tracking) {
  const Setting s(*this, "SetNullSpaceObjectives");
  s.RequireSingleArm(group);
  s.RequireMode(kCartesianModes);
  s.RequireScalar(linear_manipulability, 0.0, 1.0, "linear_manipulability");
  s.RequireScalar(angular_manipulability, 0.0, 1.0, "angular_manipulability");
  s.RequireScalar(ref_positions_tracking, 0.1, 1.0, "ref_positions_tracking");
  s.Send(74,
         GroupRequest(group, std::array<double, 3>{linear_manipulability, angular_manipulability,
                                                   ref_positions_tracking}));
}

void Robot::Impl::SetForceControlAxis(JointGroup group,
                                      const std::array<bool, kCartDoF>& enabled_axes,
                                      const std::array<double, 3>& max_linear_vel) {
  const Setting s(*this, "SetForceControlAxis");
  s.RequireSingleArm(group);
  s.RequireMode(kCartesianModes);
  for (const double v : max_linear_vel) s.RequireElement(v, 0.005, 2.0, "max_linear_vel");
  auto args = GroupRequest(group, max_linear_vel);
  for (const bool enabled : enabled_axes) args.ints.push_back(enabled ? 1 : 0);
  s.Send(80, args);
}

void Robot::Impl::SetForceControlFrame(JointGroup group, CoordType root_coord,
                                       const std::array<double, kPoseSize>& T_in_root) {
  const Setting s(*this, "SetForceControlFrame");
  s.RequireSingleArm(group);
  s.RequireMode(kCartesianModes);
  if (root_coord != CoordType::WORLD && root_coord != CoordType::TCP) {
    s.Invalid(" Input parameter [root_coord] is invalid");
  }
  auto args = GroupRequest(group, T_in_root);
  args.strings = {root_coord == CoordType::WORLD ? "WORLD" : "TCP"};
  s.Send(81, args);
}

void Robot::Impl::SetPassiveForceControl(JointGroup group, bool is_enabled) {
  const Setting s(*this, "SetPassiveForceControl");
  s.RequireSingleArm(group);
  // A lite instance whose mode request fails reads UNKNOWN here, and is refused too.
  if (mode() != Mode::IDLE) throw std::logic_error(s.prefix() + " Robot is not in IDLE mode");
  vyr_impl::OperationArgs args;
  args.joint_groups = {group};
  args.ints = {is_enabled ? 1 : 0};
  s.Send(82, args);
}

void Robot::Impl::SetDigitalOutputs(const std::map<unsigned int, bool>& digital_outputs) {
  const Setting s(*this, "SetDigitalOutputs");
  // -1 leaves a port as it is on the robot.
  vyr_impl::OperationArgs args;
  args.ints.assign(kIOPorts, -1);
  for (const auto& [port, high] : digital_outputs) {
    if (port >= kIOPorts) s.Invalid(" Input map contains port index outside the valid range");
    args.ints[port] = high ? 1 : 0;
  }
  s.Send(9, args);
}

}  // namespace korvo::vyr
