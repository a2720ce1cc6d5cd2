// The library's access to local files: reading a regular file whole, and saving bytes so that the
// target is replaced whole or not at all. Every file the library writes goes through SaveFile.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korvo::vyr_impl {

// A name usable as one path part: not empty, not "." or "..", no '/', '\\' or NUL. Names that come
// from the robot pass this before they become local paths.
bool IsPlainFileName(const std::string& name);

// The extension of a file name: from its last '.' to its end; none ("") for a name whose only
// '.' is its first character, and for "." and "..".
std::string Extension(const std::string& file_name);

// The bytes of a regular file, or nothing (logged at debug level) when it cannot be opened or
// read. Directories and other non-regular files cannot be opened.
std::optional<std::vector<std::uint8_t>> ReadFile(const std::filesystem::path& path);

// Writes `bytes` to a temporary file beside `path`, checking every write and the close, then
// renames it over `path`; an existing file keeps its permissions, and a symbolic link keeps
// pointing at its target, which is the file replaced. On failure (logged at debug
// level) the temporary file is removed and any old file stays as it was.
bool SaveFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// A file-system error whose text is exactly `text` followed by the cause's own text, with the
// cause's paths and error code.
class FileSystemError : public std::filesystem::filesystem_error {
 public:
  FileSystemError(const std::string& text, const std::filesystem::filesystem_error& cause);
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  std::string text_;
};

}  // namespace korvo::vyr_impl
