// The simulated robot's global variables: typed, validated on write and reported in the robot's
// own value syntax ("name = value", numbers of real-valued types always with a decimal point,
// COORD values with all 21 tokens).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvo::sim {

enum class VariableType {
  kInt,
  kDouble,
  kString,
  kJPos,
  kCoord,
  kIntArray,
  kDoubleArray,
  kStringArray,
  kJPosArray,
  kCoordArray,
};

class GlobalVariables {
 public:
  // A set of variables of every type, as a fresh robot has them.
  GlobalVariables();

  // One "name = value" text per variable, in name order.
  std::vector<std::string> Texts() const;

  // Applies "a = 1, b = 2.5"-style assignments. Returns false, changing nothing, when a name is
  // unknown or a value does not fit its variable's type.
  bool Assign(const std::string& assignments);

  // The stored text of one variable, if it exists.
  std::optional<std::string> Value(const std::string& name) const;

  void Define(const std::string& name, VariableType type, const std::string& value);

 private:
  struct Variable {
    VariableType type;
    std::string text;
  };
  std::map<std::string, Variable> variables_;
};

// The text of `value` for a variable of `type` in the robot's syntax, or nothing when it does not
// fit the type.
std::optional<std::string> NormalizeValue(VariableType type, const std::string& value);

}  // namespace korvo::sim
