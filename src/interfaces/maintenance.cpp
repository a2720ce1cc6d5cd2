#include "korvo/vyr/maintenance.hpp"

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <variant>

#include "korvo/vyr/constants.hpp"
#include "korvo/vyr/data.hpp"
#include "korvo/vyr/name_tables.hpp"
#include "robot/robot_access.hpp"
#include "robot/robot_impl.hpp"

namespace korvo::vyr {
namespace {

using namespace std::chrono_literals;

constexpr std::uint16_t kOpSaveCalibration = 110;
constexpr char kMotionPrimitive[] = "MoveJ";
constexpr char kCalibrationPrimitive[] = "caliJointStaticTorqueChannelOffset";
constexpr char kReachedTarget[] = "reachedTarget";
constexpr double kWaitTime = 5.0;
constexpr auto kPoll = 1s;
constexpr double kPi = 3.141592653589793;

const std::string kPrefix = "[korvo::vyr::Maintenance::CalibrateJointTorqueSensors] ";

bool HasCalibrationPosture(ProductModel model) {
  switch (model) {
    case ProductModel::Olvar_L:
    case ProductModel::Olvar_LL:
    case ProductModel::TAVU_Core:
    case ProductModel::TAVU_Plus:
    case ProductModel::TAVU_Ultra:
      return true;
    default:
      return false;
  }
}

PrimitiveArgs Primitive(const std::string& name, std::map<std::string, ParamValue> params) {
  PrimitiveArgs args(name, params);
  args.external_axis_control = true;
  args.sync_motion_mode = SyncMotionMode::DISABLE;
  return args;
}

// What a poll of the robot must find while the calibration runs: a live link, no fault, and the
// robot still operating in the calibration's mode (an E-stop or a stop is no fault, yet it ends
// the motion and the calibration). Without these checks the waits would never end.
void RequireProgress(const Robot::Impl& robot) {
  if (!robot.connected()) {
    throw std::runtime_error(kPrefix + "Lost the connection to the robot during the calibration");
  }
  if (robot.fault()) throw std::runtime_error(kPrefix + "Fault occurred during the calibration");
  if (!robot.operational()) {
    throw std::runtime_error(kPrefix +
                             "The calibration was interrupted: " + robot.NotOperationalText());
  }
  if (robot.mode() != Mode::NRT_PRIMITIVE_EXECUTION) {
    throw std::runtime_error(kPrefix +
                             "The calibration was interrupted: Robot left the control mode [" +
                             kModeNames.at(Mode::NRT_PRIMITIVE_EXECUTION) + "]");
  }
}

}  // namespace

class Maintenance::Impl {
 public:
  explicit Impl(Robot& robot) : link(vyr_impl::RobotAccess::Link(robot, "Maintenance")) {
    const Robot::Impl& impl = link.Robot();
    if (!HasCalibrationPosture(impl.product_model)) {
      const auto name = kProductModelNames.find(impl.product_model);
      throw std::logic_error(
          "[korvo::vyr::Maintenance] Default calibration posture of product model [" +
          (name == kProductModelNames.end() ? std::string("UNKNOWN") : name->second) +
          "] is not specified");
    }
    cali_posture.assign(kSerialJointDoF, 0.0);
  }
  virtual ~Impl() = default;

  vyr_impl::RobotLink link;
  std::vector<double> cali_posture;
};

Maintenance::Maintenance(Robot& robot) : pimpl_(std::make_unique<Impl>(robot)) {}

Maintenance::~Maintenance() = default;

void Maintenance::CalibrateJointTorqueSensors(JointGroup group,
                                              const std::vector<double>& cali_posture) {
  Robot::Impl& robot = pimpl_->link.Robot();
  // A lite instance receives no states: it could not tell when the motion and the calibration
  // end, and would save the result before the robot has one.
  if (robot.lite()) {
    throw std::logic_error(kPrefix +
                           "Torque sensor calibration is not available on a lite instance");
  }
  const RobotInfo info = robot.info();
  vyr_impl::RequireSingleArm(info.single_arm_groups, group, kPrefix);
  vyr_impl::RequireIdle(pimpl_->link, kPrefix);
  const auto dof = static_cast<std::size_t>(info.DoF.at(group));
  std::vector<double> posture = pimpl_->cali_posture;
  if (!cali_posture.empty()) {
    if (cali_posture.size() != dof) {
      throw std::invalid_argument(kPrefix +
                                  "Size of input vector [cali_posture] does not match robot DoF");
    }
    const auto& low = info.q_min.at(group);
    const auto& high = info.q_max.at(group);
    for (std::size_t i = 0; i < dof; ++i) {
      if (!(low.at(i) <= cali_posture[i] && cali_posture[i] <= high.at(i))) {
        throw std::invalid_argument(
            kPrefix + "Input parameter [cali_posture] contains value outside the valid range");
      }
    }
    posture = cali_posture;
  }
  // The posture travels as the arm positions of a JPos, which holds exactly 7.
  if (dof != kSerialJointDoF) {
    throw std::logic_error(kPrefix + "Calibration of joint group [" +
                           Robot::Impl::GroupName(group) + "] with " + std::to_string(dof) +
                           " joints is not supported: the calibration posture holds " +
                           std::to_string(kSerialJointDoF));
  }

  robot.SwitchMode(Mode::NRT_PRIMITIVE_EXECUTION);

  JPos target;
  for (std::size_t i = 0; i < kSerialJointDoF; ++i) target.q_m[i] = posture[i] / kPi * 180.0;
  robot.ExecutePrimitive({{group, Primitive(kMotionPrimitive, {{"target", target}})}}, true);
  for (;;) {
    std::this_thread::sleep_for(kPoll);
    RequireProgress(robot);
    const auto states = robot.primitive_states();
    const auto* reached = std::get_if<int>(&states.at(group).names_and_values.at(kReachedTarget));
    if (reached == nullptr) {
      throw std::runtime_error(kPrefix + "Primitive state [" + kReachedTarget +
                               "] does not hold an integer");
    }
    if (*reached != 0) break;
  }

  robot.ExecutePrimitive({{group, Primitive(kCalibrationPrimitive, {{"waitTime", kWaitTime}})}},
                         true);
  do {
    std::this_thread::sleep_for(kPoll);
    RequireProgress(robot);
  } while (robot.busy());
  std::this_thread::sleep_for(kPoll);

  RequireProgress(robot);
  if (!pimpl_->link.client->operations_rpc().CallOperation(kOpSaveCalibration, {}).ok()) {
    throw std::runtime_error(kPrefix + "Failed to save the calibration result");
  }
  robot.SwitchMode(Mode::IDLE);
}

}  // namespace korvo::vyr
