// The simulated robot's files as pure logic: the operations 60 to 66 and 5 answered from built
// requests (listings, uploads with their CRC check and what they refuse, downloads with the name
// and CRC echoed), the test controls that make replies go wrong, and the generated collision
// meshes.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <map>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "case_name.hpp"
#include "client/crc32.hpp"
#include "sim/file_store.hpp"
#include "sim/robot_model.hpp"
#include "sim/sim_robot.hpp"
#include "sim/stl_mesh.hpp"

namespace korvo::sim {
namespace {

using test::PrintTo;

using vyr::Mode;
namespace vyr_msg = zenoh_msgs::vyr_msg;
using Bytes = std::vector<std::uint8_t>;
using Files = std::map<std::string, Bytes>;

constexpr const char* kSerial = "SN-files";

Bytes B(std::string_view text) { return {text.begin(), text.end()}; }

std::int32_t CrcBits(const Bytes& bytes) {
  return static_cast<std::int32_t>(vyr_impl::Crc32(bytes));
}

vyr_msg::RPCRequest Request(std::uint16_t op_code, std::vector<std::string> strings = {},
                            std::vector<std::int32_t> ints = {}, Bytes bytes = {}) {
  vyr_msg::RPCRequest r;
  r.op_code = op_code;
  r.string_container = std::move(strings);
  r.int_container = std::move(ints);
  r.byte_container = std::move(bytes);
  return r;
}

vyr_msg::RPCRequest Upload(std::uint16_t op_code, const std::string& name, const Bytes& bytes) {
  return Request(op_code, {name}, {CrcBits(bytes)}, bytes);
}

vyr_msg::RPCRequest Download(std::uint16_t op_code, const std::string& name) {
  return Request(op_code, {name});
}

std::vector<std::string> List(SimRobot& robot, std::uint16_t op_code) {
  const auto reply = robot.HandleVyr(Request(op_code));
  EXPECT_TRUE(reply.success) << "listing " << op_code;
  EXPECT_EQ(reply.op_code, op_code);
  return reply.string_container;
}

// A download the robot grants must echo the name and carry the CRC of its bytes.
void ExpectGoodDownload(const vyr_msg::RPCReply& reply, const std::string& name,
                        const Bytes& bytes) {
  ASSERT_TRUE(reply.success) << name;
  EXPECT_EQ(reply.string_container, std::vector<std::string>{name});
  ASSERT_EQ(reply.int_container.size(), 1u);
  EXPECT_EQ(static_cast<std::uint32_t>(reply.int_container[0]), vyr_impl::Crc32(bytes));
  EXPECT_EQ(reply.byte_container, bytes);
}

class FileStoreTest : public ::testing::Test {
 protected:
  SimRobot robot_{kSerial, MakeRobotModel(vyr::ProductModel::Olvar_LL, 0)};
};

// ---- listings -----------------------------------------------------------------------------------

TEST_F(FileStoreTest, StartsWithTwoTrajectoryFilesAndOneProject) {
  EXPECT_EQ(List(robot_, 60), (std::vector<std::string>{"PolishSpiral.traj", "Wipe.traj"}));
  EXPECT_EQ(List(robot_, 63), std::vector<std::string>{"PolishTable"});
  const Files projects = robot_.project_files();
  EXPECT_EQ(projects.size(), 2u);
  EXPECT_TRUE(projects.contains("PolishTable.proj"));
  EXPECT_TRUE(projects.contains("PolishTable.plan"));
  for (const auto& [name, bytes] : robot_.traj_files()) EXPECT_FALSE(bytes.empty()) << name;
}

TEST_F(FileStoreTest, ListingsAreSortedByName) {
  for (const char* name : {"b.traj", "A.traj", "a-b.traj", "a.traj"}) {
    ASSERT_TRUE(robot_.HandleVyr(Upload(61, name, B(name))).success) << name;
  }
  for (const char* name : {"a.proj", "a.plan", "a-b.proj", "a-b.plan", "Z.proj", "Z.plan"}) {
    ASSERT_TRUE(robot_.HandleVyr(Upload(64, name, B(name))).success) << name;
  }
  EXPECT_EQ(List(robot_, 60), (std::vector<std::string>{"A.traj", "PolishSpiral.traj", "Wipe.traj",
                                                        "a-b.traj", "a.traj", "b.traj"}));
  EXPECT_EQ(List(robot_, 63), (std::vector<std::string>{"PolishTable", "Z", "a", "a-b"}));
}

// ---- uploads ------------------------------------------------------------------------------------

TEST_F(FileStoreTest, UploadStoresAndOverwritesAndTheDownloadGivesItBack) {
  const Bytes first = B("first\n"), second = B("second, longer\n");
  ASSERT_TRUE(robot_.HandleVyr(Upload(61, "New.traj", first)).success);
  EXPECT_EQ(robot_.traj_files().at("New.traj"), first);
  const auto reply = robot_.HandleVyr(Upload(61, "New.traj", second));
  EXPECT_TRUE(reply.success);
  EXPECT_EQ(reply.op_code, 61);
  EXPECT_EQ(robot_.traj_files().at("New.traj"), second);
  ExpectGoodDownload(robot_.HandleVyr(Download(62, "New.traj")), "New.traj", second);
}

TEST_F(FileStoreTest, CrcTravelsAsTheBitsOfTheUnsignedValue) {
  // Find a content whose CRC has the top bit set: its int32 form is negative.
  Bytes bytes;
  for (char c = 'a'; vyr_impl::Crc32(bytes) < 0x80000000u; ++c) bytes.push_back(c);
  ASSERT_LT(CrcBits(bytes), 0);
  ASSERT_TRUE(robot_.HandleVyr(Upload(61, "High.traj", bytes)).success);
  const auto reply = robot_.HandleVyr(Download(62, "High.traj"));
  ExpectGoodDownload(reply, "High.traj", bytes);
  EXPECT_EQ(reply.int_container.at(0), CrcBits(bytes));
}

TEST_F(FileStoreTest, EmptyFileHasCrcZero) {
  ASSERT_TRUE(robot_.HandleVyr(Request(61, {"Empty.traj"}, {0}, {})).success);
  const auto reply = robot_.HandleVyr(Download(62, "Empty.traj"));
  ExpectGoodDownload(reply, "Empty.traj", {});
  EXPECT_EQ(reply.int_container.at(0), 0);
}

struct RefusedUpload {
  const char* name;
  vyr_msg::RPCRequest request;
};

vyr_msg::RPCRequest WithCrc(vyr_msg::RPCRequest r, std::vector<std::int32_t> ints) {
  r.int_container = std::move(ints);
  return r;
}

vyr_msg::RPCRequest WithNames(vyr_msg::RPCRequest r, std::vector<std::string> names) {
  r.string_container = std::move(names);
  return r;
}

const Bytes kContent = B("content\n");

std::vector<RefusedUpload> RefusedUploads() {
  const std::string longest(FileStore::kMaxNameBytes - 5, 'x');
  return {
      {"traj: no name", WithNames(Upload(61, "a.traj", kContent), {})},
      {"traj: two names", WithNames(Upload(61, "a.traj", kContent), {"a.traj", "b.traj"})},
      {"traj: no CRC", WithCrc(Upload(61, "a.traj", kContent), {})},
      {"traj: two CRCs",
       WithCrc(Upload(61, "a.traj", kContent), {CrcBits(kContent), CrcBits(kContent)})},
      {"traj: wrong CRC", WithCrc(Upload(61, "a.traj", kContent), {CrcBits(kContent) ^ 1})},
      {"traj: CRC of no bytes", WithCrc(Upload(61, "a.traj", kContent), {0})},
      {"traj: empty name", Upload(61, "", kContent)},
      {"traj: name one byte too long", Upload(61, longest + "y.traj", kContent)},
      {"traj: slash", Upload(61, "dir/a.traj", kContent)},
      {"traj: parent", Upload(61, "../a.traj", kContent)},
      {"traj: backslash", Upload(61, "dir\\a.traj", kContent)},
      {"traj: NUL", Upload(61, std::string("a\0.traj", 7), kContent)},
      {"traj: dot", Upload(61, ".", kContent)},
      {"traj: dot dot", Upload(61, "..", kContent)},
      {"project: other extension", Upload(64, "P.txt", kContent)},
      {"project: no stem .proj", Upload(64, ".proj", kContent)},
      {"project: no stem .plan", Upload(64, ".plan", kContent)},
      {"project: extension inside", Upload(64, "P.proj.bak", kContent)},
      {"project: slash", Upload(64, "dir/P.proj", kContent)},
      {"project: wrong CRC", WithCrc(Upload(64, "P.proj", kContent), {CrcBits(kContent) + 1})},
      {"project: no name", WithNames(Upload(64, "P.proj", kContent), {})},
  };
}

class FileStoreRefusals : public ::testing::TestWithParam<RefusedUpload> {};

TEST_P(FileStoreRefusals, AreRefusedAndChangeNothing) {
  SimRobot robot(kSerial, MakeRobotModel(vyr::ProductModel::Olvar_L, 0));
  const Files traj = robot.traj_files(), projects = robot.project_files();
  const auto reply = robot.HandleVyr(GetParam().request);
  EXPECT_FALSE(reply.success);
  EXPECT_EQ(reply.op_code, GetParam().request.op_code);
  EXPECT_EQ(robot.traj_files(), traj);
  EXPECT_EQ(robot.project_files(), projects);
}

INSTANTIATE_TEST_SUITE_P(Uploads, FileStoreRefusals, ::testing::ValuesIn(RefusedUploads()));

TEST_F(FileStoreTest, NamesUpToTheLimitAreTaken) {
  const std::string longest = std::string(FileStore::kMaxNameBytes - 5, 'x') + ".traj";
  ASSERT_EQ(longest.size(), FileStore::kMaxNameBytes);
  EXPECT_TRUE(robot_.HandleVyr(Upload(61, longest, kContent)).success);
  EXPECT_TRUE(robot_.HandleVyr(Upload(61, "..hidden", kContent)).success);
  EXPECT_TRUE(robot_.traj_files().contains(longest));
}

TEST_F(FileStoreTest, FilesUpTo64MiBAreTakenLargerOnesRefused) {
  Bytes bytes(FileStore::kMaxFileBytes, 0x5a);
  EXPECT_TRUE(robot_.HandleVyr(Upload(61, "Max.traj", bytes)).success);
  bytes.push_back(0x5a);
  EXPECT_FALSE(robot_.HandleVyr(Upload(61, "Over.traj", bytes)).success);
  EXPECT_EQ(robot_.traj_files().at("Max.traj").size(), FileStore::kMaxFileBytes);
  EXPECT_FALSE(robot_.traj_files().contains("Over.traj"));
}

TEST_F(FileStoreTest, UploadsStopAtTheFileCountButOverwritesGoOn) {
  const std::size_t start = robot_.traj_files().size();
  for (std::size_t i = start; i < FileStore::kMaxFiles; ++i) {
    ASSERT_TRUE(robot_.HandleVyr(Upload(61, std::to_string(i) + ".traj", kContent)).success) << i;
  }
  EXPECT_FALSE(robot_.HandleVyr(Upload(61, "OneTooMany.traj", kContent)).success);
  EXPECT_TRUE(robot_.HandleVyr(Upload(61, "Wipe.traj", B("replaced"))).success);
  EXPECT_EQ(robot_.traj_files().size(), FileStore::kMaxFiles);
  EXPECT_EQ(robot_.traj_files().at("Wipe.traj"), B("replaced"));
}

// ---- projects -----------------------------------------------------------------------------------

TEST_F(FileStoreTest, AProjectIsListedOnlyWithBothFiles) {
  ASSERT_TRUE(robot_.HandleVyr(Upload(64, "Deburr.proj", B("proj"))).success);
  EXPECT_EQ(List(robot_, 63), std::vector<std::string>{"PolishTable"});
  ASSERT_TRUE(robot_.HandleVyr(Upload(64, "Deburr.plan", B("plan"))).success);
  EXPECT_EQ(List(robot_, 63), (std::vector<std::string>{"Deburr", "PolishTable"}));
  ExpectGoodDownload(robot_.HandleVyr(Download(65, "Deburr.plan")), "Deburr.plan", B("plan"));

  robot_.RemoveFile(FileKind::kProject, "PolishTable.plan");
  EXPECT_EQ(List(robot_, 63), std::vector<std::string>{"Deburr"});
  robot_.SetProjectFile("OnlyPlan.plan", B("plan"));
  EXPECT_EQ(List(robot_, 63), std::vector<std::string>{"Deburr"});
}

TEST_F(FileStoreTest, ProjectUploadsNeedIdleTrajectoryUploadsDoNot) {
  robot_.MakeReady();
  ASSERT_TRUE(
      robot_.HandleVyr(Request(8, {}, {static_cast<std::int32_t>(Mode::NRT_PLAN_EXECUTION)}))
          .success);
  EXPECT_FALSE(robot_.HandleVyr(Upload(64, "Busy.proj", kContent)).success);
  EXPECT_FALSE(robot_.project_files().contains("Busy.proj"));
  EXPECT_TRUE(robot_.HandleVyr(Upload(61, "Busy.traj", kContent)).success);
  EXPECT_TRUE(robot_.HandleVyr(Download(65, "PolishTable.proj")).success);

  ASSERT_TRUE(robot_.HandleVyr(Request(8, {}, {static_cast<std::int32_t>(Mode::IDLE)})).success);
  EXPECT_TRUE(robot_.HandleVyr(Upload(64, "Busy.proj", kContent)).success);
}

// ---- downloads ----------------------------------------------------------------------------------

struct DownloadCase {
  const char* name;
  std::uint16_t op_code;
  std::string file;
  bool granted;
};

std::vector<DownloadCase> DownloadCases() {
  const std::string mesh = "korvo_description/meshes/olvar_l/link0.stl";
  return {
      {"trajectory", 62, "Wipe.traj", true},
      {"unknown trajectory", 62, "Nope.traj", false},
      {"project file through the trajectory operation", 62, "PolishTable.proj", false},
      {"project file", 65, "PolishTable.plan", true},
      {"project name without extension", 65, "PolishTable", false},
      {"trajectory through the project operation", 65, "Wipe.traj", false},
      {"mesh", 66, mesh, true},
      {"mesh with package://", 66, "package://" + mesh, false},
      {"unknown mesh", 66, "korvo_description/meshes/olvar_l/link9.stl", false},
      {"URDF", 5, std::string(kSerial) + ".urdf", true},
      {"URDF of another serial", 5, "SN-other.urdf", false},
      {"serial without .urdf", 5, kSerial, false},
  };
}

class FileStoreDownloads : public ::testing::TestWithParam<DownloadCase> {};

TEST_P(FileStoreDownloads, EchoNameAndCrcOrAreRefused) {
  const DownloadCase& c = GetParam();
  SimRobot robot(kSerial, MakeRobotModel(vyr::ProductModel::Olvar_LL, 0));
  const auto reply = robot.HandleVyr(Download(c.op_code, c.file));
  EXPECT_EQ(reply.op_code, c.op_code);
  if (!c.granted) {
    EXPECT_FALSE(reply.success);
    return;
  }
  Bytes expected;
  switch (c.op_code) {
    case 62:
      expected = robot.traj_files().at(c.file);
      break;
    case 65:
      expected = robot.project_files().at(c.file);
      break;
    case 66:
      expected = robot.mesh_files().at(c.file);
      break;
    default:
      expected = B(robot.model().urdf());
  }
  ExpectGoodDownload(reply, c.file, expected);
}

INSTANTIATE_TEST_SUITE_P(Names, FileStoreDownloads, ::testing::ValuesIn(DownloadCases()));

TEST_F(FileStoreTest, DownloadsWithoutExactlyOneNameAreRefused) {
  for (const std::uint16_t op : {62, 65, 66, 5}) {
    EXPECT_FALSE(robot_.HandleVyr(Request(op)).success) << op;
    EXPECT_FALSE(robot_.HandleVyr(Request(op, {"Wipe.traj", "Wipe.traj"})).success) << op;
  }
}

TEST_F(FileStoreTest, ServedUrdfReplacesTheModelsUntilRestored) {
  const std::string name = std::string(kSerial) + ".urdf";
  robot_.ServeUrdf("<robot name=\"broken\"");
  ExpectGoodDownload(robot_.HandleVyr(Download(5, name)), name, B("<robot name=\"broken\""));
  robot_.ServeUrdf(std::nullopt);
  ExpectGoodDownload(robot_.HandleVyr(Download(5, name)), name, B(robot_.model().urdf()));
}

TEST_F(FileStoreTest, ControlsStoreAndRemoveEachKind) {
  robot_.SetTrajFile("../odd name", B("t"));
  robot_.SetMeshFile("pkg/m.stl", B("m"));
  EXPECT_EQ(robot_.traj_files().at("../odd name"), B("t"));
  ExpectGoodDownload(robot_.HandleVyr(Download(62, "../odd name")), "../odd name", B("t"));
  ExpectGoodDownload(robot_.HandleVyr(Download(66, "pkg/m.stl")), "pkg/m.stl", B("m"));

  robot_.RemoveFile(FileKind::kTraj, "../odd name");
  robot_.RemoveFile(FileKind::kMesh, "pkg/m.stl");
  EXPECT_FALSE(robot_.traj_files().contains("../odd name"));
  EXPECT_FALSE(robot_.HandleVyr(Download(66, "pkg/m.stl")).success);
  EXPECT_THROW(robot_.RemoveFile(FileKind::kTraj, "../odd name"), std::invalid_argument);
  EXPECT_THROW(robot_.RemoveFile(FileKind::kProject, "Wipe.traj"), std::invalid_argument);
}

// ---- replies made to go wrong -------------------------------------------------------------------

TEST_F(FileStoreTest, CorruptCrcHitsOnlyTheNextGrantedDownload) {
  const Bytes wipe = robot_.traj_files().at("Wipe.traj");
  robot_.CorruptNextDownload(DownloadFault::kCrc);
  EXPECT_FALSE(robot_.HandleVyr(Download(62, "Nope.traj")).success);  // refusals do not use it
  const auto bad = robot_.HandleVyr(Download(62, "Wipe.traj"));
  ASSERT_TRUE(bad.success);
  EXPECT_EQ(bad.string_container, std::vector<std::string>{"Wipe.traj"});
  EXPECT_EQ(bad.byte_container, wipe);
  EXPECT_NE(static_cast<std::uint32_t>(bad.int_container.at(0)), vyr_impl::Crc32(wipe));
  ExpectGoodDownload(robot_.HandleVyr(Download(62, "Wipe.traj")), "Wipe.traj", wipe);
}

TEST_F(FileStoreTest, CorruptNameHitsOnlyTheNextGrantedDownload) {
  const std::string name = std::string(kSerial) + ".urdf";
  const Bytes urdf = B(robot_.model().urdf());
  robot_.CorruptNextDownload(DownloadFault::kName);
  const auto bad = robot_.HandleVyr(Download(5, name));
  ASSERT_TRUE(bad.success);
  ASSERT_EQ(bad.string_container.size(), 1u);
  EXPECT_NE(bad.string_container[0], name);
  EXPECT_EQ(static_cast<std::uint32_t>(bad.int_container.at(0)), vyr_impl::Crc32(urdf));
  ExpectGoodDownload(robot_.HandleVyr(Download(5, name)), name, urdf);
}

TEST_F(FileStoreTest, CorruptCrcOfAnEmptyFileIsNotZero) {
  robot_.SetTrajFile("Empty.traj", {});
  robot_.CorruptNextDownload(DownloadFault::kCrc);
  EXPECT_NE(robot_.HandleVyr(Download(62, "Empty.traj")).int_container.at(0), 0);
}

// ---- collision meshes ---------------------------------------------------------------------------

// The mesh file names inside the URDF's <collision> elements, without "package://".
std::set<std::string> CollisionMeshPaths(const std::string& urdf) {
  std::set<std::string> paths;
  constexpr std::string_view kOpen = "<collision>", kClose = "</collision>",
                             kFile = "filename=\"package://";
  for (auto at = urdf.find(kOpen); at != std::string::npos; at = urdf.find(kOpen, at + 1)) {
    const auto end = urdf.find(kClose, at);
    const auto file = urdf.find(kFile, at);
    if (end == std::string::npos || file == std::string::npos || file > end) continue;
    const auto start = file + kFile.size();
    paths.insert(urdf.substr(start, urdf.find('"', start) - start));
  }
  return paths;
}

std::uint32_t U32At(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

float F32At(const Bytes& b, std::size_t at) { return std::bit_cast<float>(U32At(b, at)); }

class CollisionMeshes : public ::testing::TestWithParam<vyr::ProductModel> {};

TEST_P(CollisionMeshes, OneBinaryStlPerCollisionMeshOfTheUrdf) {
  SimRobot robot(kSerial, MakeRobotModel(GetParam(), 0));
  const auto paths = CollisionMeshPaths(robot.model().urdf());
  ASSERT_FALSE(paths.empty());
  std::set<std::string> stored;
  for (const auto& [path, bytes] : robot.mesh_files()) {
    stored.insert(path);
    ASSERT_GE(bytes.size(), kStlHeaderBytes + 4) << path;
    EXPECT_NE(std::string(bytes.begin(), bytes.begin() + 5), "solid") << path;
    const std::uint32_t triangles = U32At(bytes, kStlHeaderBytes);
    EXPECT_GT(triangles, 0u) << path;
    EXPECT_EQ(bytes.size(), kStlHeaderBytes + 4 + std::size_t{triangles} * kStlTriangleBytes)
        << path;
    // Every normal is a unit vector.
    for (std::uint32_t t = 0; t < triangles; ++t) {
      const std::size_t at = kStlHeaderBytes + 4 + t * kStlTriangleBytes;
      const float nx = F32At(bytes, at), ny = F32At(bytes, at + 4), nz = F32At(bytes, at + 8);
      EXPECT_NEAR(nx * nx + ny * ny + nz * nz, 1.0f, 1e-6f) << path << " triangle " << t;
    }
  }
  EXPECT_EQ(stored, paths);
}

INSTANTIATE_TEST_SUITE_P(Products, CollisionMeshes,
                         ::testing::Values(vyr::ProductModel::Olvar_L, vyr::ProductModel::Olvar_LL,
                                           vyr::ProductModel::TAVU_Core,
                                           vyr::ProductModel::TAVU_Plus,
                                           vyr::ProductModel::TAVU_Ultra));

TEST(StlBox, VerticesSpanTheBoxAndNormalsPointOutward) {
  const Eigen::Vector3d centre(0.1, -0.2, 0.3), size(0.2, 0.4, 0.6);
  const Bytes bytes = BoxStl("link", centre, size);
  ASSERT_EQ(bytes.size(), kStlHeaderBytes + 4 + 12 * kStlTriangleBytes);
  Eigen::Vector3d lo = Eigen::Vector3d::Constant(1e9), hi = -lo;
  for (std::size_t t = 0; t < 12; ++t) {
    const std::size_t at = kStlHeaderBytes + 4 + t * kStlTriangleBytes;
    Eigen::Vector3d normal, v[3];
    for (int i = 0; i < 3; ++i) normal[i] = F32At(bytes, at + 4 * i);
    for (int k = 0; k < 3; ++k) {
      for (int i = 0; i < 3; ++i) v[k][i] = F32At(bytes, at + 12 + 12 * k + 4 * i);
      lo = lo.cwiseMin(v[k]);
      hi = hi.cwiseMax(v[k]);
      // Outward: the vertex lies on the side of the centre the normal points to.
      EXPECT_GT((v[k] - centre).dot(normal), 0.0) << "triangle " << t;
    }
    // The winding agrees with the normal.
    EXPECT_GT((v[1] - v[0]).cross(v[2] - v[0]).dot(normal), 0.0) << "triangle " << t;
  }
  EXPECT_TRUE(lo.isApprox(centre - size / 2, 1e-6));
  EXPECT_TRUE(hi.isApprox(centre + size / 2, 1e-6));
}

}  // namespace
}  // namespace korvo::sim
