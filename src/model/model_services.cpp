// Model: what the robot computes for it (constrained IK, manipulability) and the contact
// estimates of its stream data.
#include <stdexcept>
#include <string>

#include "korvo/vyr/model.hpp"
#include "model/configuration_score.hpp"
#include "model/model_link.hpp"
#include "robot/robot_impl.hpp"

namespace korvo::vyr {
namespace {

std::map<JointGroup, std::vector<Eigen::Vector3d>> Vectors(const vyr_impl::ContactVectors& in) {
  std::map<JointGroup, std::vector<Eigen::Vector3d>> out;
  for (const auto& [group, values] : in) {
    auto& list = out[group];
    list.reserve(values.size());
    for (const auto& v : values) list.emplace_back(v[0], v[1], v[2]);
  }
  return out;
}

}  // namespace

IKResult Model::SolveConstrainedIK(const std::map<JointGroup, IKParams>& ik_params_by_group) {
  const std::string prefix = "[korvo::vyr::Model::SolveConstrainedIK] ";
  if (ik_params_by_group.empty()) {
    throw std::invalid_argument(prefix + "Input [ik_params_by_group] is empty");
  }
  const auto& link = vyr_impl::LinkOf(*pimpl_);
  const RobotInfo info = link.Robot().info();
  for (const auto& [group, params] : ik_params_by_group) {
    vyr_impl::RequireSingleArm(info.single_arm_groups, group, prefix);
    const auto dof = info.DoF.find(group);
    if (dof == info.DoF.end() || params.seed_q.size() != static_cast<std::size_t>(dof->second)) {
      throw std::invalid_argument(prefix +
                                  "Size of input vector [seed_q] does not match joint group DoF");
    }
  }
  IKResult result;
  if (!link.client->operations_rpc().RequestReachability(ik_params_by_group, result).ok()) {
    throw std::runtime_error(prefix + "No reply from the robot");
  }
  return result;
}

std::map<JointGroup, std::pair<double, double>> Model::configuration_score() {
  const auto& link = vyr_impl::LinkOf(*pimpl_);
  std::map<JointGroup, std::array<double, kCartDoF>> values;
  if (!link.client->qel_data_rpc().GetManipulability(values).ok()) {
    throw std::runtime_error("[korvo::vyr::Model::configuration_score] No reply from the robot");
  }
  std::map<JointGroup, std::pair<double, double>> scores;
  for (const auto& [group, v] : values) scores[group] = vyr_impl::ConfigurationScore(v[2], v[5]);
  return scores;
}

std::map<JointGroup, std::vector<Eigen::Vector3d>> Model::multi_contact_forces() const {
  const auto& robot = vyr_impl::LinkOf(*pimpl_).Robot();
  return Vectors(robot.client->qel_data_stream().multi_contact_forces(
      robot.info_.all_groups, robot.start_ids, robot.info_.DoF));
}

std::map<JointGroup, std::vector<Eigen::Vector3d>> Model::multi_contact_positions() const {
  const auto& robot = vyr_impl::LinkOf(*pimpl_).Robot();
  return Vectors(robot.client->qel_data_stream().multi_contact_positions(
      robot.info_.all_groups, robot.start_ids, robot.info_.DoF));
}

}  // namespace korvo::vyr
