// FileIO against the simulated robot: listing, trajectory files and projects both ways, collision
// meshes, the messages of every failure, and the hostile cases: robot-supplied names that would
// leave the folder, saves that fail half-way, half-transferred projects.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "client/crc32.hpp"
#include "file_size_limit.hpp"
#include "korvo/vyr/file_io.hpp"
#include "korvo/vyr/robot.hpp"
#include "outcome.hpp"
#include "sim_suite.hpp"

namespace korvo::vyr {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using test::Eventually;
using test::Invalid;
using test::Logic;
using test::Outcome;
using test::OutcomeOf;
using test::Runtime;
using zenoh_msgs::vyr_msg::RPCRequest;

Bytes B(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string Prefix(const char* operation) {
  return std::string("[korvo::vyr::FileIO::") + operation + "] ";
}

class FileIOTest : public test::SimulatorSuite {
 protected:
  void SetUp() override {
    host_ = &Host();
    robot_ = std::make_unique<Robot>(serial_, false);
    files_ = std::make_unique<FileIO>(*robot_);
    dir_ = fs::temp_directory_path() /
           ("korvo-fileio-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    host_->ClearRecords();
  }
  void TearDown() override {
    files_.reset();
    robot_.reset();
    fs::remove_all(dir_);
    SimulatorSuite::TearDown();
  }
  std::vector<RPCRequest> Requests(std::uint16_t op_code) const {
    return test::VyrRequestsOf(*host_, op_code);
  }
  std::vector<std::uint16_t> OpCodes() const { return test::VyrOpCodesOf(*host_); }
  static Bytes Content(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  static void Write(const fs::path& path, const Bytes& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
  // Nothing at all below `dir` but what `names` lists (relative paths, sorted).
  std::vector<std::string> Tree(const fs::path& dir) const {
    std::vector<std::string> names;
    if (!fs::exists(dir)) return names;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
      names.push_back(fs::relative(e.path(), dir).string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  sim::SimRobot& sim() { return host_->robot(); }

  sim::RobotHost* host_ = nullptr;
  std::unique_ptr<Robot> robot_;
  std::unique_ptr<FileIO> files_;
  fs::path dir_;
};

// ---- trajectory files ---------------------------------------------------------------------------

TEST_F(FileIOTest, TrajectoryFilesGoUpWithTheirCrcAndComeBackWhole) {
  const Bytes content = {'M', 'o', 'v', 'e', 0x00, 0xFF, 0x0A};
  Write(dir_ / "Spiral.traj", content);
  files_->UploadTrajFile(dir_.string(), "Spiral.traj");
  const auto up = Requests(61);
  ASSERT_EQ(up.size(), 1u);
  EXPECT_EQ(up[0].string_container, std::vector<std::string>{"Spiral.traj"});
  EXPECT_EQ(up[0].int_container,
            std::vector<std::int32_t>{static_cast<std::int32_t>(vyr_impl::Crc32(content))});
  EXPECT_EQ(up[0].byte_container, content);
  EXPECT_EQ(sim().traj_files().at("Spiral.traj"), content);

  const auto listed = files_->traj_files_list();
  EXPECT_NE(std::find(listed.begin(), listed.end(), "Spiral.traj"), listed.end());
  EXPECT_EQ(files_->DownloadTrajFile("Spiral.traj"), std::string(content.begin(), content.end()));
  files_->DownloadTrajFile("Spiral.traj", (dir_ / "a" / "b").string());
  EXPECT_EQ(Content(dir_ / "a" / "b" / "Spiral.traj"), content);
}

TEST_F(FileIOTest, ANameThatDiffersInCaseDoesNotExistAndIsNotAskedFor) {
  sim().SetTrajFile("Wipe.traj", B("x"));
  EXPECT_EQ(OutcomeOf([&] { files_->DownloadTrajFile("wipe.traj"); }),
            Invalid(Prefix("DownloadTrajFile") + "The specified trajectory file [wipe.traj] does "
                                                 "not exist"));
  EXPECT_EQ(OpCodes(), std::vector<std::uint16_t>{60});
}

TEST_F(FileIOTest, UploadOfAFileThatCannotBeReadSendsNothing) {
  fs::create_directories(dir_ / "folder.traj");
  for (const char* name : {"missing.traj", "folder.traj"}) {
    EXPECT_EQ(OutcomeOf([&] { files_->UploadTrajFile(dir_.string(), name); }),
              Invalid(Prefix("UploadTrajFile") + "Failed to load trajectory file [" +
                      (dir_ / name).string() + "]"));
  }
  EXPECT_TRUE(host_->vyr_requests().empty());
}

// A download whose reply names another file or carries a wrong CRC is a failed download.
TEST_F(FileIOTest, ARepliedNameOrCrcThatDoesNotMatchFailsTheDownload) {
  sim().SetTrajFile("Wipe.traj", B("wipe"));
  for (const auto what : {sim::DownloadFault::kCrc, sim::DownloadFault::kName}) {
    sim().CorruptNextDownload(what);
    EXPECT_EQ(
        OutcomeOf([&] { files_->DownloadTrajFile("Wipe.traj", dir_.string()); }),
        Runtime(Prefix("DownloadTrajFile") + "Failed to download trajectory file [Wipe.traj]"));
  }
  EXPECT_FALSE(fs::exists(dir_ / "Wipe.traj"));
}

TEST_F(FileIOTest, ARobotSuppliedTrajectoryNameMustBeAPlainFileName) {
  for (const std::string name : {"../escape.traj", "/tmp/escape.traj", "sub/inner.traj"}) {
    sim().SetTrajFile(name, B("evil"));
    host_->ClearRecords();
    EXPECT_EQ(OutcomeOf([&] { files_->DownloadTrajFile(name, (dir_ / "save").string()); }),
              Invalid(Prefix("DownloadTrajFile") + "The trajectory file name [" + name +
                      "] is not a plain file name"));
    EXPECT_EQ(OpCodes(), std::vector<std::uint16_t>{60});  // nothing downloaded
  }
  EXPECT_EQ(Tree(dir_), std::vector<std::string>{});  // nothing created
  EXPECT_FALSE(fs::exists(fs::temp_directory_path() / "escape.traj"));
}

TEST_F(FileIOTest, AFailedSaveKeepsTheOldFileAndIsReported) {
  Write(dir_ / "Wipe.traj", B("old content"));
  sim().SetTrajFile("Wipe.traj", Bytes(8192, 'n'));
  // No file of this process may grow beyond 1 KiB: the save fails half-way.
  const auto outcome = [&] {
    test::FileSizeLimit limit(1024);
    return OutcomeOf([&] { files_->DownloadTrajFile("Wipe.traj", dir_.string()); });
  }();

  EXPECT_EQ(outcome, Runtime(Prefix("DownloadTrajFile") + "Failed to save file [" +
                             (dir_ / "Wipe.traj").string() + "]"));
  EXPECT_EQ(Content(dir_ / "Wipe.traj"), B("old content"));
  EXPECT_EQ(Tree(dir_), std::vector<std::string>{"Wipe.traj"});
}

TEST_F(FileIOTest, ADirectoryThatCannotBeCreatedIsAFileSystemError) {
  sim().SetTrajFile("Wipe.traj", B("w"));
  Write(dir_ / "plain", B("a file where a folder should go"));
  const fs::path save_dir = dir_ / "plain" / "sub";
  try {
    files_->DownloadTrajFile("Wipe.traj", save_dir.string());
    FAIL() << "no error";
  } catch (const fs::filesystem_error& e) {
    const std::string text = e.what();
    const std::string expected =
        Prefix("DownloadTrajFile") + "Failed to create directory [" + save_dir.string() + "]: ";
    EXPECT_EQ(text.substr(0, expected.size()), expected);
    EXPECT_GT(text.size(), expected.size());
    EXPECT_TRUE(e.code());
  }
}

// ---- projects -----------------------------------------------------------------------------------

TEST_F(FileIOTest, UploadProjectReadsBothFilesThenSendsProjThenPlan) {
  Write(dir_ / "polish_table" / "polish_table.proj", B("proj"));
  Write(dir_ / "polish_table" / "polish_table.plan", B("plan"));
  for (const std::string suffix : {"", "/", "//"}) {
    host_->ClearRecords();
    files_->UploadProject((dir_ / "polish_table").string() + suffix);
    const auto up = Requests(64);
    ASSERT_EQ(up.size(), 2u) << suffix;
    EXPECT_EQ(up[0].string_container, std::vector<std::string>{"polish_table.proj"});
    EXPECT_EQ(up[0].byte_container, B("proj"));
    EXPECT_EQ(up[1].string_container, std::vector<std::string>{"polish_table.plan"});
  }
  const auto projects = files_->projects_list();
  EXPECT_NE(std::find(projects.begin(), projects.end(), "polish_table"), projects.end());
}

TEST_F(FileIOTest, UploadProjectSendsNothingUnlessBothFilesAreThere) {
  Write(dir_ / "half" / "half.proj", B("proj"));
  EXPECT_EQ(OutcomeOf([&] { files_->UploadProject((dir_ / "half").string()); }),
            Invalid(Prefix("UploadProject") + "Failed to load project file [" +
                    (dir_ / "half" / "half.plan").string() + "]"));
  EXPECT_EQ(OutcomeOf([&] { files_->UploadProject("/"); }),
            Invalid(Prefix("UploadProject") + "Failed to load project file [/.proj]"));
  EXPECT_TRUE(host_->vyr_requests().empty());
  EXPECT_EQ(sim().project_files().count("half.proj"), 0u);
}

TEST_F(FileIOTest, UploadProjectChecksTheModeBeforeReadingAnything) {
  sim().MakeReady();
  ASSERT_TRUE(Eventually([&] { return robot_->operational(); }));
  robot_->SwitchMode(Mode::NRT_JOINT_POSITION);
  host_->ClearRecords();
  EXPECT_EQ(OutcomeOf([&] { files_->UploadProject((dir_ / "nowhere").string()); }),
            Logic(Prefix("UploadProject") + "Robot is not in IDLE mode"));
  EXPECT_TRUE(host_->vyr_requests().empty());
}

TEST_F(FileIOTest, DownloadProjectWritesBothFilesAndTheMarkerLast) {
  sim().SetProjectFile("p.proj", B("proj"));
  sim().SetProjectFile("p.plan", B("plan"));
  files_->DownloadProject("p", (dir_ / "out").string());
  EXPECT_EQ(Tree(dir_ / "out"),
            (std::vector<std::string>{"p", "p/.project", "p/p.plan", "p/p.proj"}));
  EXPECT_EQ(Content(dir_ / "out" / "p" / "p.proj"), B("proj"));
  EXPECT_EQ(Content(dir_ / "out" / "p" / ".project"), Bytes{});
  const auto down = Requests(65);
  ASSERT_EQ(down.size(), 2u);
  EXPECT_EQ(down[0].string_container, std::vector<std::string>{"p.proj"});
  EXPECT_EQ(down[1].string_container, std::vector<std::string>{"p.plan"});

  EXPECT_EQ(OutcomeOf([&] { files_->DownloadProject("P", dir_.string()); }),
            Invalid(Prefix("DownloadProject") + "The specified project [P] does not exist"));
}

TEST_F(FileIOTest, AFailedPlanDownloadLeavesTheOldProjectAsItWas) {
  Write(dir_ / "p" / "p.proj", B("old proj"));
  Write(dir_ / "p" / "p.plan", B("old plan"));
  Write(dir_ / "p" / ".project", {});
  sim().SetProjectFile("p.proj", B("new proj"));
  sim().SetProjectFile("p.plan", B("new plan"));
  host_->SetReplyRule(sim::Server::kVyr, 65, {sim::ReplyAction::kRefuse, {}, 1, 1});
  EXPECT_EQ(OutcomeOf([&] { files_->DownloadProject("p", dir_.string()); }),
            Runtime(Prefix("DownloadProject") + "Failed to download project file [p.plan]"));
  EXPECT_EQ(Content(dir_ / "p" / "p.proj"), B("old proj"));
  EXPECT_EQ(Content(dir_ / "p" / "p.plan"), B("old plan"));
  EXPECT_TRUE(fs::exists(dir_ / "p" / ".project"));
}

TEST_F(FileIOTest, ARobotSuppliedProjectNameMustBeAPlainFileName) {
  sim().SetProjectFile("...proj", B("proj"));  // a project named ".."
  sim().SetProjectFile("...plan", B("plan"));
  EXPECT_EQ(OutcomeOf([&] { files_->DownloadProject("..", (dir_ / "save").string()); }),
            Invalid(Prefix("DownloadProject") + "The project name [..] is not a plain file name"));
  EXPECT_EQ(Tree(dir_), std::vector<std::string>{});
  EXPECT_TRUE(Requests(65).empty());
}

// ---- collision meshes ---------------------------------------------------------------------------

std::string Urdf(const std::string& links) {
  return "<?xml version=\"1.0\"?>\n<robot name=\"r\">\n" + links + "</robot>\n";
}

std::string Link(const std::string& name, const std::string& mesh) {
  return "<link name=\"" + name + "\"><collision><geometry><mesh filename=\"" + mesh +
         "\"/></geometry></collision></link>\n";
}

TEST_F(FileIOTest, MeshesOfTheRobotsOwnUrdfAreSavedPerLink) {
  files_->DownloadCollisionMesh((dir_ / "meshes").string());
  const auto urdf = Requests(5);
  ASSERT_EQ(urdf.size(), 1u);
  EXPECT_EQ(urdf[0].string_container, std::vector<std::string>{serial_ + ".urdf"});
  const auto meshes = sim().mesh_files();
  ASSERT_FALSE(meshes.empty());
  const auto saved = Tree(dir_ / "meshes");
  EXPECT_EQ(saved.size(), Requests(66).size());
  EXPECT_EQ(saved.size(), meshes.size());
  for (const auto& r : Requests(66)) {
    ASSERT_EQ(r.string_container.size(), 1u);
    EXPECT_EQ(meshes.count(r.string_container[0]), 1u) << r.string_container[0];
    EXPECT_EQ(r.string_container[0].rfind("package://", 0), std::string::npos);
  }
}

TEST_F(FileIOTest, MeshesAreNamedAfterTheirLinksAndFetchedInLinkOrder) {
  sim().SetMeshFile("x/meshes/base.STL", B("base"));
  sim().SetMeshFile("x/meshes/arm_collision.stl", B("arm"));
  sim().SetMeshFile("x/meshes/plain", B("plain"));
  sim().ServeUrdf(Urdf(Link("zeta", "package://x/meshes/plain") +
                       Link("base_link", "package://x/meshes/base.STL") +
                       Link("base_link", "package://x/meshes/plain") + "<link name=\"bare\"/>\n" +
                       Link("arm", "x/meshes/arm_collision.stl")));
  files_->DownloadCollisionMesh(dir_.string());
  std::vector<std::string> asked;
  for (const auto& r : Requests(66)) asked.push_back(r.string_container.at(0));
  EXPECT_EQ(asked, (std::vector<std::string>{"x/meshes/arm_collision.stl", "x/meshes/base.STL",
                                             "x/meshes/plain"}));
  EXPECT_EQ(Tree(dir_), (std::vector<std::string>{"arm.stl", "base_link.STL", "zeta"}));
  EXPECT_EQ(Content(dir_ / "base_link.STL"), B("base"));
}

struct HostileUrdf {
  const char* name;
  std::string urdf;
  std::string message;
};

class HostileUrdfTest : public FileIOTest, public ::testing::WithParamInterface<HostileUrdf> {};

TEST_P(HostileUrdfTest, FailsBeforeAnythingIsCreatedOrDownloaded) {
  sim().SetMeshFile("m/evil.stl", B("evil"));
  sim().ServeUrdf(GetParam().urdf);
  EXPECT_EQ(OutcomeOf([&] { files_->DownloadCollisionMesh((dir_ / "meshes").string()); }),
            Runtime(Prefix("DownloadCollisionMesh") + GetParam().message));
  EXPECT_FALSE(fs::exists(dir_ / "meshes"));
  EXPECT_TRUE(Requests(66).empty());
}

const char kInvalidLink[] = "Invalid link contained in URDF";

INSTANTIATE_TEST_SUITE_P(
    Urdfs, HostileUrdfTest,
    ::testing::Values(
        HostileUrdf{"Traversal",
                    Urdf(Link("ok", "m/evil.stl") + Link("../../.bashrc", "m/evil.stl")),
                    kInvalidLink},
        HostileUrdf{"Absolute", Urdf(Link("/home/u/.ssh/authorized_keys", "m/evil.stl")),
                    kInvalidLink},
        HostileUrdf{"Backslash", Urdf(Link("a\\b", "m/evil.stl")), kInvalidLink},
        HostileUrdf{"DotDot", Urdf(Link("..", "m/evil.stl")), kInvalidLink},
        HostileUrdf{"Unnamed", Urdf("<link><collision/></link>\n"), kInvalidLink},
        HostileUrdf{"NotXml", "<robot><link name=\"a\">",
                    "Failed to parse the URDF obtained from server"},
        HostileUrdf{"NoRobot", "<?xml version=\"1.0\"?><model/>",
                    "Failed to find <robot> field in URDF"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileIOTest, AnUnobtainableUrdfIsReported) {
  host_->SetReplyRule(sim::Server::kVyr, 5, {sim::ReplyAction::kRefuse, {}, 1});
  EXPECT_EQ(OutcomeOf([&] { files_->DownloadCollisionMesh(dir_.string()); }),
            Runtime(Prefix("DownloadCollisionMesh") + "Failed to obtain URDF"));
}

}  // namespace
}  // namespace korvo::vyr
