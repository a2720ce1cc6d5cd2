// The collision meshes a simulated robot hands out: small binary STL boxes, one for every mesh
// path its links name, sized from the link's inertia.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <Eigen/Core>

#include "sim/kinematics.hpp"

namespace korvo::sim {

// Binary STL layout: an 80-byte header, a little-endian 32-bit triangle count, then 50 bytes per
// triangle (normal, three vertices, a 16-bit attribute).
inline constexpr std::size_t kStlHeaderBytes = 80;
inline constexpr std::size_t kStlTriangleBytes = 50;

// The binary STL of a box with edge lengths `size` centred at `centre`: twelve triangles with
// outward normals. `label` goes into the header (cut to fit); the header never starts with
// "solid", so no reader takes the file for ASCII STL.
std::vector<std::uint8_t> BoxStl(std::string_view label, const Eigen::Vector3d& centre,
                                 const Eigen::Vector3d& size);

// One mesh for every distinct mesh path of `tree`'s links, keyed by the path without its
// "package://" prefix: the box of a solid of the link's mass and inertia (edges at least 1 cm),
// a 10 cm cube for a link without mass properties.
std::map<std::string, std::vector<std::uint8_t>> CollisionMeshes(const KinematicTree& tree);

}  // namespace korvo::sim
