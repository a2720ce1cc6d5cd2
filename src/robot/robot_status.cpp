#include <cmath>

#include "korvo/vyr/name_tables.hpp"
#include "robot/operational_status.hpp"
#include "robot/robot_impl.hpp"

namespace korvo::vyr {
namespace {

// A joint moves when its motor-side velocity exceeds this, rad/s.
constexpr double kStoppedThreshold = 0.017;

}  // namespace

bool Robot::Impl::connected() const { return client->connected(); }

Mode Robot::Impl::mode() const {
  if (lite_) {
    Mode mode = Mode::UNKNOWN;
    if (!client->operations_rpc().GetMode(mode).ok()) return Mode::UNKNOWN;
    return mode;
  }
  return static_cast<Mode>(client->realtime_states_sub().mode());
}

std::map<JointGroup, RobotStates> Robot::Impl::states() const {
  return client->qel_data_stream().states(info_.all_groups, start_ids, info_.DoF);
}

std::map<JointGroup, RobotActions> Robot::Impl::actions() const {
  return client->qel_data_stream().actions(info_.all_groups, start_ids, info_.DoF);
}

std::map<JointGroup, bool> Robot::Impl::stopped() const {
  std::map<JointGroup, bool> result;
  for (const auto& [g, s] : states()) {
    result[g] = true;
    for (const double v : s.dtheta) {
      if (std::abs(v) > kStoppedThreshold) result[g] = false;
    }
  }
  return result;
}

bool Robot::Impl::all_stopped() const {
  for (const auto& [g, still] : stopped()) {
    if (!still) return false;
  }
  return true;
}

OperationalStatus Robot::Impl::operational_status() const {
  const auto& stream = client->qel_data_stream();
  const auto system = stream.system_state();
  const auto safety = stream.safety_state();
  return vyr_impl::OperationalStatusOf(safety, system, stream.estop_released());
}

bool Robot::Impl::operational() const {
  const auto status = operational_status();
  return status == OperationalStatus::READY || status == OperationalStatus::IN_REDUCED_STATE;
}

std::string Robot::Impl::NotOperationalText() const {
  return "Robot is not operational: " + kOpStatusNames.at(operational_status());
}

bool Robot::Impl::busy() const { return client->realtime_states_sub().busy(); }

bool Robot::Impl::fault() const {
  const auto s = client->qel_data_stream().system_state();
  return s == 13 || s == 14 || s == 15;
}

bool Robot::Impl::reduced() const { return client->qel_data_stream().safety_state() == 10; }
bool Robot::Impl::recovery() const { return client->qel_data_stream().safety_state() == 9; }
bool Robot::Impl::estop_released() const { return client->qel_data_stream().estop_released(); }
bool Robot::Impl::enabling_device_on() const {
  return client->qel_data_stream().enabling_device_on();
}
bool Robot::Impl::reached_timeliness_failure_limit() const { return client->timeliness_failed(); }
std::vector<RobotEvent> Robot::Impl::event_log() const { return client->qel_log_event().events(); }
std::array<bool, kIOPorts> Robot::Impl::digital_inputs() const {
  return client->qel_data_stream().digital_inputs();
}
std::array<bool, kIOPorts> Robot::Impl::digital_outputs() const {
  return client->qel_data_stream().digital_outputs();
}

}  // namespace korvo::vyr
