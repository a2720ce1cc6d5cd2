// The class FileIO.
#include <Python.h>

#include <memory>
#include <string>

#include "bind_data.hpp"
#include "korvo/vyr/file_io.hpp"
#include "korvo/vyr/robot.hpp"
#include "live_objects.hpp"

namespace korvo::vyr_py {

using vyr::FileIO;

namespace {

template <typename Op>
auto Method(Op op) {
  return LiveMethod("FileIO", op);
}

// A file's bytes as text: UTF-8 where they are, other bytes kept as lone surrogates, so that the
// content of any file arrives and `text.encode("utf-8", "surrogateescape")` gives the bytes back.
py::str DownloadTrajText(FileIO* self, const std::string& file_name) {
  const std::string bytes = Live(*self, "FileIO").DownloadTrajFile(file_name);
  PyObject* text =
      PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "surrogateescape");
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

}  // namespace

void BindFileIO(py::module_& m) {
  py::class_<FileIO, std::shared_ptr<FileIO>> cls(
      m, "FileIO",
      "Interface to exchange files with the robot. Only certain types of file can be "
      "transferred.");
  cls.def(py::init(&MakeFromRobot<FileIO>),
          "[Non-blocking] Instantiate the file exchange interface.\n\n"
          "Args:\n"
          "    robot: Reference to the instance of korvo::vyr::Robot.\n\n"
          "Raises:\n"
          "    RuntimeError: if the initialization sequence failed.",
          py::arg("robot"));
  cls.def("traj_files_list", Method(&FileIO::traj_files_list),
          "[Blocking] Get a list of all trajectory files stored in the robot.\n\n"
          "Returns:\n"
          "    Names of the trajectory files.\n\n"
          "Raises:\n"
          "    RuntimeError: if the robot does not reply.");
  cls.def("projects_list", Method(&FileIO::projects_list),
          "[Blocking] Get a list of all user projects stored in the robot.\n\n"
          "Returns:\n"
          "    Names of the projects.\n\n"
          "Raises:\n"
          "    RuntimeError: if the robot does not reply.");
  cls.def("UploadTrajFile", Method(&FileIO::UploadTrajFile),
          "[Blocking] Upload a trajectory file (.traj) to the robot.\n\n"
          "Args:\n"
          "    file_dir: Directory of the local file.\n"
          "    file_name: Name of the file, which is also its name on the robot.\n\n"
          "Raises:\n"
          "    ValueError: if the file cannot be found or loaded.\n"
          "    RuntimeError: if the upload fails.",
          py::arg("file_dir"), py::arg("file_name"));
  cls.def("DownloadTrajFile", &DownloadTrajText,
          "[Blocking] Download a trajectory file from the robot and return its content.\n\n"
          "Args:\n"
          "    file_name: Name of the file on the robot.\n\n"
          "Returns:\n"
          "    The content as a string. Bytes that are not UTF-8 arrive as lone surrogates "
          "(errors=\"surrogateescape\"); content.encode(\"utf-8\", \"surrogateescape\") gives "
          "the file's bytes.\n\n"
          "Raises:\n"
          "    ValueError: if the file does not exist on the robot.\n"
          "    RuntimeError: if the download fails.",
          py::arg("file_name"));
  cls.def("DownloadTrajFile",
          Method(static_cast<void (FileIO::*)(const std::string&, const std::string&)>(
              &FileIO::DownloadTrajFile)),
          "[Blocking] Download a trajectory file from the robot and save it into a local "
          "directory.\n\n"
          "Args:\n"
          "    file_name: Name of the file on the robot, which is also the local file's name.\n"
          "    save_dir: Directory to save into; created if needed.\n\n"
          "Raises:\n"
          "    ValueError: if the file does not exist on the robot, or its name is not a plain "
          "file name.\n"
          "    RuntimeError: if the directory cannot be created, or the download or the save "
          "fails. A failed save leaves any previous file in place.",
          py::arg("file_name"), py::arg("save_dir"));
  cls.def("UploadProject", Method(&FileIO::UploadProject),
          "[Blocking] Upload a local project to the robot: the directory holds a .proj and a "
          ".plan file named after it.\n\n"
          "Args:\n"
          "    project_dir: Directory of the project.\n\n"
          "Raises:\n"
          "    ValueError: if a project file cannot be found or loaded.\n"
          "    RuntimeError: if the robot is not in IDLE mode, or an upload fails.\n\n"
          "Note:\n"
          "    Both files are read before either is sent. A project made by a different robot "
          "software version may need conversion before it runs.",
          py::arg("project_dir"));
  cls.def("DownloadProject", Method(&FileIO::DownloadProject),
          "[Blocking] Download a project from the robot and save it into a local directory, as "
          "save_dir/project_name with its .proj, .plan and .project marker files.\n\n"
          "Args:\n"
          "    project_name: Name of the project on the robot.\n"
          "    save_dir: Directory to save into; created if needed.\n\n"
          "Raises:\n"
          "    ValueError: if the project does not exist on the robot.\n"
          "    RuntimeError: if the directory cannot be created, or a download or a save fails. "
          "The marker is written last: a folder without it holds no complete project.",
          py::arg("project_name"), py::arg("save_dir"));
  cls.def("DownloadCollisionMesh", Method(&FileIO::DownloadCollisionMesh),
          "[Blocking] Download the collision mesh files of all links of the robot into a local "
          "directory, one file per link named after it.\n\n"
          "Args:\n"
          "    save_dir: Directory to save into; created if needed.\n\n"
          "Raises:\n"
          "    RuntimeError: if the robot's URDF cannot be obtained or is malformed, the "
          "directory cannot be created, or a download or a save fails.",
          py::arg("save_dir"));
  cls.def("__repr__", [](const FileIO*) { return "<korvovyr.FileIO>"; });
  ReleaseAtExit<FileIO>();
}

}  // namespace korvo::vyr_py
