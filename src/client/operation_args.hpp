// Arguments of the generic VYR operation call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "korvo/vyr/enums.hpp"

namespace korvo::vyr_impl {

// Each field is copied into the request container of the same kind; empty fields send empty
// containers.
struct OperationArgs {
  std::vector<vyr::JointGroup> joint_groups;
  std::vector<bool> bools;
  std::vector<std::int32_t> ints;
  std::vector<float> floats;
  std::vector<std::string> strings;
};

}  // namespace korvo::vyr_impl
