#include "sim/primitive_text.hpp"

#include <charconv>
#include <cmath>

namespace korvo::sim {
namespace {

constexpr std::string_view kBlanks = " \t\n\v\f\r";

bool NameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// Whether "key = " starts at `pos`, with a key of at least one character that is no blank, '='
// or ','.
bool KeyAt(std::string_view text, std::size_t pos) {
  std::size_t end = pos;
  while (end < text.size() && kBlanks.find(text[end]) == std::string_view::npos &&
         text[end] != '=' && text[end] != ',') {
    ++end;
  }
  return end > pos && text.substr(end, 3) == " = ";
}

}  // namespace

std::optional<PrimitiveCall> ParsePrimitiveCall(std::string_view text) {
  if (text.size() > kMaxPrimitiveTextBytes ||
      text.find_first_of("\r\n") != std::string_view::npos) {
    return std::nullopt;
  }
  std::size_t open = 0;
  while (open < text.size() && NameChar(text[open])) ++open;
  if (open == 0 || open == text.size() || text[open] != '(' || text.back() != ')') {
    return std::nullopt;
  }
  return PrimitiveCall{std::string(text.substr(0, open)),
                       std::string(text.substr(open + 1, text.size() - open - 2))};
}

std::optional<std::string> PrimitiveArgument(std::string_view arguments, std::string_view name) {
  const std::string key = std::string(name) + " = ";
  std::size_t pos = 0;
  while ((pos = arguments.find(key, pos)) != std::string_view::npos) {
    if (pos == 0 || (pos >= 2 && arguments.substr(pos - 2, 2) == ", ")) break;
    ++pos;
  }
  if (pos == std::string_view::npos) return std::nullopt;
  const std::string_view rest = arguments.substr(pos + key.size());
  // Each scan for a key stops at the next ',' at the latest: the whole search is linear.
  for (std::size_t comma = rest.find(", "); comma != std::string_view::npos;
       comma = rest.find(", ", comma + 1)) {
    if (KeyAt(rest, comma + 2)) return std::string(rest.substr(0, comma));
  }
  return std::string(rest);
}

std::vector<double> FiniteNumbers(std::string_view text) {
  std::vector<double> out;
  for (const auto& token : Words(text)) {
    double value = 0.0;
    const char* end = token.data() + token.size();
    const auto [ptr, error] = std::from_chars(token.data(), end, value);
    if (error != std::errc() || ptr != end || !std::isfinite(value)) return {};
    out.push_back(value);
  }
  return out;
}

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> out;
  std::size_t pos = text.find_first_not_of(kBlanks);
  while (pos != std::string_view::npos) {
    const std::size_t end = text.find_first_of(kBlanks, pos);
    out.emplace_back(text.substr(pos, end == std::string_view::npos ? end : end - pos));
    pos = text.find_first_not_of(kBlanks, end == std::string_view::npos ? text.size() : end);
  }
  return out;
}

}  // namespace korvo::sim
