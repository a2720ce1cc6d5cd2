#include "sim/file_store.hpp"

#include <set>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "client/crc32.hpp"

namespace korvo::sim {
namespace {

constexpr std::string_view kProjectExt = ".proj";
constexpr std::string_view kPlanExt = ".plan";

FileStore::Bytes Text(std::string_view text) { return {text.begin(), text.end()}; }

// One plain file name: no directory part, nothing a file system reads specially.
bool PlainFileName(const std::string& name) {
  return !name.empty() && name.size() <= FileStore::kMaxNameBytes && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\\\0", 3)) == std::string::npos;
}

// "N.proj" or "N.plan" with a non-empty N.
bool ProjectFileName(std::string_view name) {
  for (const auto ext : {kProjectExt, kPlanExt}) {
    if (name.size() > ext.size() && name.ends_with(ext)) return true;
  }
  return false;
}

}  // namespace

FileStore::FileStore(std::string urdf_name, const std::string& urdf,
                     std::map<std::string, Bytes> meshes)
    : urdf_name_(std::move(urdf_name)), model_urdf_(MakeFile(Text(urdf))) {
  Set(FileKind::kTraj, "PolishSpiral.traj",
      Text("# korvo trajectory\nframe ARM_1 base\nspiral radius=0.12 pitch=0.01 turns=6\n"
           "speed 0.05\n"));
  Set(FileKind::kTraj, "Wipe.traj",
      Text("# korvo trajectory\nframe ARM_1 base\nline length=0.40 passes=4 offset=0.05\n"
           "speed 0.10\n"));
  Set(FileKind::kProject, "PolishTable.proj",
      Text("# korvo project\nname PolishTable\nplan PolishTable.plan\ntraj PolishSpiral.traj\n"));
  Set(FileKind::kProject, "PolishTable.plan",
      Text("# korvo plan\nstep approach\nstep polish PolishSpiral.traj\nstep retreat\n"));
  for (auto& [path, bytes] : meshes) Set(FileKind::kMesh, path, std::move(bytes));
}

FileStore::File FileStore::MakeFile(Bytes content) {
  File file;
  file.crc = vyr_impl::Crc32(content);
  file.bytes = std::make_shared<const Bytes>(std::move(content));
  return file;
}

FileStore::Table& FileStore::TableOf(FileKind kind) {
  switch (kind) {
    case FileKind::kTraj:
      return traj_;
    case FileKind::kProject:
      return project_;
    case FileKind::kMesh:
      break;
  }
  return mesh_;
}

const FileStore::Table& FileStore::TableOf(FileKind kind) const {
  return const_cast<FileStore*>(this)->TableOf(kind);
}

void FileStore::Put(Table& table, const std::string& name, File file) {
  const bool counted = &table != &mesh_;
  auto [it, added] = table.try_emplace(name);
  if (counted) stored_bytes_ += file.bytes->size() - (added ? 0 : it->second.bytes->size());
  it->second = std::move(file);
}

bool FileStore::Handle(const Request& request, Reply& reply, bool idle) {
  switch (request.op_code) {
    case 60: {
      std::lock_guard lock(mutex_);
      for (const auto& [name, file] : traj_) reply.string_container.push_back(name);
      return true;
    }
    case 63: {
      std::lock_guard lock(mutex_);
      reply.string_container = ProjectNames();
      return true;
    }
    case 61:
      return Upload(request, FileKind::kTraj);
    case 64:
      return idle && Upload(request, FileKind::kProject);
    case 62:
      return Download(request, reply, FileKind::kTraj);
    case 65:
      return Download(request, reply, FileKind::kProject);
    case 5:
    case 66:
      return Download(request, reply, FileKind::kMesh);
    default:
      return false;
  }
}

std::vector<std::string> FileStore::ProjectNames() const {
  std::set<std::string> names;
  for (const auto& [name, file] : project_) {
    if (name.size() <= kProjectExt.size() || !name.ends_with(kProjectExt)) continue;
    std::string stem = name.substr(0, name.size() - kProjectExt.size());
    if (project_.contains(stem + std::string(kPlanExt))) names.insert(std::move(stem));
  }
  return {names.begin(), names.end()};
}

bool FileStore::Upload(const Request& request, FileKind kind) {
  if (request.string_container.size() != 1 || request.int_container.size() != 1) return false;
  const std::string& name = request.string_container[0];
  if (!PlainFileName(name) || (kind == FileKind::kProject && !ProjectFileName(name))) return false;
  if (request.byte_container.size() > kMaxFileBytes) return false;
  // One pass over the bytes, outside the lock.
  File file = MakeFile(request.byte_container);
  if (file.crc != static_cast<std::uint32_t>(request.int_container[0])) return false;

  std::lock_guard lock(mutex_);
  Table& table = TableOf(kind);
  const auto it = table.find(name);
  const std::size_t replaced = it == table.end() ? 0 : it->second.bytes->size();
  if (it == table.end() && table.size() >= kMaxFiles) return false;
  if (stored_bytes_ - replaced + file.bytes->size() > kMaxStoredBytes) return false;
  Put(table, name, std::move(file));
  return true;
}

bool FileStore::Download(const Request& request, Reply& reply, FileKind kind) {
  if (request.string_container.size() != 1) return false;
  const std::string& name = request.string_container[0];
  File file;
  bool bad_crc = false, bad_name = false;
  {
    std::lock_guard lock(mutex_);
    if (request.op_code == 5) {
      if (name != urdf_name_) return false;
      file = served_urdf_.value_or(model_urdf_);
    } else {
      const Table& table = TableOf(kind);
      const auto it = table.find(name);
      if (it == table.end()) return false;
      file = it->second;
    }
    bad_crc = std::exchange(corrupt_crc_, false);
    bad_name = std::exchange(corrupt_name_, false);
  }
  // The bytes are copied outside the lock: the buffer is shared and never changes.
  reply.string_container = {bad_name ? name + "~" : name};
  reply.int_container = {static_cast<std::int32_t>(bad_crc ? ~file.crc : file.crc)};
  reply.byte_container = *file.bytes;
  return true;
}

void FileStore::Set(FileKind kind, const std::string& name, Bytes content) {
  File file = MakeFile(std::move(content));
  std::lock_guard lock(mutex_);
  Put(TableOf(kind), name, std::move(file));
}

void FileStore::Remove(FileKind kind, const std::string& name) {
  std::lock_guard lock(mutex_);
  Table& table = TableOf(kind);
  const auto it = table.find(name);
  if (it == table.end()) throw std::invalid_argument("No such file on the robot: " + name);
  if (kind != FileKind::kMesh) stored_bytes_ -= it->second.bytes->size();
  table.erase(it);
}

void FileStore::ServeUrdf(std::optional<std::string> text) {
  std::optional<File> file;
  if (text) file = MakeFile(Text(*text));
  std::lock_guard lock(mutex_);
  served_urdf_ = std::move(file);
}

void FileStore::CorruptNextDownload(DownloadFault fault) {
  std::lock_guard lock(mutex_);
  (fault == DownloadFault::kCrc ? corrupt_crc_ : corrupt_name_) = true;
}

std::map<std::string, FileStore::Bytes> FileStore::files(FileKind kind) const {
  std::vector<std::pair<std::string, std::shared_ptr<const Bytes>>> shared;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [name, file] : TableOf(kind)) shared.emplace_back(name, file.bytes);
  }
  std::map<std::string, Bytes> out;
  for (auto& [name, bytes] : shared) out.emplace(std::move(name), *bytes);
  return out;
}

}  // namespace korvo::sim
