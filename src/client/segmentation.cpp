#include "client/segmentation.hpp"

#include <spdlog/spdlog.h>

#include <cmath>
#include <optional>
#include <type_traits>

namespace korvo::vyr_impl {
namespace {

using vyr::JointGroup;

// V[s], ..., V[s + n - 1] widened, or nothing when that range leaves V.
template <typename T, typename Out>
bool Segment(const std::vector<T>& v, std::int32_t start, int count, std::vector<Out>& out) {
  const std::uint64_t s = static_cast<std::uint32_t>(start);
  const std::uint64_t n = static_cast<unsigned>(count);
  if (s + n > v.size()) return false;
  out.clear();
  out.reserve(n);
  for (std::uint64_t i = s; i < s + n; ++i) {
    if constexpr (std::is_same_v<T, std::array<float, 3>>) {
      out.push_back({v[i][0], v[i][1], v[i][2]});
    } else {
      out.push_back(static_cast<Out>(v[i]));
    }
  }
  return true;
}

template <std::size_t N>
std::array<double, N> Widen(const std::array<float, N>& a) {
  std::array<double, N> out{};
  for (std::size_t i = 0; i < N; ++i) out[i] = a[i];
  return out;
}

// The group's start ID and DoF, logging when either is missing.
std::optional<std::pair<std::int32_t, int>> Metadata(JointGroup g, const StartIds& start_ids,
                                                     const GroupDoF& dof) {
  const auto s = start_ids.find(g);
  const auto n = dof.find(g);
  if (s == start_ids.end() || n == dof.end()) {
    spdlog::error("[korvo::vyr::Robot] Missing start ID or DoF metadata for joint group [{}]",
                  static_cast<int>(g));
    return std::nullopt;
  }
  return std::make_pair(s->second, n->second);
}

}  // namespace

std::array<double, 6> RotateWrench(const std::array<double, 7>& pose,
                                   const std::array<double, 6>& local) {
  double w = pose[3], x = pose[4], y = pose[5], z = pose[6];
  const double norm = std::sqrt(w * w + x * x + y * y + z * z);
  if (norm > 0.0) {
    w /= norm;
    x /= norm;
    y /= norm;
    z /= norm;
  }
  // The rotation matrix of a unit quaternion; the zero quaternion gives the identity.
  const double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
                          {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
                          {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)}};
  std::array<double, 6> out{};
  for (int i = 0; i < 3; ++i) {
    for (int k = 0; k < 3; ++k) {
      out[i] += r[i][k] * local[k];
      out[3 + i] += r[i][k] * local[3 + k];
    }
  }
  return out;
}

std::map<JointGroup, vyr::RobotStates> SegmentStates(
    const zenoh_msgs::qel_msg::AllBasicStreamData& data, const GroupNames& all_groups,
    const StartIds& start_ids, const GroupDoF& dof) {
  std::map<JointGroup, vyr::RobotStates> result;
  if (data.cartesian_data.size() != data.joint_groups.size()) {
    spdlog::error(
        "[korvo::vyr::Robot] The received data has mismatched sizes: cartesian_data size is {}, "
        "expected number of joint groups is {}",
        data.cartesian_data.size(), data.joint_groups.size());
    return {};
  }
  for (const auto& [g, name] : all_groups) {
    const auto meta = Metadata(g, start_ids, dof);
    if (!meta) return {};
    auto& s = result[g];
    s.timestamp = {data.timestamp_sec, static_cast<std::int32_t>(data.timestamp_nanosec)};
    const auto [start, n] = *meta;
    if (!Segment(data.q, start, n, s.q) || !Segment(data.theta, start, n, s.theta) ||
        !Segment(data.dq, start, n, s.dq) || !Segment(data.dtheta, start, n, s.dtheta) ||
        !Segment(data.tau, start, n, s.tau) || !Segment(data.tau_dot, start, n, s.tau_dot) ||
        !Segment(data.tau_ext, start, n, s.tau_ext) ||
        !Segment(data.tau_interact, start, n, s.tau_interact) ||
        !Segment(data.temperature, start, n, s.temperature)) {
      spdlog::error(
          "[korvo::vyr::Robot] Failed to segment full-DoF joint data for joint group [{}]",
          static_cast<int>(g));
      return {};
    }
  }
  for (std::size_t i = 0; i < data.joint_groups.size(); ++i) {
    auto& s = result[static_cast<JointGroup>(data.joint_groups[i])];
    const auto& e = data.cartesian_data[i];
    s.flange_pose = Widen(e.flange_pose);
    s.tcp_pose = Widen(e.tcp_pose);
    s.tcp_twist = Widen(e.tcp_twist);
    s.tcp_wrench_local = Widen(e.tcp_wrench_local);
    s.raw_tcp_wrench_local = Widen(e.raw_tcp_wrench_local);
    s.raw_ft_sensor = Widen(e.ft_sensor.raw);
    s.tcp_wrench = RotateWrench(s.tcp_pose, s.tcp_wrench_local);
    s.raw_tcp_wrench = RotateWrench(s.tcp_pose, s.raw_tcp_wrench_local);
  }
  return result;
}

std::map<JointGroup, vyr::RobotActions> SegmentActions(
    const zenoh_msgs::qel_msg::AllExtraStreamData& data,
    std::pair<std::int32_t, std::int32_t> stamp, const GroupNames& all_groups,
    const StartIds& start_ids, const GroupDoF& dof) {
  std::map<JointGroup, vyr::RobotActions> result;
  if (data.cartesian_data.size() != data.joint_groups.size()) {
    spdlog::error(
        "[korvo::vyr::Robot] The received desired data has mismatched sizes: cartesian_data size "
        "is {}, expected number of joint groups is {}",
        data.cartesian_data.size(), data.joint_groups.size());
    return {};
  }
  for (const auto& [g, name] : all_groups) {
    const auto meta = Metadata(g, start_ids, dof);
    if (!meta) return {};
    auto& a = result[g];
    a.timestamp = stamp;
    const auto [start, n] = *meta;
    if (!Segment(data.q_d, start, n, a.q_d) || !Segment(data.dq_d, start, n, a.dq_d) ||
        !Segment(data.tau_d, start, n, a.tau_d)) {
      spdlog::error("[korvo::vyr::Robot] Failed to segment desired joint data for joint group [{}]",
                    static_cast<int>(g));
      return {};
    }
  }
  for (std::size_t i = 0; i < data.joint_groups.size(); ++i) {
    auto& a = result[static_cast<JointGroup>(data.joint_groups[i])];
    const auto& e = data.cartesian_data[i];
    a.tcp_pose_d = Widen(e.tcp_pose_d);
    a.tcp_twist_d = Widen(e.tcp_twist_d);
    a.tcp_wrench_d = Widen(e.tcp_wrench_d);
  }
  return result;
}

ContactVectors SegmentContacts(const zenoh_msgs::qel_msg::AllBasicStreamData& data, bool positions,
                               const GroupNames& all_groups, const StartIds& start_ids,
                               const GroupDoF& dof) {
  ContactVectors result;
  const auto& source = positions ? data.multi_contact_positions : data.multi_contact_forces;
  for (const auto& [g, name] : all_groups) {
    const auto meta = Metadata(g, start_ids, dof);
    if (!meta) return {};
    if (!Segment(source, meta->first, meta->second, result[g])) {
      if (positions) {
        spdlog::error(
            "[korvo::vyr::Robot] Failed to segment multi-contact positions for joint group [{}]",
            static_cast<int>(g));
      } else {
        spdlog::error(
            "[korvo::vyr::Robot] Failed to segment multi-contact forces for joint group [{}]",
            static_cast<int>(g));
      }
      return {};
    }
  }
  return result;
}

}  // namespace korvo::vyr_impl
