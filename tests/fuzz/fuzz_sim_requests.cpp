// korvo-sim's request handlers: a short sequence of VYR and QEL requests, motion commands and
// simulation steps (see sim_input.hpp) reaches a simulated robot as RobotHost hands them over: a
// request that does not decode is dropped, one beyond the input limits is refused unserved,
// the others are handled; then the streams and events are taken as the host publishes them.
// Whatever the peer sent, the joint states, desired values and Cartesian states the streams carry
// stay finite. Every input gets a fresh robot.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <span>
#include <string>
#include <utility>

#include "middleware/serialization.hpp"
#include "sim/input_limits.hpp"
#include "sim/sim_robot.hpp"
#include "sim_input.hpp"

namespace {

using korvo::sim::SimRobot;
namespace vyr_msg = korvo::zenoh_msgs::vyr_msg;
namespace qel_msg = korvo::zenoh_msgs::qel_msg;
namespace in = korvo::fuzz::sim_input;

// Building a robot model writes its URDF: done once per kind of robot, copied into each robot.
const korvo::sim::RobotModel& Model(std::uint8_t config) {
  static std::map<std::uint8_t, korvo::sim::RobotModel> models;
  const auto product = static_cast<korvo::vyr::ProductModel>(1 + (config & 7) % 5);
  const unsigned ext_axes = (config & in::kExtAxes) ? 2 : 0;
  const auto key = static_cast<std::uint8_t>(static_cast<unsigned>(product) * 8 + ext_axes);
  auto it = models.find(key);
  if (it == models.end()) {
    it = models.emplace(key, korvo::sim::MakeRobotModel(product, ext_axes)).first;
  }
  return it->second;
}

template <typename Values>
void CheckFinite(const Values& values) {
  for (const auto v : values) {
    if (!std::isfinite(v)) std::abort();
  }
}

void CheckStreams(const SimRobot& robot) {
  const auto basic = robot.BasicStreamData();
  for (const auto* v : {&basic.q, &basic.dq, &basic.tau, &basic.tau_ext}) CheckFinite(*v);
  for (const auto& c : basic.cartesian_data) {
    CheckFinite(c.flange_pose);
    CheckFinite(c.tcp_pose);
    CheckFinite(c.tcp_twist);
    CheckFinite(c.tcp_wrench_local);
  }
  const auto extra = robot.ExtraStreamData();
  for (const auto* v : {&extra.q_d, &extra.dq_d, &extra.tau_d}) CheckFinite(*v);
  for (const auto& c : extra.cartesian_data) {
    CheckFinite(c.tcp_pose_d);
    CheckFinite(c.tcp_twist_d);
    CheckFinite(c.tcp_wrench_d);
  }
  korvo::zenoh_mdw::Encode(basic);
  korvo::zenoh_mdw::Encode(extra);
}

template <typename Message>
bool TryDecode(std::span<const std::uint8_t> payload, Message& message) {
  try {
    message = korvo::zenoh_mdw::Decode<Message>(payload);
    return true;
  } catch (const zenoh::ZException&) {
    return false;
  }
}

void Serve(SimRobot& robot, std::span<const std::uint8_t> payload) {
  vyr_msg::RPCRequest request;
  if (!TryDecode(payload, request)) return;
  if (!korvo::sim::WithinLimits(request)) {
    robot.RefuseOversized("VYR", request.op_code);
    return;
  }
  korvo::zenoh_mdw::Encode(robot.HandleVyr(request));
}

void ServeQel(SimRobot& robot, std::span<const std::uint8_t> payload) {
  qel_msg::RPCRequest request;
  if (!TryDecode(payload, request)) return;
  if (!korvo::sim::WithinLimits(request)) {
    robot.RefuseOversized("QEL", request.op_code);
    return;
  }
  korvo::zenoh_mdw::Encode(robot.HandleQel(request));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t config = data[0];
  SimRobot robot("SN-fuzz", Model(config));
  if (config & in::kReady) robot.MakeReady();
  if (config & in::kPhysics) robot.EnablePhysics(true);

  auto now = SimRobot::Clock::now();
  robot.Step(now);
  std::size_t pos = 1;
  int steps_left = in::kMaxSteps;
  for (std::size_t record = 0; record < in::kMaxRecords && pos < size; ++record) {
    const auto kind = static_cast<in::Kind>(data[pos++] % 4);
    if (kind == in::kStep) {
      if (pos == size) break;
      const int steps = std::min(data[pos++] % 64 + 1, steps_left);
      steps_left -= steps;
      for (int i = 0; i < steps; ++i) {
        now += std::chrono::milliseconds(1);
        robot.Step(now);
      }
      continue;
    }
    if (size - pos < 2) break;
    const std::size_t length = data[pos] | (std::size_t{data[pos + 1]} << 8);
    pos += 2;
    const std::span<const std::uint8_t> payload(data + pos, std::min(length, size - pos));
    pos += payload.size();
    switch (kind) {
      case in::kVyr:
        Serve(robot, payload);
        break;
      case in::kQel:
        ServeQel(robot, payload);
        break;
      default: {
        vyr_msg::MotionCommands commands;
        if (TryDecode(payload, commands)) robot.OnCommands(commands, now);
        break;
      }
    }
  }
  // What the host publishes every millisecond.
  korvo::zenoh_mdw::Encode(robot.RealtimeStates());
  CheckStreams(robot);
  for (const auto& event : robot.TakeEvents()) korvo::zenoh_mdw::Encode(event);
  return 0;
}
