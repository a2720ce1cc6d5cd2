#include "korvo/vyr/file_io.hpp"

#include <spdlog/spdlog.h>
#include <tinyxml2.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <stdexcept>

#include "client/crc32.hpp"
#include "interfaces/local_files.hpp"
#include "korvo/vyr/robot.hpp"
#include "robot/robot_access.hpp"
#include "robot/robot_impl.hpp"

namespace korvo::vyr {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kOpTrajList = 60;
constexpr std::uint16_t kOpTrajUpload = 61;
constexpr std::uint16_t kOpTrajDownload = 62;
constexpr std::uint16_t kOpProjectList = 63;
constexpr std::uint16_t kOpProjectUpload = 64;
constexpr std::uint16_t kOpProjectDownload = 65;
constexpr std::uint16_t kOpMeshDownload = 66;
constexpr std::uint16_t kOpUrdfDownload = 5;
constexpr char kPackage[] = "package://";
const char* const kProjectExtensions[] = {".proj", ".plan"};

std::string Prefix(const char* operation) {
  return std::string("[korvo::vyr::FileIO::") + operation + "] ";
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Creates `dir` with its parents, or raises the operation's file-system error.
void CreateDirectories(const char* operation, const fs::path& dir) {
  try {
    fs::create_directories(dir);
  } catch (const fs::filesystem_error& e) {
    throw vyr_impl::FileSystemError(
        Prefix(operation) + "Failed to create directory [" + dir.string() + "]: ", e);
  }
}

void Save(const char* operation, const fs::path& path, const Bytes& bytes) {
  if (!vyr_impl::SaveFile(path, bytes)) {
    throw std::runtime_error(Prefix(operation) + "Failed to save file [" + path.string() + "]");
  }
}

// The link name -> mesh path map of a URDF, in link-name order: the first collision mesh of each
// link, without "package://". Link names become local file names, so each must be one plain file
// name, with the mesh's extension too.
std::map<std::string, std::string> CollisionMeshes(const Bytes& urdf) {
  constexpr char kOperation[] = "DownloadCollisionMesh";
  tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
  if (doc.Parse(reinterpret_cast<const char*>(urdf.data()), urdf.size()) != tinyxml2::XML_SUCCESS) {
    throw std::runtime_error(Prefix(kOperation) + "Failed to parse the URDF obtained from server");
  }
  const auto* robot = doc.FirstChildElement("robot");
  if (robot == nullptr) {
    throw std::runtime_error(Prefix(kOperation) + "Failed to find <robot> field in URDF");
  }
  std::map<std::string, std::string> meshes;
  for (const auto* link = robot->FirstChildElement("link"); link != nullptr;
       link = link->NextSiblingElement("link")) {
    const char* name = link->Attribute("name");
    if (name == nullptr || !vyr_impl::IsPlainFileName(name)) {
      throw std::runtime_error(Prefix(kOperation) + "Invalid link contained in URDF");
    }
    const auto* collision = link->FirstChildElement("collision");
    const auto* geometry = collision ? collision->FirstChildElement("geometry") : nullptr;
    const auto* mesh = geometry ? geometry->FirstChildElement("mesh") : nullptr;
    const char* file = mesh ? mesh->Attribute("filename") : nullptr;
    if (file == nullptr) continue;
    std::string path = file;
    if (path.rfind(kPackage, 0) == 0) path.erase(0, sizeof kPackage - 1);
    const std::string local = name + vyr_impl::Extension(fs::path(path).filename().string());
    if (!vyr_impl::IsPlainFileName(local)) {
      throw std::runtime_error(Prefix(kOperation) + "Invalid link contained in URDF");
    }
    meshes.emplace(name, std::move(path));
  }
  return meshes;
}

}  // namespace

class FileIO::Impl {
 public:
  explicit Impl(Robot& robot)
      : link(vyr_impl::RobotAccess::Link(robot, "FileIO")),
        serial_num(link.Robot().info().serial_num) {}
  virtual ~Impl() = default;

  vyr_impl::OperationsRPC& rpc() const { return link.client->operations_rpc(); }

  std::vector<std::string> List(const char* operation, std::uint16_t op_code) const {
    std::vector<std::string> names;
    if (!rpc().GetStringList(op_code, names).ok()) {
      throw std::runtime_error(Prefix(operation) + "No reply from the robot");
    }
    return names;
  }

  // The bytes of a trajectory file the robot lists.
  Bytes DownloadTraj(const std::string& file_name, bool saved) const {
    constexpr char kOperation[] = "DownloadTrajFile";
    if (!Contains(List("traj_files_list", kOpTrajList), file_name)) {
      throw std::invalid_argument(Prefix(kOperation) + "The specified trajectory file [" +
                                  file_name + "] does not exist");
    }
    if (saved && !vyr_impl::IsPlainFileName(file_name)) {
      throw std::invalid_argument(Prefix(kOperation) + "The trajectory file name [" + file_name +
                                  "] is not a plain file name");
    }
    Bytes bytes;
    if (!rpc().DownloadFile(kOpTrajDownload, file_name, bytes).ok()) {
      throw std::runtime_error(Prefix(kOperation) + "Failed to download trajectory file [" +
                               file_name + "]");
    }
    return bytes;
  }

  vyr_impl::RobotLink link;
  // The robot's information does not change after its construction.
  std::string serial_num;
};

FileIO::FileIO(Robot& robot) : pimpl_(std::make_unique<Impl>(robot)) {}

FileIO::~FileIO() = default;

std::vector<std::string> FileIO::traj_files_list() const {
  return pimpl_->List("traj_files_list", kOpTrajList);
}

std::vector<std::string> FileIO::projects_list() const {
  return pimpl_->List("projects_list", kOpProjectList);
}

void FileIO::UploadTrajFile(const std::string& file_dir, const std::string& file_name) {
  constexpr char kOperation[] = "UploadTrajFile";
  const fs::path path = fs::path(file_dir) / file_name;
  auto bytes = vyr_impl::ReadFile(path);
  if (!bytes) {
    throw std::invalid_argument(Prefix(kOperation) + "Failed to load trajectory file [" +
                                path.string() + "]");
  }
  const std::uint32_t crc = vyr_impl::Crc32(*bytes);
  if (!pimpl_->rpc().UploadFile(kOpTrajUpload, file_name, crc, std::move(*bytes)).ok()) {
    throw std::runtime_error(Prefix(kOperation) + "Failed to upload trajectory file [" +
                             path.string() + "]");
  }
}

std::string FileIO::DownloadTrajFile(const std::string& file_name) {
  const auto bytes = pimpl_->DownloadTraj(file_name, false);
  return std::string(bytes.begin(), bytes.end());
}

void FileIO::DownloadTrajFile(const std::string& file_name, const std::string& save_dir) {
  constexpr char kOperation[] = "DownloadTrajFile";
  const auto bytes = pimpl_->DownloadTraj(file_name, true);
  CreateDirectories(kOperation, save_dir);
  Save(kOperation, fs::path(save_dir) / file_name, bytes);
}

void FileIO::UploadProject(const std::string& project_dir) {
  constexpr char kOperation[] = "UploadProject";
  vyr_impl::RequireIdle(pimpl_->link, Prefix(kOperation));
  // "dir/" names the project "dir", as "dir" does.
  fs::path dir(project_dir);
  while (dir.has_relative_path() && dir.filename().empty()) dir = dir.parent_path();
  const std::string name = dir.filename().string();
  // Both files are read before either is sent: the robot never gets half a project.
  std::vector<std::pair<fs::path, Bytes>> files;
  for (const char* ext : kProjectExtensions) {
    const fs::path path = dir / (name + ext);
    auto bytes = vyr_impl::IsPlainFileName(name) ? vyr_impl::ReadFile(path) : std::nullopt;
    if (!bytes) {
      throw std::invalid_argument(Prefix(kOperation) + "Failed to load project file [" +
                                  path.string() + "]");
    }
    files.emplace_back(path, std::move(*bytes));
  }
  for (auto& [path, bytes] : files) {
    const std::string file_name = path.filename().string();
    const std::uint32_t crc = vyr_impl::Crc32(bytes);
    if (!pimpl_->rpc().UploadFile(kOpProjectUpload, file_name, crc, std::move(bytes)).ok()) {
      throw std::runtime_error(Prefix(kOperation) + "Failed to upload project file [" +
                               path.string() + "]");
    }
  }
}

void FileIO::DownloadProject(const std::string& project_name, const std::string& save_dir) {
  constexpr char kOperation[] = "DownloadProject";
  if (!Contains(projects_list(), project_name)) {
    throw std::invalid_argument(Prefix(kOperation) + "The specified project [" + project_name +
                                "] does not exist");
  }
  if (!vyr_impl::IsPlainFileName(project_name)) {
    throw std::invalid_argument(Prefix(kOperation) + "The project name [" + project_name +
                                "] is not a plain file name");
  }
  const fs::path dir = fs::path(save_dir) / project_name;
  CreateDirectories(kOperation, dir);
  // Both files are downloaded before either is saved, and the marker that makes the folder a
  // complete project is removed first and written last.
  std::vector<std::pair<std::string, Bytes>> files;
  for (const char* ext : kProjectExtensions) {
    const std::string file_name = project_name + ext;
    Bytes bytes;
    if (!pimpl_->rpc().DownloadFile(kOpProjectDownload, file_name, bytes).ok()) {
      throw std::runtime_error(Prefix(kOperation) + "Failed to download project file [" +
                               file_name + "]");
    }
    files.emplace_back(file_name, std::move(bytes));
  }
  const fs::path marker = dir / ".project";
  std::error_code ignored;
  fs::remove(marker, ignored);
  for (const auto& [file_name, bytes] : files) Save(kOperation, dir / file_name, bytes);
  if (!vyr_impl::SaveFile(marker, {}) || !fs::exists(marker)) {
    throw std::runtime_error(Prefix(kOperation) + "Failed to create marker file [" +
                             marker.string() + "]");
  }
}

void FileIO::DownloadCollisionMesh(const std::string& save_dir) {
  constexpr char kOperation[] = "DownloadCollisionMesh";
  Bytes urdf;
  if (!pimpl_->rpc().DownloadFile(kOpUrdfDownload, pimpl_->serial_num + ".urdf", urdf).ok()) {
    throw std::runtime_error(Prefix(kOperation) + "Failed to obtain URDF");
  }
  const auto meshes = CollisionMeshes(urdf);
  CreateDirectories(kOperation, save_dir);
  for (const auto& [link, mesh_path] : meshes) {
    Bytes bytes;
    if (!pimpl_->rpc().DownloadFile(kOpMeshDownload, mesh_path, bytes).ok()) {
      throw std::runtime_error(Prefix(kOperation) + "Failed to download mesh file [" + mesh_path +
                               "]");
    }
    const fs::path path =
        fs::path(save_dir) / (link + vyr_impl::Extension(fs::path(mesh_path).filename().string()));
    Save(kOperation, path, bytes);
    spdlog::debug("[korvo::vyr::FileIO::DownloadCollisionMesh] Saved file [{}]", path.string());
  }
}

}  // namespace korvo::vyr
