// Syncing template description files with the URDF a robot serves: only the joint origins change,
// joints the robot or the template lacks are left alone, malformed server origins are not copied,
// and every failure leaves the template as it was.
#include "model/description_sync.hpp"

#include <gtest/gtest.h>
#include <unistd.h>
#include <yaml-cpp/yaml.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "file_size_limit.hpp"
#include "outcome.hpp"

namespace korvo::vyr_impl {
namespace {

namespace fs = std::filesystem;
using test::Invalid;
using test::OutcomeOf;
using test::Runtime;

// A joint's name and its <origin> element as written ("" for none).
using JointText = std::pair<std::string, std::string>;

std::string Origin(const std::string& attributes) { return "<origin " + attributes + "/>"; }

// A URDF with the given joints, each between a link of its own and the base, and elements that a
// sync must keep: a comment, a material and a limit. Laid out as a saved template is (four spaces
// per level), so a sync that changes nothing else leaves it byte for byte.
std::string Urdf(const std::vector<JointText>& joints) {
  std::string text =
      "<?xml version=\"1.0\"?>\n<!-- nominal description -->\n<robot name=\"arm\">\n";
  text +=
      "    <material name=\"grey\">\n        <color rgba=\"0.5 0.5 0.5 1\"/>\n    </material>\n";
  text += "    <link name=\"base\"/>\n";
  for (const auto& [name, origin] : joints) {
    text += "    <link name=\"" + name + "_link\"/>\n";
    text += "    <joint name=\"" + name + "\" type=\"revolute\">\n";
    text += "        <parent link=\"base\"/>\n        <child link=\"" + name + "_link\"/>\n";
    if (!origin.empty()) text += "        " + origin + "\n";
    text +=
        "        <limit lower=\"-1\" upper=\"1\" effort=\"10\" velocity=\"1\"/>\n    </joint>\n";
  }
  return text + "</robot>\n";
}

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// The server side of a sync: its URDF, or nothing, and how often it was asked.
struct Server {
  std::optional<std::string> urdf;
  int asked = 0;
  UrdfSource Source() {
    return [this]() -> std::optional<std::vector<std::uint8_t>> {
      ++asked;
      if (!urdf) return std::nullopt;
      return Bytes(*urdf);
    };
  }
};

const std::vector<JointText> kServerJoints = {
    {"j1", Origin("xyz=\"0.1 0 -0.2\" rpy=\"0 0 1.5\"")},
    {"j2", Origin("xyz=\"1 2 3\"")},                            // no rpy: not copied
    {"j3", Origin("xyz=\"1 2\" rpy=\"0 0 0\"")},                // two numbers: not copied
    {"j4", Origin("xyz=\"nan 0 0\" rpy=\"0 0 0\"")},            // not finite: not copied
    {"j5", Origin("xyz=\"0.5 0.5 0.5\" rpy=\"0.1 0.2 0.3\"")},  // the template lacks xyz
    {"j6", ""},                                                 // no origin
    {"j7", Origin("xyz=\"7 7 7\" rpy=\"7 7 7\"")},              // not in the template
    {"j8", Origin("xyz=\"  0.25\t-1e-3  4 \" rpy=\"0 0 0\"")},  // copied as written
};

class DescriptionSyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("korvo-sync-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    server_.urdf = Urdf(kServerJoints);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return (dir_ / name).string();
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
  Server server_;
};

TEST_F(DescriptionSyncTest, UrdfTakesTheServersOriginsAndKeepsEverythingElse) {
  const std::string nominal = Origin("xyz=\"0 0 0\" rpy=\"0 0 0\"");
  const std::vector<JointText> before = {
      {"j1", nominal},
      {"j2", nominal},
      {"j3", nominal},
      {"j4", nominal},
      {"j5", Origin("rpy=\"0 0 0\"")},
      {"j6", nominal},
      {"j8", nominal},
      {"j9", nominal},  // j9: not on the server
  };
  const std::vector<JointText> after = {
      {"j1", Origin("xyz=\"0.1 0 -0.2\" rpy=\"0 0 1.5\"")},
      {"j2", nominal},
      {"j3", nominal},
      {"j4", nominal},
      {"j5", Origin("rpy=\"0.1 0.2 0.3\" xyz=\"0.5 0.5 0.5\"")},
      {"j6", nominal},
      {"j8", Origin("xyz=\"  0.25\t-1e-3  4 \" rpy=\"0 0 0\"")},
      {"j9", nominal},
  };
  const auto path = Write("robot.urdf", Urdf(before));
  SyncUrdfTemplate(path, server_.Source());
  EXPECT_EQ(Read(path), Urdf(after));
  EXPECT_EQ(server_.asked, 1);
}

TEST_F(DescriptionSyncTest, UrdfFailuresLeaveTheTemplateAsItWas) {
  const std::string prefix = "[korvo::vyr::Model::SyncURDF] ";
  const std::string template_text = Urdf({{"j1", Origin("xyz=\"0 0 0\" rpy=\"0 0 0\"")}});
  struct Case {
    const char* name;
    std::optional<std::string> file;  // the template's content; none: no file
    std::optional<std::string> served;
    bool asks_server;
  };
  const std::vector<Case> cases = {
      {"no template", std::nullopt, Urdf(kServerJoints), false},
      {"a folder", std::nullopt, Urdf(kServerJoints), false},
      {"template not XML", "<robot name=\"arm\">", Urdf(kServerJoints), false},
      {"template without robot", "<?xml version=\"1.0\"?>\n<model/>\n", Urdf(kServerJoints), false},
      {"nothing served", template_text, std::nullopt, true},
      {"served text not XML", template_text, "<robot><joint name=\"j1\">", true},
      {"served XML without robot", template_text, "<model><joint name=\"j1\"/></model>", true},
      {"served nothing at all", template_text, "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = (dir_ / "robot.urdf").string();
    fs::remove(path);
    if (c.file) Write("robot.urdf", *c.file);
    if (std::string(c.name) == "a folder") fs::create_directory(path);
    Server server{c.served};
    const auto outcome = OutcomeOf([&] { SyncUrdfTemplate(path, server.Source()); });
    if (!c.file || c.file != template_text) {
      EXPECT_EQ(outcome, Invalid(prefix + "Failed to load template URDF at [" + path + "]"));
    } else if (!c.served) {
      EXPECT_EQ(outcome, Runtime(prefix + "Failed to obtain URDF from server"));
    } else {
      EXPECT_EQ(outcome, Runtime(prefix + "Failed to parse the URDF obtained from server"));
    }
    EXPECT_EQ(server.asked, c.asks_server ? 1 : 0);
    if (c.file) {
      EXPECT_EQ(Read(path), *c.file);
    }
  }
}

TEST_F(DescriptionSyncTest, AFailedSaveReportsThePathAndKeepsBothTemplates) {
  const std::string urdf = Urdf({{"j1", Origin("xyz=\"0 0 0\" rpy=\"0 0 0\"")}});
  const std::string yaml = "kinematics:\n  j1: {x: 0, y: 0, z: 0, roll: 0, pitch: 0, yaw: 0}\n";
  const auto urdf_path = Write("robot.urdf", urdf);
  const auto yaml_path = Write("kinematics.yaml", yaml);
  {
    // No file of this process may grow beyond 16 bytes: both saves fail half-way.
    test::FileSizeLimit limit(16);
    EXPECT_EQ(OutcomeOf([&] { SyncUrdfTemplate(urdf_path, server_.Source()); }),
              Runtime("[korvo::vyr::Model::SyncURDF] Failed to save updated URDF to [" + urdf_path +
                      "]"));
    EXPECT_EQ(OutcomeOf([&] { SyncKinematicsYamlTemplate(yaml_path, server_.Source()); }),
              Runtime("[korvo::vyr::Model::SyncKinematicsYAML] Failed to save updated YAML to [" +
                      yaml_path + "]"));
  }
  EXPECT_EQ(Read(urdf_path), urdf);
  EXPECT_EQ(Read(yaml_path), yaml);
  std::vector<std::string> entries;
  for (const auto& e : fs::directory_iterator(dir_)) entries.push_back(e.path().filename());
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"kinematics.yaml", "robot.urdf"}));
}

TEST_F(DescriptionSyncTest, YamlTakesTheServersOriginsOfTheJointsItLists) {
  const std::string zero = "{x: 9, y: 9, z: 9, roll: 9, pitch: 9, yaw: 9, note: keep}";
  const auto path = Write("kinematics.yaml",
                          "# nominal\nrobot: arm\nkinematics:\n  j1: " + zero + "\n  j2: " + zero +
                              "\n  j3: " + zero + "\n  j4: " + zero + "\n  j6: " + zero +
                              "\n  j8: " + zero + "\n  j9: " + zero + "\nlimits: [1, 2]\n");
  server_.urdf = Urdf({
      {"j1", Origin("xyz=\"0.1 0 -0.2\" rpy=\"0 0 1.5\"")},
      {"j2", Origin("xyz=\"1 2 3\"")},                  // xyz only
      {"j3", Origin("xyz=\"1 2\" rpy=\"0 0 0\"")},      // two numbers: left out
      {"j4", Origin("xyz=\"0 0 0\" rpy=\"0 inf 0\"")},  // not finite: left out
      {"j5", Origin("xyz=\"5 5 5\" rpy=\"5 5 5\"")},    // not listed
      {"j6", Origin("name=\"bare\"")},                  // neither attribute: counted, unchanged
      {"j8", ""},                                       // no origin: left out
  });

  EXPECT_EQ(SyncKinematicsYamlTemplate(path, server_.Source()), 3);

  const YAML::Node doc = YAML::LoadFile(path);
  const auto values = [&](const char* joint) {
    std::vector<double> v;
    for (const char* key : {"x", "y", "z", "roll", "pitch", "yaw"}) {
      v.push_back(doc["kinematics"][joint][key].as<double>());
    }
    return v;
  };
  const std::vector<double> nines(6, 9.0);
  EXPECT_EQ(values("j1"), (std::vector<double>{0.1, 0.0, -0.2, 0.0, 0.0, 1.5}));
  EXPECT_EQ(values("j2"), (std::vector<double>{1, 2, 3, 9, 9, 9}));
  for (const char* joint : {"j3", "j4", "j6", "j8", "j9"}) EXPECT_EQ(values(joint), nines) << joint;
  EXPECT_FALSE(doc["kinematics"]["j5"]);
  EXPECT_EQ(doc["kinematics"]["j1"]["note"].as<std::string>(), "keep");
  EXPECT_EQ(doc["robot"].as<std::string>(), "arm");
  EXPECT_EQ(doc["limits"].as<std::vector<int>>(), (std::vector<int>{1, 2}));
}

TEST_F(DescriptionSyncTest, YamlFailuresLeaveTheTemplateAsItWas) {
  const std::string prefix = "[korvo::vyr::Model::SyncKinematicsYAML] ";
  const std::string good = "kinematics:\n  j1: {x: 0}\n";
  struct Case {
    const char* name;
    std::optional<std::string> file;
    std::optional<std::string> served;
    test::Outcome outcome;  // "<path>" stands for the template's path
  };
  const std::string load = prefix + "Failed to load template YAML at [<path>]";
  const std::string missing = prefix + "Missing <kinematics> root node in the template YAML";
  const std::vector<Case> cases = {
      {"no template", std::nullopt, Urdf(kServerJoints), Invalid(load)},
      {"a folder", std::nullopt, Urdf(kServerJoints), Invalid(load)},
      {"not YAML", "kinematics: [1, 2\n", Urdf(kServerJoints), Invalid(load)},
      {"no kinematics", "robot: arm\n", Urdf(kServerJoints), Invalid(missing)},
      {"a list", "- kinematics\n", Urdf(kServerJoints), Invalid(missing)},
      {"kinematics a number", "kinematics: 3\n", Urdf(kServerJoints), Invalid(missing)},
      {"nothing served", good, std::nullopt, Runtime(prefix + "Failed to obtain URDF from server")},
      {"served text not XML", good, "<robot>",
       Runtime(prefix + "Failed to parse the URDF obtained from server")},
      {"served XML without robot", good, "<model/>",
       Runtime(prefix + "Failed to find <robot> element in URDF")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = (dir_ / "kinematics.yaml").string();
    fs::remove(path);
    if (c.file) Write("kinematics.yaml", *c.file);
    if (std::string(c.name) == "a folder") fs::create_directory(path);
    Server server{c.served};
    auto expected = c.outcome;
    if (const auto at = expected.message.find("<path>"); at != std::string::npos) {
      expected.message.replace(at, 6, path);
    }
    EXPECT_EQ(OutcomeOf([&] { SyncKinematicsYamlTemplate(path, server.Source()); }), expected);
    // The robot is asked only once the template is known to be usable.
    EXPECT_EQ(server.asked, expected.kind == test::Outcome::kRuntimeError ? 1 : 0);
    if (c.file) {
      EXPECT_EQ(Read(path), *c.file);
    }
  }
}

}  // namespace
}  // namespace korvo::vyr_impl
