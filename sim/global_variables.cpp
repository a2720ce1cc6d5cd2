#include "sim/global_variables.hpp"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace korvo::sim {
namespace {

std::vector<std::string> Tokens(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> tokens;
  for (std::string token; in >> token;) tokens.push_back(token);
  return tokens;
}

bool IsInt(const std::string& token) {
  if (token.empty()) return false;
  std::size_t i = token[0] == '-' ? 1 : 0;
  if (i == token.size()) return false;
  for (; i < token.size(); ++i) {
    if (token[i] < '0' || token[i] > '9') return false;
  }
  errno = 0;
  const long long v = std::strtoll(token.c_str(), nullptr, 10);
  return errno == 0 && v >= INT32_MIN && v <= INT32_MAX;
}

std::optional<double> Number(const std::string& token) {
  if (token.empty()) return std::nullopt;
  char* end = nullptr;
  const double v = std::strtod(token.c_str(), &end);
  if (end != token.c_str() + token.size()) return std::nullopt;
  return v;
}

// A real number as the robot writes it: always with a decimal point or an exponent.
std::string Real(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.9g", v);
  std::string text = buffer;
  if (text.find_first_of(".eEn") == std::string::npos) text += ".0";
  return text;
}

std::string Join(const std::vector<std::string>& parts, const std::string& separator) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += separator;
    out += parts[i];
  }
  return out;
}

std::optional<std::string> Reals(const std::vector<std::string>& tokens) {
  std::vector<std::string> out;
  for (const auto& t : tokens) {
    const auto v = Number(t);
    if (!v) return std::nullopt;
    out.push_back(Real(*v));
  }
  return Join(out, " ");
}

std::optional<std::string> JPosText(const std::string& text) {
  const auto tokens = Tokens(text);
  if (tokens.size() != 13) return std::nullopt;
  return Reals(tokens);
}

// 8, 15 or 21 tokens (position, orientation, frame, then optional reference joints), reported
// with all 21.
std::optional<std::string> CoordText(const std::string& text) {
  auto tokens = Tokens(text);
  if (tokens.size() != 8 && tokens.size() != 15 && tokens.size() != 21) return std::nullopt;
  while (tokens.size() < 21) tokens.push_back("0");
  std::vector<std::string> numbers(tokens.begin(), tokens.begin() + 6);
  numbers.insert(numbers.end(), tokens.begin() + 8, tokens.end());
  const auto reals = Reals(numbers);
  if (!reals) return std::nullopt;
  if (Number(tokens[6]) || Number(tokens[7])) return std::nullopt;
  const auto parts = Tokens(*reals);
  std::vector<std::string> out(parts.begin(), parts.begin() + 6);
  out.push_back(tokens[6]);
  out.push_back(tokens[7]);
  out.insert(out.end(), parts.begin() + 6, parts.end());
  return Join(out, " ");
}

// Items of a list of JPOS or COORD values, separated by ":".
std::optional<std::string> ListText(const std::string& text,
                                    std::optional<std::string> (*item)(const std::string&)) {
  std::vector<std::string> items;
  std::string current;
  for (const auto& token : Tokens(text)) {
    if (token == ":") {
      items.push_back(current);
      current.clear();
    } else {
      current += token + " ";
    }
  }
  items.push_back(current);
  std::vector<std::string> out;
  for (const auto& i : items) {
    const auto normalized = item(i);
    if (!normalized) return std::nullopt;
    out.push_back(*normalized);
  }
  return Join(out, " : ");
}

}  // namespace

std::optional<std::string> NormalizeValue(VariableType type, const std::string& value) {
  const auto tokens = Tokens(value);
  switch (type) {
    case VariableType::kInt:
      if (tokens.size() != 1 || !IsInt(tokens[0])) return std::nullopt;
      return tokens[0];
    case VariableType::kDouble:
      if (tokens.size() != 1) return std::nullopt;
      return Reals(tokens);
    case VariableType::kString:
      if (tokens.size() != 1) return std::nullopt;
      return tokens[0];
    case VariableType::kJPos:
      return JPosText(value);
    case VariableType::kCoord:
      return CoordText(value);
    case VariableType::kIntArray:
      for (const auto& t : tokens) {
        if (!IsInt(t)) return std::nullopt;
      }
      return Join(tokens, " ");
    case VariableType::kDoubleArray:
      return Reals(tokens);
    case VariableType::kStringArray:
      return Join(tokens, " ");
    case VariableType::kJPosArray:
      return ListText(value, &JPosText);
    case VariableType::kCoordArray:
      return ListText(value, &CoordText);
  }
  return std::nullopt;
}

GlobalVariables::GlobalVariables() {
  const std::string zero_jpos = "0 0 0 0 0 0 0 0 0 0 0 0 0";
  const std::string origin = "0.4 0 0.3 180 0 90 WORLD WORLD_ORIGIN";
  Define("cycle_count", VariableType::kInt, "0");
  Define("speed_factor", VariableType::kDouble, "0.5");
  Define("station_name", VariableType::kString, "cell_a");
  Define("home_pose", VariableType::kJPos, zero_jpos);
  Define("pick_point", VariableType::kCoord, origin);
  Define("bin_counts", VariableType::kIntArray, "0 0 0");
  Define("offsets", VariableType::kDoubleArray, "0 0 0");
  Define("part_names", VariableType::kStringArray, "bolt nut");
  Define("via_poses", VariableType::kJPosArray, zero_jpos + " : " + zero_jpos);
  Define("place_points", VariableType::kCoordArray, origin + " : " + origin);
}

void GlobalVariables::Define(const std::string& name, VariableType type, const std::string& value) {
  variables_[name] = Variable{type, NormalizeValue(type, value).value_or(value)};
}

std::vector<std::string> GlobalVariables::Texts() const {
  std::vector<std::string> texts;
  for (const auto& [name, variable] : variables_) texts.push_back(name + " = " + variable.text);
  return texts;
}

std::optional<std::string> GlobalVariables::Value(const std::string& name) const {
  const auto it = variables_.find(name);
  if (it == variables_.end()) return std::nullopt;
  return it->second.text;
}

bool GlobalVariables::Assign(const std::string& assignments) {
  // "a = 1, b = 2": an assignment starts at the beginning or after ", " that is followed by a
  // name (characters other than blanks, '=' and ',') and " = ". One pass over the text, so no
  // peer's text can make the scan recurse or backtrack.
  const auto in_name = [](char c) {
    return c != '=' && c != ',' && !std::isspace(static_cast<unsigned char>(c));
  };
  std::vector<std::pair<std::string, std::size_t>> starts;  // name, start of its value
  std::vector<std::size_t> begins;
  for (std::size_t i = 0; i < assignments.size();) {
    if (!in_name(assignments[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < assignments.size() && in_name(assignments[end])) ++end;
    if (assignments.compare(end, 3, " = ") != 0) {
      i = end;
      continue;
    }
    if (i == 0 || (i >= 2 && assignments.compare(i - 2, 2, ", ") == 0)) {
      begins.push_back(i);
      starts.emplace_back(assignments.substr(i, end - i), end + 3);
    }
    i = end + 3;
  }
  if (starts.empty() || begins.front() != 0) return false;

  std::map<std::string, std::string> updates;
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const std::size_t end = i + 1 < starts.size() ? begins[i + 1] - 2 : assignments.size();
    const auto& [name, start] = starts[i];
    const auto it = variables_.find(name);
    if (it == variables_.end()) return false;
    const auto normalized = NormalizeValue(it->second.type, assignments.substr(start, end - start));
    if (!normalized) return false;
    updates[name] = *normalized;
  }
  for (const auto& [name, text] : updates) variables_[name].text = text;
  return true;
}

}  // namespace korvo::sim
