#include "interfaces/local_files.hpp"

#include <fcntl.h>
#include <spdlog/spdlog.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <fstream>

namespace korvo::vyr_impl {

namespace fs = std::filesystem;

bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

std::string Extension(const std::string& file_name) {
  if (file_name == "." || file_name == "..") return "";
  const auto dot = file_name.rfind('.');
  if (dot == std::string::npos || dot == 0) return "";
  return file_name.substr(dot);
}

std::optional<std::vector<std::uint8_t>> ReadFile(const fs::path& path) {
  std::error_code ec;
  std::ifstream in;
  if (fs::is_regular_file(path, ec)) in.open(path, std::ios::binary);
  if (!in.is_open()) {
    spdlog::debug("Failed to open file [{}]", path.string());
    return std::nullopt;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  std::vector<std::uint8_t> bytes;
  if (size >= 0) {
    bytes.resize(static_cast<std::size_t>(size));
    in.seekg(0, std::ios::beg);
    in.read(reinterpret_cast<char*>(bytes.data()), size);
  }
  if (size < 0 || !in || in.gcount() != size) {
    spdlog::debug("Failed to read file [{}] into raw bytes", path.string());
    return std::nullopt;
  }
  return bytes;
}

namespace {

// Writes all of `bytes` to `fd`, retrying short writes and interruptions.
bool WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Creates a new file beside `path` for writing, named after it; the process's umask applies to
// its mode as to any new file. -1 when none can be created.
int CreateTemporary(const fs::path& path, std::string& temp) {
  static std::atomic<unsigned> counter{0};
  const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = ".";
    // Part of a long name only, so that the temporary name stays within the file-name limit.
    name += path.filename().string().substr(0, 128);
    name += '.';
    name += std::to_string(::getpid());
    name += '.';
    name += std::to_string(counter++);
    name += ".tmp";
    temp = (dir / name).string();
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// The file a save replaces: a symbolic link's target, so that a link stays a link.
fs::path Target(const fs::path& path) {
  std::error_code error;
  if (!fs::is_symlink(path, error)) return path;
  fs::path target = fs::canonical(path, error);
  return error ? path : target;
}

}  // namespace

bool SaveFile(const fs::path& requested, const std::vector<std::uint8_t>& bytes) {
  const auto fail = [&] {
    spdlog::debug("Failed to save raw bytes to file [{}]", requested.string());
    return false;
  };
  const fs::path path = Target(requested);
  std::string temp;
  const int fd = CreateTemporary(path, temp);
  if (fd < 0) return fail();
  struct stat old {};
  bool ok = ::stat(path.c_str(), &old) != 0 || ::fchmod(fd, old.st_mode & 07777) == 0;
  ok = ok && WriteAll(fd, bytes);
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return fail();
  }
  return true;
}

FileSystemError::FileSystemError(const std::string& text, const fs::filesystem_error& cause)
    : fs::filesystem_error(text, cause.path1(), cause.path2(), cause.code()),
      text_(text + cause.what()) {}

}  // namespace korvo::vyr_impl
