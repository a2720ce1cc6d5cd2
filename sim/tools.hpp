// The simulated robot's tool table (operations 30 to 36): the built-in "Flange" and the tools a
// client adds, and the active tool of every single arm. Pure logic without any network and
// without a lock: the owner serializes every call. The table is the only record of which tool
// is mounted; the TCP pose the robot reports is composed from it (ComposeTcp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "korvo/vyr/enums.hpp"
#include "msgs/vyr_msg.hpp"

namespace korvo::sim {

// What the robot knows of a tool: mass [kg], centre of mass [m] in the flange frame, inertia
// [Ixx, Iyy, Izz, Ixy, Ixz, Iyz] and the TCP [x, y, z, qw, qx, qy, qz] relative to the flange.
struct ToolParams {
  double mass = 0.0;
  std::array<double, 3> CoM{};
  std::array<double, 6> inertia{};
  std::array<double, 7> tcp_location{};

  bool operator==(const ToolParams&) const = default;
};

// The flange pose `flange` [x, y, z, qw, qx, qy, qz] moved by a tool's `tcp_location`: the offset
// is rotated by the flange orientation and the orientations are multiplied. A tool quaternion of
// (near) zero norm counts as the identity, any other is normalized; the result has qw >= 0.
std::array<double, 7> ComposeTcp(const std::array<double, 7>& flange,
                                 const std::array<double, 7>& tcp_location);

class Tools {
 public:
  static constexpr const char* kFlange = "Flange";
  // Requests beyond these sizes are refused: no robot is configured with more.
  static constexpr std::size_t kMaxNameBytes = 256;
  static constexpr std::size_t kMaxTools = 64;  // "Flange" included

  // The table of a robot whose single arms are `arms`, each with "Flange" active.
  explicit Tools(const std::vector<vyr::JointGroup>& arms);

  static bool Handles(std::uint16_t op_code) { return op_code >= 30 && op_code <= 36; }
  // Answers one of the operations 30 to 36 into `reply` (whose op_code the caller sets); `idle`
  // tells whether the robot is in IDLE, which every change needs. Returns false when the robot
  // refuses it; a refused request changes nothing.
  bool Handle(const zenoh_msgs::vyr_msg::RPCRequest& request, zenoh_msgs::vyr_msg::RPCReply& reply,
              bool idle);

  // The tcp_location of the tool active on `arm` (identity for an arm the robot lacks).
  std::array<double, 7> active_tcp(std::uint16_t arm) const;

  // ---- read-backs ----
  // Every tool in the order the robot lists them: "Flange" first, then in the order added.
  const std::vector<std::pair<std::string, ToolParams>>& tools() const { return tools_; }
  const std::map<std::uint16_t, std::string>& active() const { return active_; }

 private:
  using Request = zenoh_msgs::vyr_msg::RPCRequest;
  using Reply = zenoh_msgs::vyr_msg::RPCReply;

  const ToolParams* Find(const std::string& name) const;
  ToolParams* Find(const std::string& name);
  // The single arm named by a request's `joint_groups` = [g], or -1.
  int Arm(const Request& request) const;

  bool Add(const Request& request);
  bool Update(const Request& request);
  bool Remove(const Request& request);
  bool Switch(const Request& request);

  std::vector<std::pair<std::string, ToolParams>> tools_;
  std::map<std::uint16_t, std::string> active_;  // single arm -> active tool
};

}  // namespace korvo::sim
