#include "korvo/vyr/work_coord.hpp"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "robot/robot_access.hpp"

namespace korvo::vyr {
namespace {

constexpr std::uint16_t kOpAdd = 50;
constexpr std::uint16_t kOpUpdate = 51;
constexpr std::uint16_t kOpRemove = 52;
constexpr std::uint16_t kOpList = 54;

std::string Prefix(const char* operation) {
  return std::string("[korvo::vyr::WorkCoord::") + operation + "] ";
}

}  // namespace

class WorkCoord::Impl {
 public:
  explicit Impl(Robot& robot) : link(vyr_impl::RobotAccess::Link(robot, "WorkCoord")) {}
  virtual ~Impl() = default;

  vyr_impl::OperationsRPC& rpc() const { return link.client->operations_rpc(); }

  void RequireIdle(const char* operation) const { vyr_impl::RequireIdle(link, Prefix(operation)); }

  // The robot's work coordinate names, with the "No reply" error of `operation`.
  std::vector<std::string> Names(const char* operation) const {
    std::vector<std::string> names;
    if (!rpc().GetStringList(kOpList, names).ok()) {
      throw std::runtime_error(Prefix(operation) + "No reply from the robot");
    }
    return names;
  }

  // Sends `op_code` with the name and, unless it is a removal, the pose narrowed to floats.
  void Change(const char* operation, std::uint16_t op_code, const std::string& name,
              const std::array<double, kPoseSize>* pose) {
    vyr_impl::OperationArgs args;
    if (pose) args.floats.assign(pose->begin(), pose->end());
    args.strings = {name};
    if (!rpc().CallOperation(op_code, args).ok()) {
      throw std::runtime_error(Prefix(operation) + "Failed to deliver the request");
    }
  }

  vyr_impl::RobotLink link;
};

WorkCoord::WorkCoord(Robot& robot) : pimpl_(std::make_unique<Impl>(robot)) {}

WorkCoord::~WorkCoord() = default;

std::vector<std::string> WorkCoord::list() const { return pimpl_->Names("list"); }

bool WorkCoord::exist(const std::string& name) const {
  const auto names = pimpl_->Names("exist");
  return std::find(names.begin(), names.end(), name) != names.end();
}

std::array<double, kPoseSize> WorkCoord::pose(const std::string& name) const {
  std::array<double, kPoseSize> pose{};
  if (!pimpl_->rpc().GetPose(name, pose).ok()) {
    throw std::runtime_error(Prefix("pose") + "No reply from the robot");
  }
  return pose;
}

void WorkCoord::Add(const std::string& name, const std::array<double, kPoseSize>& pose) {
  pimpl_->RequireIdle("Add");
  if (exist(name)) {
    throw std::invalid_argument(Prefix("Add") + "The specified work coordinate [" + name +
                                "] already exists");
  }
  pimpl_->Change("Add", kOpAdd, name, &pose);
}

void WorkCoord::Update(const std::string& name, const std::array<double, kPoseSize>& pose) {
  pimpl_->RequireIdle("Update");
  if (!exist(name)) {
    throw std::invalid_argument(Prefix("Update") + "The specified work coordinate [" + name +
                                "] does not exist");
  }
  pimpl_->Change("Update", kOpUpdate, name, &pose);
}

void WorkCoord::Remove(const std::string& name) {
  pimpl_->RequireIdle("Remove");
  if (!exist(name)) {
    throw std::invalid_argument(Prefix("Remove") + "The specified work coordinate [" + name +
                                "] does not exist");
  }
  pimpl_->Change("Remove", kOpRemove, name, nullptr);
}

}  // namespace korvo::vyr
