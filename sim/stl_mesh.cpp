#include "sim/stl_mesh.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

#include <Eigen/Eigenvalues>

namespace korvo::sim {
namespace {

constexpr std::string_view kPackagePrefix = "package://";
constexpr double kMinEdge = 0.01;     // m
constexpr double kDefaultEdge = 0.1;  // m

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void PutVector(std::vector<std::uint8_t>& out, const Eigen::Vector3d& v) {
  for (int i = 0; i < 3; ++i) PutU32(out, std::bit_cast<std::uint32_t>(static_cast<float>(v[i])));
}

// Edge lengths of the homogeneous box with this mass and inertia (principal moments
// m (b² + c²) / 12 and so on), in the order of the principal axes.
Eigen::Vector3d BoxSize(const Inertial& inertial) {
  if (!(inertial.mass > 0.0)) return Eigen::Vector3d::Constant(kDefaultEdge);
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver(inertial.inertia,
                                                              Eigen::EigenvaluesOnly);
  const Eigen::Vector3d I = solver.eigenvalues();
  Eigen::Vector3d size;
  for (int i = 0; i < 3; ++i) {
    const double squared = 6.0 * (I.sum() - 2.0 * I[i]) / inertial.mass;
    size[i] = std::isfinite(squared) ? std::max(kMinEdge, std::sqrt(std::max(0.0, squared)))
                                     : kDefaultEdge;
  }
  return size;
}

}  // namespace

std::vector<std::uint8_t> BoxStl(std::string_view label, const Eigen::Vector3d& centre,
                                 const Eigen::Vector3d& size) {
  std::vector<std::uint8_t> out;
  constexpr std::uint32_t kTriangles = 12;
  out.reserve(kStlHeaderBytes + 4 + kTriangles * kStlTriangleBytes);
  std::string header = "korvo-sim box ";
  header.append(label.substr(0, kStlHeaderBytes - header.size()));
  header.resize(kStlHeaderBytes, ' ');
  out.insert(out.end(), header.begin(), header.end());
  PutU32(out, kTriangles);

  const Eigen::Vector3d half = size / 2.0;
  // Two triangles per face, counter-clockwise seen from outside.
  for (int axis = 0; axis < 3; ++axis) {
    const int u = (axis + 1) % 3, v = (axis + 2) % 3;
    for (const double sign : {1.0, -1.0}) {
      Eigen::Vector3d normal = Eigen::Vector3d::Zero();
      normal[axis] = sign;
      const auto corner = [&](double su, double sv) {
        Eigen::Vector3d p = centre;
        p[axis] += sign * half[axis];
        p[u] += su * half[u];
        p[v] += sv * half[v];
        return p;
      };
      const std::array<Eigen::Vector3d, 4> quad = {corner(-1, -1), corner(1, -1), corner(1, 1),
                                                   corner(-1, 1)};
      const std::array<std::array<int, 3>, 2> triangles =
          sign > 0 ? std::array<std::array<int, 3>, 2>{{{0, 1, 2}, {0, 2, 3}}}
                   : std::array<std::array<int, 3>, 2>{{{0, 2, 1}, {0, 3, 2}}};
      for (const auto& t : triangles) {
        PutVector(out, normal);
        for (const int k : t) PutVector(out, quad[k]);
        out.push_back(0);  // attribute byte count
        out.push_back(0);
      }
    }
  }
  return out;
}

std::map<std::string, std::vector<std::uint8_t>> CollisionMeshes(const KinematicTree& tree) {
  std::map<std::string, std::vector<std::uint8_t>> meshes;
  for (const Link& link : tree.links()) {
    const std::string_view mesh = link.mesh;
    if (!mesh.starts_with(kPackagePrefix)) continue;
    const std::string path(mesh.substr(kPackagePrefix.size()));
    if (path.empty() || meshes.contains(path)) continue;
    const Inertial inertial = link.inertial.value_or(Inertial{});
    meshes.emplace(path, BoxStl(link.name, inertial.com, BoxSize(inertial)));
  }
  return meshes;
}

}  // namespace korvo::sim
