#include "sim/manipulability.hpp"

#include <Eigen/SVD>

namespace korvo::sim {
namespace {

// Singular values of a 3 x n part: fewer than three columns leave the missing ones at zero.
Eigen::Vector3d SingularValues(const Eigen::Matrix<double, 3, Eigen::Dynamic>& part) {
  Eigen::Vector3d values = Eigen::Vector3d::Zero();
  const Eigen::VectorXd found = Eigen::JacobiSVD<Eigen::MatrixXd>(part).singularValues();
  values.head(found.size()) = found;
  return values;
}

}  // namespace

std::array<double, 6> Manipulability(const Eigen::Matrix<double, 6, Eigen::Dynamic>& jacobian) {
  const Eigen::Vector3d linear = SingularValues(jacobian.topRows<3>());
  const Eigen::Vector3d angular = SingularValues(jacobian.bottomRows<3>());
  return {linear.minCoeff(),  linear.maxCoeff(),  linear.prod(),
          angular.minCoeff(), angular.maxCoeff(), angular.prod()};
}

}  // namespace korvo::sim
