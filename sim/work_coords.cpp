#include "sim/work_coords.hpp"

#include <algorithm>
#include <cmath>

namespace korvo::sim {

WorkCoords::WorkCoords() {
  entries_.emplace_back("WorkTable", std::vector<float>{0.6f, 0.0f, 0.1f, 1.0f, 0.0f, 0.0f, 0.0f});
}

std::vector<float>* WorkCoords::Find(const std::string& name) {
  const auto it = std::find_if(entries_.begin(), entries_.end(),
                               [&](const auto& e) { return e.first == name; });
  return it == entries_.end() ? nullptr : &it->second;
}

const std::string* WorkCoords::Name(const Request& request) {
  if (request.string_container.size() != 1) return nullptr;
  const std::string& name = request.string_container[0];
  if (name.empty() || name.size() > kMaxNameBytes) return nullptr;
  return &name;
}

bool WorkCoords::ValidPose(const Request& request) {
  const auto& v = request.float_container;
  return v.size() == 7 && std::all_of(v.begin(), v.end(), [](float x) { return std::isfinite(x); });
}

bool WorkCoords::Handle(const Request& request, zenoh_msgs::vyr_msg::RPCReply& reply, bool idle) {
  if (request.op_code == 54) {
    for (const auto& [name, values] : entries_) reply.string_container.push_back(name);
    return true;
  }
  const std::string* name = Name(request);
  if (!name) return false;
  std::vector<float>* stored = Find(*name);
  switch (request.op_code) {
    case 53:
      if (!stored) return false;
      reply.float_container = *stored;
      return true;
    case 50:
      if (!idle || stored || entries_.size() >= kMaxEntries || !ValidPose(request)) return false;
      entries_.emplace_back(*name, request.float_container);
      return true;
    case 51:
      if (!idle || !stored || !ValidPose(request)) return false;
      *stored = request.float_container;
      return true;
    case 52:
      if (!idle || !stored) return false;
      std::erase_if(entries_, [&](const auto& e) { return e.first == *name; });
      return true;
    default:
      return false;
  }
}

void WorkCoords::SetValues(const std::string& name, std::vector<float> values) {
  if (std::vector<float>* stored = Find(name)) {
    *stored = std::move(values);
  } else {
    entries_.emplace_back(name, std::move(values));
  }
}

}  // namespace korvo::sim
