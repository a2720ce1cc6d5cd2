#include <spdlog/spdlog.h>

#include <cmath>
#include <limits>
#include <stdexcept>

#include "korvo/vyr/name_tables.hpp"
#include "robot/robot_impl.hpp"
#include "robot/serial_number.hpp"

namespace korvo::vyr {
namespace {

constexpr char kLibraryVersion[] = "v2.1";
constexpr char kQelServerVersion[] = "v2.1";
constexpr std::array<double, kCartDoF> kNominalCartesianStiffness = {15000, 15000, 15000,
                                                                     2000,  2000,  2000};
const std::vector<double> kNominalJointStiffness = {8500, 8500, 8500, 8500, 2000, 2000, 2000};

}  // namespace

Robot::Impl::Impl(const std::string& robot_sn, bool verbose, bool lite)
    : verbose_(verbose), lite_(lite) {
  if (verbose_) {
    spdlog::info("| | | | | | | | | |  Korvo VYR {}  | | | | | | | | | |", kLibraryVersion);
  }
  if (lite_) spdlog::warn("[korvo::vyr::Robot] This lite instance has limited functionalities");

  const std::string sn = vyr_impl::NormalizeSerialNumber(robot_sn);
  product_model = vyr_impl::IdentifyProductModel(sn);

  client = std::make_shared<vyr_impl::VYRClient>(verbose_);
  client->Connect(sn, lite_);

  // Both servers must run the version this client speaks.
  std::string vyr_version, qel_version;
  if (!client->operations_rpc().SyncServerVersion(vyr_version).ok()) {
    throw std::runtime_error("[korvo::vyr::Robot] Failed to sync VYR server version");
  }
  if (!client->qel_data_rpc().SyncServerVersion(qel_version).ok()) {
    throw std::runtime_error("[korvo::vyr::Robot] Failed to sync QEL server version");
  }
  if (vyr_version != kLibraryVersion || qel_version != kQelServerVersion) {
    throw std::logic_error(
        "[korvo::vyr::Robot] Version of this client is incompatible with robot [" + sn + "]");
  }

  // Joint groups, their layout and limits.
  std::vector<JointGroup> groups;
  for (int v = static_cast<int>(JointGroup::FIRST); v <= static_cast<int>(JointGroup::LAST); ++v) {
    if (kJointGroupNames.count(static_cast<JointGroup>(v)) != 0) {
      groups.push_back(static_cast<JointGroup>(v));
    }
  }
  if (groups.size() != kJointGroupNames.size() - 1) {
    throw std::logic_error("[korvo::vyr::Robot] Number of all joint groups is wrong");
  }
  start_ids.clear();
  info_.DoF.clear();
  if (!client->qel_data_rpc().GetStartIdsAndDoF(groups, start_ids, info_.DoF).ok()) {
    throw std::runtime_error(
        "[korvo::vyr::Robot] Failed to obtain robot start ID and DoF information");
  }
  if (!client->operations_rpc().SyncJointLimits(groups, info_).ok()) {
    throw std::runtime_error("[korvo::vyr::Robot] Failed to obtain robot information");
  }
  info_.serial_num = sn;
  info_.product_model = product_model;

  // Nominal stiffness; external axes are unbounded.
  info_.K_q_nom.clear();
  if (info_.all_groups.count(JointGroup::EXT_AXIS) != 0) {
    info_.K_q_nom[JointGroup::EXT_AXIS] = std::vector<double>(
        info_.DoF.at(JointGroup::EXT_AXIS), std::numeric_limits<double>::infinity());
  }
  switch (product_model) {
    case ProductModel::Olvar_L:
      info_.K_x_nom[JointGroup::ARM_1] = kNominalCartesianStiffness;
      info_.K_q_nom[JointGroup::ARM_1] = kNominalJointStiffness;
      break;
    case ProductModel::Olvar_LL:
    case ProductModel::TAVU_Core:
    case ProductModel::TAVU_Plus:
    case ProductModel::TAVU_Ultra:
      for (const auto arm : {JointGroup::ARM_1, JointGroup::ARM_2}) {
        info_.K_x_nom[arm] = kNominalCartesianStiffness;
        info_.K_q_nom[arm] = kNominalJointStiffness;
      }
      break;
    default:
      throw std::logic_error("[korvo::vyr::Robot] Unsupported product model");
  }

  // Every limit must be present, sized to the group and non-zero.
  for (const auto& [g, n] : info_.DoF) {
    for (const auto* limits : {&info_.q_min, &info_.q_max, &info_.dq_max, &info_.tau_max}) {
      if (limits->at(g).size() != static_cast<std::size_t>(n)) {
        throw std::logic_error(
            "[korvo::vyr::Robot] Received robot joint limits have inconsistent size");
      }
    }
    for (int j = 0; j < n; ++j) {
      for (const auto* limits : {&info_.q_min, &info_.q_max, &info_.dq_max, &info_.tau_max}) {
        if (std::abs(limits->at(g)[j]) < std::numeric_limits<double>::epsilon()) {
          throw std::logic_error(
              "[korvo::vyr::Robot] One or more robot joint limits received from server are "
              "invalid");
        }
      }
    }
  }
  if (verbose_) spdlog::info("[korvo::vyr::Robot] Initialization complete");
}

}  // namespace korvo::vyr
