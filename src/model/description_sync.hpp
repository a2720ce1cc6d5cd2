// Copies the joint origins of the URDF a robot serves (its calibrated kinematics) into a user's
// template description files, in place: a template URDF, or a kinematics YAML whose "kinematics"
// map holds x, y, z, roll, pitch and yaw per joint.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace korvo::vyr_impl {

// The server's URDF, fetched only once the template has been read: nothing when it cannot be had.
using UrdfSource = std::function<std::optional<std::vector<std::uint8_t>>()>;

// Sets the "xyz" and "rpy" of each template joint's origin to those of the server joint of the
// same name, as written. A server origin without both, or with one that does not hold three
// finite numbers, leaves the template joint as it was. The template is replaced whole or not at
// all. Throws std::invalid_argument when the template cannot be loaded (or has no <robot>), and
// std::runtime_error when the server URDF cannot be had or parsed, or the template not saved;
// messages are those of Model::SyncURDF.
void SyncUrdfTemplate(const std::string& path, const UrdfSource& server);

// Stores each server joint's origin under kinematics → joint name of the YAML at `path` and
// returns how many joints were synced. A joint the YAML does not list, one without an origin, and
// one whose "xyz" or "rpy" does not hold three finite numbers are left out. Throws as
// Model::SyncKinematicsYAML.
int SyncKinematicsYamlTemplate(const std::string& path, const UrdfSource& server);

}  // namespace korvo::vyr_impl
