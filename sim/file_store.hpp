// The simulated robot's files (operations 60 to 66 and 5): trajectory files, projects (a ".proj"
// and a ".plan" file each), collision meshes and the URDF, all kept in memory: no name a client
// or a test supplies ever reaches the file system.
//
// Unlike the other services it locks itself: uploads and downloads carry up to 64 MiB, so their
// CRCs are computed and their bytes copied outside any lock (files are shared immutable buffers,
// their CRC-32 computed once when stored), and the robot's lock is never held for a transfer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "msgs/vyr_msg.hpp"

namespace korvo::sim {

enum class FileKind { kTraj, kProject, kMesh };

// How the next download reply goes wrong: a CRC that does not match its bytes, or the echo of
// another file name.
enum class DownloadFault { kCrc, kName };

class FileStore {
 public:
  using Bytes = std::vector<std::uint8_t>;

  // Uploads beyond these bounds are refused: no robot stores more.
  static constexpr std::size_t kMaxNameBytes = 256;
  static constexpr std::size_t kMaxFileBytes = std::size_t{64} << 20;
  static constexpr std::size_t kMaxFiles = 256;  // per kind
  // Trajectory and project files together.
  static constexpr std::size_t kMaxStoredBytes = std::size_t{256} << 20;

  // A store with the robot's starting trajectory files and project, `meshes` (by path without
  // "package://") and the URDF `urdf` that operation 5 hands out under `urdf_name`.
  FileStore(std::string urdf_name, const std::string& urdf, std::map<std::string, Bytes> meshes);

  static bool Handles(std::uint16_t op_code) {
    return op_code == 5 || (op_code >= 60 && op_code <= 66);
  }
  // Answers one of the operations 5 and 60 to 66 into `reply` (whose op_code the caller sets);
  // `idle` tells whether the robot is in IDLE, which a project upload needs. Returns false when
  // the robot refuses it; a refused request changes nothing. Thread-safe.
  bool Handle(const zenoh_msgs::vyr_msg::RPCRequest& request, zenoh_msgs::vyr_msg::RPCReply& reply,
              bool idle);

  // ---- test controls (thread-safe) ----
  // Stores or replaces a file as given: a test may hold names and sizes an upload could not.
  // Project files are named with their extension.
  void Set(FileKind kind, const std::string& name, Bytes content);
  // std::invalid_argument when there is no such file.
  void Remove(FileKind kind, const std::string& name);
  // The URDF operation 5 hands out from now on (any text); none restores the model's.
  void ServeUrdf(std::optional<std::string> text);
  // The next download reply the robot grants (62, 65, 66 or 5) goes wrong in this way; faults
  // armed together all apply to that reply.
  void CorruptNextDownload(DownloadFault fault);

  // ---- read-backs ----
  std::map<std::string, Bytes> files(FileKind kind) const;

 private:
  using Request = zenoh_msgs::vyr_msg::RPCRequest;
  using Reply = zenoh_msgs::vyr_msg::RPCReply;

  struct File {
    std::shared_ptr<const Bytes> bytes;
    std::uint32_t crc = 0;
  };
  using Table = std::map<std::string, File>;

  static File MakeFile(Bytes content);  // computes the CRC: call without the lock
  Table& TableOf(FileKind kind);
  const Table& TableOf(FileKind kind) const;
  // Replaces or adds under the lock, keeping the byte count of trajectory and project files.
  void Put(Table& table, const std::string& name, File file);

  std::vector<std::string> ProjectNames() const;
  bool Upload(const Request& request, FileKind kind);
  bool Download(const Request& request, Reply& reply, FileKind kind);

  const std::string urdf_name_;
  const File model_urdf_;

  mutable std::mutex mutex_;
  Table traj_, project_, mesh_;
  std::size_t stored_bytes_ = 0;  // trajectory and project files
  std::optional<File> served_urdf_;
  bool corrupt_crc_ = false;
  bool corrupt_name_ = false;
};

}  // namespace korvo::sim
