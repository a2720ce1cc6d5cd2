// The connected robot's rigid-body model, built locally from the URDF the robot serves.
#pragma once

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "korvo/vyr/data.hpp"

namespace korvo::vyr {

class Robot;

/**
 * Interface to obtain certain model data of the robot, including kinematics and dynamics. The
 * model is built from the robot's own URDF with a rigid body for the active tool of each single
 * arm; all queries are computed locally, from the posture set by the last Update().
 *
 * Joint-space vectors and matrices follow the order of joint_names(), the robot's full-DoF order.
 * Jacobians are 6 × n, linear rows first, at the link frame's origin in world axes. Not
 * thread-safe: one thread at a time per Model.
 */
class Model {
 public:
  /**
   * [Blocking] Instantiate the robot model interface: downloads the active tools and the URDF and
   * builds the model (a full Reload). `gravity_vector` is the Earth's gravity in the world frame,
   * m/s^2. Throws std::runtime_error if `robot` holds no connection, the data cannot be synced or
   * the URDF cannot be parsed or is not supported; std::logic_error if the model does not match
   * the robot (degrees of freedom, flange links).
   */
  explicit Model(Robot& robot,
                 const Eigen::Vector3d& gravity_vector = Eigen::Vector3d(0.0, 0.0, -9.81));
  virtual ~Model();
  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;

  /** [Blocking] Rebuild the model from the robot's current tools and URDF. A failed reload
   * leaves the model as it was. Throws as the constructor. The posture is zero afterwards. */
  void Reload();

  /**
   * [Blocking] Write the connected robot's actual kinematic parameters (the "xyz" and "rpy" of
   * each joint origin of the URDF it serves) into a template URDF, in place; template joints the
   * robot does not have, and everything else of the file, stay as they were. The file is replaced
   * whole or not at all. The local model is not changed. Throws std::invalid_argument if the
   * template cannot be loaded, std::runtime_error if the robot's URDF cannot be obtained or
   * parsed, or the template not saved.
   */
  void SyncURDF(const std::string& template_urdf_path);

  /**
   * [Blocking] Write the actual kinematic parameters into a template kinematics YAML, in place:
   * x, y, z, roll, pitch and yaw under kinematics → joint name, for the joints the YAML lists.
   * Returns the number of joints synced. Comments of the file are not kept. Throws as SyncURDF;
   * std::invalid_argument also if the YAML has no "kinematics" entry.
   */
  int SyncKinematicsYAML(const std::string& template_yaml_path);

  /** [Non-blocking] Names of all links (bodies), in depth-first order from the root, tool bodies
   * ("ARM_1.tool", ...) included. */
  std::vector<std::string> link_names() const;
  /** [Non-blocking] Names of all actuated joints, in depth-first order from the root. */
  std::vector<std::string> joint_names() const;

  /**
   * [Non-blocking] Set the posture of the model: positions [rad or m] and velocities [rad/s or
   * m/s] of the whole robot in joint_names() order. Throws std::invalid_argument for a length
   * other than the robot's full DoF; nothing changes then.
   */
  void Update(const std::vector<double>& full_q, const std::vector<double>& full_dq);

  /** [Non-blocking] Jacobian of the link frame's origin in world axes, 6 × n, linear rows first.
   * Throws std::invalid_argument for an unknown link. */
  Eigen::MatrixXd J(const std::string& link_name);
  /** [Non-blocking] Time derivative of J at the current velocities. Throws as J. */
  Eigen::MatrixXd dJ(const std::string& link_name);
  /** [Non-blocking] Symmetric positive definite joint-space mass matrix, n × n. */
  Eigen::MatrixXd M();
  /** [Non-blocking] Coriolis/centripetal matrix C, n × n, with C·dq the Coriolis and centrifugal
   * torques. */
  Eigen::MatrixXd C();
  /** [Non-blocking] Gravity torques, n [Nm or N]. */
  Eigen::VectorXd g();
  /** [Non-blocking] Coriolis and centrifugal torques, n [Nm or N]. */
  Eigen::VectorXd c();
  /** [Non-blocking] Pose of the link frame in the world frame. Throws as J. */
  Eigen::Isometry3d T(const std::string& link_name);

  /**
   * [Blocking] Ask the robot for a constrained inverse-kinematics solution of the given single-arm
   * groups (groups not in the map are inactive and untouched). `solved_q` holds one entry per
   * requested group; `success` false means the robot found no solution. Throws
   * std::invalid_argument for an empty map, a group that is not a single arm of the robot or a
   * `seed_q` of another length than the group's DoF, std::runtime_error if the robot does not
   * reply.
   */
  IKResult SolveConstrainedIK(const std::map<JointGroup, IKParams>& ik_params_by_group);

  /**
   * [Blocking] How well-conditioned each group's current posture is, from the robot's
   * manipulability: (translation score, orientation score), each in [0, 100]; poor [0, 20),
   * medium [20, 40), good [40, 100]. A poor score means near a singularity. Throws
   * std::runtime_error if the robot does not reply.
   */
  std::map<JointGroup, std::pair<double, double>> configuration_score();

  /** [Non-blocking] Estimated contact force on each link of each group, N, in the link frame;
   * empty if the robot does not estimate multi-contact. */
  std::map<JointGroup, std::vector<Eigen::Vector3d>> multi_contact_forces() const;
  /** [Non-blocking] Estimated contact position on each link, m, in the link frame; same layout. */
  std::map<JointGroup, std::vector<Eigen::Vector3d>> multi_contact_positions() const;

  class Impl;

 private:
  std::unique_ptr<Impl> pimpl_;
};

}  // namespace korvo::vyr
