// Files exchanged with the robot: trajectory files, projects and the collision meshes of its links.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace korvo::vyr {

class Robot;

/**
 * Interface to exchange files with the robot. Only certain types of file can be transferred.
 * Every file is saved whole or not at all: a failed save leaves the previous file in place.
 */
class FileIO {
 public:
  /**
   * [Non-blocking] Instantiate the file exchange interface; sends nothing. Throws
   * std::runtime_error if `robot` holds no connection.
   */
  explicit FileIO(Robot& robot);
  virtual ~FileIO();
  FileIO(const FileIO&) = delete;
  FileIO& operator=(const FileIO&) = delete;

  /** [Blocking] Names of all trajectory files stored in the robot. */
  std::vector<std::string> traj_files_list() const;
  /** [Blocking] Names of all user projects stored in the robot. */
  std::vector<std::string> projects_list() const;
  /**
   * [Blocking] Upload the local trajectory file `file_dir`/`file_name`. Throws
   * std::invalid_argument if it cannot be read, std::runtime_error if the upload fails.
   */
  void UploadTrajFile(const std::string& file_dir, const std::string& file_name);
  /**
   * [Blocking] Download a trajectory file and return its bytes. Throws std::invalid_argument if
   * the robot has no such file, std::runtime_error if the download fails.
   */
  std::string DownloadTrajFile(const std::string& file_name);
  /**
   * [Blocking] Download a trajectory file into `save_dir`, created if needed. Throws
   * std::invalid_argument if the robot has no such file or its name is not a plain file name,
   * std::filesystem::filesystem_error if the directory cannot be created, std::runtime_error if
   * the download or the save fails.
   */
  void DownloadTrajFile(const std::string& file_name, const std::string& save_dir);
  /**
   * [Blocking] Upload the project in `project_dir` (its .proj and .plan files, named after the
   * directory); mode IDLE. Both files are read before either is sent. Throws std::logic_error
   * outside IDLE, std::invalid_argument if a file cannot be read, std::runtime_error if an upload
   * fails.
   */
  void UploadProject(const std::string& project_dir);
  /**
   * [Blocking] Download a project into `save_dir`/`project_name`, with its ".project" marker,
   * written last. Throws std::invalid_argument if the robot has no such project or its name is
   * not a plain file name, std::filesystem::filesystem_error if the directory cannot be created,
   * std::runtime_error if a download or a save fails.
   */
  void DownloadProject(const std::string& project_name, const std::string& save_dir);
  /**
   * [Blocking] Download the collision mesh of every link of the robot's URDF into `save_dir`, one
   * file per link named after it. Throws std::runtime_error if the URDF cannot be obtained or is
   * malformed (including a link name that is not a plain file name), or a download or a save
   * fails; std::filesystem::filesystem_error if the directory cannot be created.
   */
  void DownloadCollisionMesh(const std::string& save_dir);

  class Impl;

 private:
  std::unique_ptr<Impl> pimpl_;
};

}  // namespace korvo::vyr
