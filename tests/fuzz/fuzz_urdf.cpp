// The URDF reader and the rigid-body model built from what it reads, as Model and the simulator
// do with a URDF downloaded from the robot. Any text gives a description or UrdfError; a
// description the reader accepts is one tree below its first link with unit joint axes, so the
// builder reaches every link and refuses nothing.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "model/rigid_body_model.hpp"
#include "model/urdf_reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace korvo::vyr_impl;
  UrdfDescription description;
  try {
    description = ReadUrdf(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const UrdfError&) {
    return 0;
  }
  if (description.links.empty() || description.joints.size() + 1 != description.links.size()) {
    std::abort();
  }
  for (const auto& joint : description.joints) {
    if (!(std::abs(joint.axis.norm() - 1.0) < 1e-9)) std::abort();
  }
  try {
    const RigidBodyModel model = BuildRigidBodyModel(description);
    if (model.link_names.size() != description.links.size()) std::abort();
  } catch (const UrdfError&) {
    std::abort();  // the reader let through a description that is no tree
  }
  return 0;
}
