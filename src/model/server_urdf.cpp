#include "model/server_urdf.hpp"

#include "robot/robot_impl.hpp"

namespace korvo::vyr_impl {
namespace {

constexpr std::uint16_t kOpDownloadUrdf = 5;
// A download succeeds with any status below this.
constexpr std::int32_t kDownloadFailure = 300000;

}  // namespace

std::optional<std::vector<std::uint8_t>> DownloadServerUrdf(const RobotLink& link) {
  const std::string file_name = link.Robot().info().serial_num + ".urdf";
  std::vector<std::uint8_t> bytes;
  if (link.client->operations_rpc().DownloadFile(kOpDownloadUrdf, file_name, bytes).code >=
      kDownloadFailure) {
    return std::nullopt;
  }
  return bytes;
}

}  // namespace korvo::vyr_impl
