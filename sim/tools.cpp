#include "sim/tools.hpp"

#include <Eigen/Geometry>
#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace korvo::sim {
namespace {

namespace vyr_msg = zenoh_msgs::vyr_msg;

// Quaternions shorter than this carry no orientation.
constexpr double kZeroNorm = 1e-9;

template <std::size_t N>
std::array<double, N> Widen(const std::array<float, N>& v) {
  std::array<double, N> out{};
  std::copy(v.begin(), v.end(), out.begin());
  return out;
}

template <std::size_t N>
std::array<float, N> Narrow(const std::array<double, N>& v) {
  std::array<float, N> out{};
  for (std::size_t i = 0; i < N; ++i) out[i] = static_cast<float>(v[i]);
  return out;
}

template <std::size_t N>
bool Finite(const std::array<float, N>& v) {
  return std::all_of(v.begin(), v.end(), [](float x) { return std::isfinite(x); });
}

// The parameters a request's `tool` carries, when a robot would take them: finite, and a mass
// that is not negative.
std::optional<ToolParams> ParamsOf(const vyr_msg::ToolInfo& tool) {
  if (!std::isfinite(tool.mass) || tool.mass < 0.0f || !Finite(tool.CoM) || !Finite(tool.inertia) ||
      !Finite(tool.tcp_location)) {
    return std::nullopt;
  }
  return ToolParams{tool.mass, Widen(tool.CoM), Widen(tool.inertia), Widen(tool.tcp_location)};
}

vyr_msg::ToolInfo Info(const std::string& name, const ToolParams& p) {
  return {name, static_cast<float>(p.mass), Narrow(p.CoM), Narrow(p.inertia),
          Narrow(p.tcp_location)};
}

}  // namespace

std::array<double, 7> ComposeTcp(const std::array<double, 7>& flange,
                                 const std::array<double, 7>& tcp_location) {
  const Eigen::Quaterniond q_flange(flange[3], flange[4], flange[5], flange[6]);
  Eigen::Quaterniond q_tool(tcp_location[3], tcp_location[4], tcp_location[5], tcp_location[6]);
  q_tool = q_tool.norm() < kZeroNorm ? Eigen::Quaterniond::Identity() : q_tool.normalized();
  const Eigen::Vector3d p =
      Eigen::Vector3d(flange[0], flange[1], flange[2]) +
      q_flange * Eigen::Vector3d(tcp_location[0], tcp_location[1], tcp_location[2]);
  Eigen::Quaterniond q = q_flange * q_tool;
  if (q.w() < 0.0) q.coeffs() = -q.coeffs();
  return {p.x(), p.y(), p.z(), q.w(), q.x(), q.y(), q.z()};
}

Tools::Tools(const std::vector<vyr::JointGroup>& arms) {
  tools_.emplace_back(kFlange, ToolParams{0.0, {}, {}, {0, 0, 0, 1, 0, 0, 0}});
  for (const auto arm : arms) active_[static_cast<std::uint16_t>(arm)] = kFlange;
}

const ToolParams* Tools::Find(const std::string& name) const {
  const auto it =
      std::find_if(tools_.begin(), tools_.end(), [&](const auto& t) { return t.first == name; });
  return it == tools_.end() ? nullptr : &it->second;
}

ToolParams* Tools::Find(const std::string& name) {
  return const_cast<ToolParams*>(std::as_const(*this).Find(name));
}

int Tools::Arm(const Request& request) const {
  if (request.joint_groups.size() != 1) return -1;
  const auto g = request.joint_groups[0];
  return active_.count(g) ? g : -1;
}

std::array<double, 7> Tools::active_tcp(std::uint16_t arm) const {
  const auto it = active_.find(arm);
  if (it == active_.end()) return {0, 0, 0, 1, 0, 0, 0};
  return Find(it->second)->tcp_location;
}

bool Tools::Handle(const Request& request, Reply& reply, bool idle) {
  if (request.tool.name.size() > kMaxNameBytes) return false;
  switch (request.op_code) {
    case 36:
      for (const auto& [name, params] : tools_) reply.string_container.push_back(name);
      return true;
    case 34: {
      const int arm = Arm(request);
      if (arm < 0) return false;
      const auto& name = active_.at(static_cast<std::uint16_t>(arm));
      reply.tool = Info(name, *Find(name));
      return true;
    }
    case 35: {
      const ToolParams* params = Find(request.tool.name);
      if (!params) return false;
      reply.tool = Info(request.tool.name, *params);
      return true;
    }
    case 30:
      return idle && Add(request);
    case 31:
      return idle && Update(request);
    case 32:
      return idle && Remove(request);
    case 33:
      return idle && Switch(request);
    default:
      return false;
  }
}

bool Tools::Add(const Request& request) {
  const std::string& name = request.tool.name;
  if (name.empty() || Find(name) || tools_.size() >= kMaxTools) return false;
  const auto params = ParamsOf(request.tool);
  if (!params) return false;
  tools_.emplace_back(name, *params);
  return true;
}

bool Tools::Update(const Request& request) {
  const std::string& name = request.tool.name;
  if (name == kFlange || !Find(name)) return false;
  const auto params = ParamsOf(request.tool);
  if (!params) return false;
  *Find(name) = *params;
  return true;
}

bool Tools::Remove(const Request& request) {
  const std::string& name = request.tool.name;
  if (name == kFlange || !Find(name)) return false;
  // A mounted tool stays in the table until its arm switches to another one.
  for (const auto& [arm, active] : active_) {
    if (active == name) return false;
  }
  std::erase_if(tools_, [&](const auto& t) { return t.first == name; });
  return true;
}

bool Tools::Switch(const Request& request) {
  const int arm = Arm(request);
  if (arm < 0 || !Find(request.tool.name)) return false;
  active_[static_cast<std::uint16_t>(arm)] = request.tool.name;
  return true;
}

}  // namespace korvo::sim
