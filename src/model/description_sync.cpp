#include "model/description_sync.hpp"

#include <spdlog/spdlog.h>
#include <tinyxml2.h>
#include <yaml-cpp/yaml.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <stdexcept>

#include "interfaces/local_files.hpp"

namespace korvo::vyr_impl {
namespace {

constexpr char kUrdfPrefix[] = "[korvo::vyr::Model::SyncURDF] ";
constexpr char kYamlPrefix[] = "[korvo::vyr::Model::SyncKinematicsYAML] ";

// Three blank-separated finite numbers at the start of `text`, as an origin's "xyz" or "rpy".
std::optional<std::array<double, 3>> ReadTriple(const char* text) {
  std::array<double, 3> v{};
  if (std::sscanf(text, "%lf %lf %lf", &v[0], &v[1], &v[2]) != 3) return std::nullopt;
  for (const double x : v) {
    if (!std::isfinite(x)) return std::nullopt;
  }
  return v;
}

// An attribute absent (nullptr) or holding three finite numbers.
bool AbsentOrTriple(const char* text) { return text == nullptr || ReadTriple(text).has_value(); }

// The server's URDF parsed, with its <robot> element; nothing when it cannot be parsed or has no
// robot.
tinyxml2::XMLElement* ParseServer(tinyxml2::XMLDocument& doc,
                                  const std::vector<std::uint8_t>& bytes) {
  if (doc.Parse(reinterpret_cast<const char*>(bytes.data()), bytes.size()) !=
      tinyxml2::XML_SUCCESS) {
    return nullptr;
  }
  return doc.FirstChildElement("robot");
}

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace

void SyncUrdfTemplate(const std::string& path, const UrdfSource& server) {
  // Read as bytes first: only a regular file is opened, never a directory or a pipe.
  tinyxml2::XMLDocument target(true, tinyxml2::PRESERVE_WHITESPACE);
  tinyxml2::XMLElement* target_robot = nullptr;
  if (const auto text = ReadFile(path)) {
    if (target.Parse(reinterpret_cast<const char*>(text->data()), text->size()) ==
        tinyxml2::XML_SUCCESS) {
      target_robot = target.FirstChildElement("robot");
    }
  }
  if (!target_robot) {
    throw std::invalid_argument(std::string(kUrdfPrefix) + "Failed to load template URDF at [" +
                                path + "]");
  }

  const auto bytes = server();
  if (!bytes)
    throw std::runtime_error(std::string(kUrdfPrefix) + "Failed to obtain URDF from server");
  tinyxml2::XMLDocument source(true, tinyxml2::PRESERVE_WHITESPACE);
  const tinyxml2::XMLElement* source_robot = ParseServer(source, *bytes);
  if (!source_robot) {
    throw std::runtime_error(std::string(kUrdfPrefix) +
                             "Failed to parse the URDF obtained from server");
  }

  // The first template joint of each name.
  std::map<std::string, tinyxml2::XMLElement*, std::less<>> target_joints;
  for (auto* joint = target_robot->FirstChildElement("joint"); joint;
       joint = joint->NextSiblingElement("joint")) {
    if (const char* name = joint->Attribute("name")) target_joints.emplace(name, joint);
  }
  for (const auto* joint = source_robot->FirstChildElement("joint"); joint;
       joint = joint->NextSiblingElement("joint")) {
    const char* name = joint->Attribute("name");
    if (!name) continue;
    const auto found = target_joints.find(std::string_view(name));
    if (found == target_joints.end()) continue;
    const auto* origin = joint->FirstChildElement("origin");
    auto* target_origin = found->second->FirstChildElement("origin");
    if (!origin || !target_origin) continue;
    const char* rpy = origin->Attribute("rpy");
    const char* xyz = origin->Attribute("xyz");
    if (!rpy || !xyz) continue;
    if (!ReadTriple(rpy) || !ReadTriple(xyz)) {
      spdlog::debug("{}Joint [{}] of the server has a malformed origin: left unchanged",
                    kUrdfPrefix, name);
      continue;
    }
    target_origin->SetAttribute("rpy", rpy);
    target_origin->SetAttribute("xyz", xyz);
  }

  tinyxml2::XMLPrinter printer(nullptr, false);
  target.Print(&printer);
  const std::string text(printer.CStr(), static_cast<std::size_t>(printer.CStrSize() - 1));
  if (!SaveFile(path, Bytes(text))) {
    throw std::runtime_error(std::string(kUrdfPrefix) + "Failed to save updated URDF to [" + path +
                             "]");
  }
}

int SyncKinematicsYamlTemplate(const std::string& path, const UrdfSource& server) {
  const auto not_loaded = [&path] {
    return std::invalid_argument(std::string(kYamlPrefix) + "Failed to load template YAML at [" +
                                 path + "]");
  };
  // Read as bytes first: only a regular file is opened, never a directory or a pipe.
  const auto file = ReadFile(path);
  if (!file) throw not_loaded();
  YAML::Node doc;
  try {
    doc = YAML::Load(std::string(file->begin(), file->end()));
  } catch (const YAML::Exception& e) {
    spdlog::debug("{}{}", kYamlPrefix, e.what());
    throw not_loaded();
  }
  // Looked up through a const node: a lookup must not add the key it looks for.
  const YAML::Node& const_doc = doc;
  const YAML::Node kinematics =
      const_doc.IsMap() ? const_doc["kinematics"] : YAML::Node(YAML::NodeType::Undefined);
  // Joints are looked up by name in it, so only a map (or an empty entry) can be synced.
  if (!kinematics || !(kinematics.IsMap() || kinematics.IsNull())) {
    throw std::invalid_argument(std::string(kYamlPrefix) +
                                "Missing <kinematics> root node in the template YAML");
  }

  const auto bytes = server();
  if (!bytes)
    throw std::runtime_error(std::string(kYamlPrefix) + "Failed to obtain URDF from server");
  tinyxml2::XMLDocument source(true, tinyxml2::PRESERVE_WHITESPACE);
  if (source.Parse(reinterpret_cast<const char*>(bytes->data()), bytes->size()) !=
      tinyxml2::XML_SUCCESS) {
    throw std::runtime_error(std::string(kYamlPrefix) +
                             "Failed to parse the URDF obtained from server");
  }
  const auto* robot = source.FirstChildElement("robot");
  if (!robot) {
    throw std::runtime_error(std::string(kYamlPrefix) + "Failed to find <robot> element in URDF");
  }

  int count = 0;
  for (const auto* joint = robot->FirstChildElement("joint"); joint;
       joint = joint->NextSiblingElement("joint")) {
    const char* name = joint->Attribute("name");
    if (!name) continue;
    const YAML::Node listed = kinematics[name];
    if (!listed) continue;
    const auto* origin = joint->FirstChildElement("origin");
    if (!origin) continue;
    const char* xyz = origin->Attribute("xyz");
    const char* rpy = origin->Attribute("rpy");
    if (!(listed.IsMap() || listed.IsNull()) || !AbsentOrTriple(xyz) || !AbsentOrTriple(rpy)) {
      spdlog::debug(
          "{}Joint [{}] left unchanged: its entry is not a map or its origin does not "
          "hold three numbers",
          kYamlPrefix, name);
      continue;
    }
    YAML::Node entry = doc["kinematics"][name];
    if (xyz) {
      const auto v = *ReadTriple(xyz);
      entry["x"] = v[0];
      entry["y"] = v[1];
      entry["z"] = v[2];
    }
    if (rpy) {
      const auto v = *ReadTriple(rpy);
      entry["roll"] = v[0];
      entry["pitch"] = v[1];
      entry["yaw"] = v[2];
    }
    spdlog::debug("{}Synced [{}]", kYamlPrefix, name);
    ++count;
  }

  std::ostringstream text;
  text << doc;
  if (!SaveFile(path, Bytes(text.str()))) {
    throw std::runtime_error(std::string(kYamlPrefix) + "Failed to save updated YAML to [" + path +
                             "]");
  }
  return count;
}

}  // namespace korvo::vyr_impl
