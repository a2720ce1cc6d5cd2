#include "robot/param_value_text.hpp"

#include <algorithm>
#include <locale>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#include <variant>

namespace korvo::vyr_impl {
namespace {

using vyr::Coord;
using vyr::JPos;
using vyr::ParamValue;

constexpr std::size_t kElementsPerCoord = 21;
constexpr std::size_t kElementsPerJPos = vyr::kSerialJointDoF + vyr::kMaxExtAxes;
// Where the two reference-frame strings sit in a COORD's tokens.
constexpr std::size_t kFrameRoot = 6;
constexpr std::size_t kFrameBranch = 7;
constexpr char kListSeparator[] = ":";

// The robot reads '.' as the decimal point whatever locale the user's program has set globally.
class TextStream {
 public:
  TextStream() { out_.imbue(std::locale::classic()); }
  std::ostream& out() { return out_; }
  std::string str() const { return out_.str(); }

 private:
  std::ostringstream out_;
};

template <typename Values>
void WriteEach(std::ostream& out, const Values& values) {
  for (const auto& v : values) out << v << ' ';
}

template <typename Values>
bool AllZero(const Values& values) {
  return std::all_of(values.begin(), values.end(), [](double v) { return v == 0.0; });
}

void Write(std::ostream& out, const JPos& jpos) {
  WriteEach(out, jpos.q_m);
  WriteEach(out, jpos.q_e);
}

// Zero reference joints mean "the robot's defaults" and are left out; external-axis reference
// values without arm reference values cannot be written.
void Write(std::ostream& out, const Coord& coord) {
  const bool no_ref_q_m = AllZero(coord.ref_q_m);
  const bool no_ref_q_e = AllZero(coord.ref_q_e);
  if (no_ref_q_m && !no_ref_q_e) {
    throw std::invalid_argument(
        "[korvo::vyr::Coord] Struct member [ref_q_m] cannot be empty if [ref_q_e] has values");
  }
  WriteEach(out, coord.position);
  WriteEach(out, coord.orientation);
  WriteEach(out, coord.ref_frame);
  if (!no_ref_q_m) {
    WriteEach(out, coord.ref_q_m);
    if (!no_ref_q_e) WriteEach(out, coord.ref_q_e);
  }
}

template <typename Item>
void WriteList(std::ostream& out, const std::vector<Item>& items) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out << " : ";
    Write(out, items[i]);
  }
}

void WriteValue(std::ostream& out, const ParamValue& value) {
  std::visit(
      [&out](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, JPos> || std::is_same_v<T, Coord>) {
          Write(out, v);
        } else if constexpr (std::is_same_v<T, std::vector<JPos>> ||
                             std::is_same_v<T, std::vector<Coord>>) {
          WriteList(out, v);
        } else if constexpr (std::is_same_v<T, std::vector<int>> ||
                             std::is_same_v<T, std::vector<double>> ||
                             std::is_same_v<T, std::vector<std::string>>) {
          WriteEach(out, v);
        } else {
          out << v;
        }
      },
      value);
}

// ---- parsing ----

enum class Kind { kInt, kDouble, kString };

struct Token {
  Kind kind;
  std::string text;
  int i = 0;
  double d = 0.0;
};

// An optional '-' and at least one decimal digit. A lone '-' is left to the string tokens.
bool IsIntToken(const std::string& text) {
  const std::size_t first = !text.empty() && text[0] == '-' ? 1 : 0;
  if (first == text.size()) return false;
  return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(first), text.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

// A double that a stream extracts from the whole token.
bool IsDoubleToken(const std::string& text) {
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  double value = 0.0;
  return (in >> value) && in.eof();
}

std::vector<Token> Tokenize(const std::string& text) {
  std::istringstream in(text);
  std::vector<Token> tokens;
  for (std::string word; in >> word;) {
    Token token{Kind::kString, word};
    if (IsIntToken(word)) {
      token.kind = Kind::kInt;
      token.i = std::stoi(word);
    } else if (IsDoubleToken(word)) {
      token.kind = Kind::kDouble;
      token.d = std::stod(word);
    }
    tokens.push_back(std::move(token));
  }
  return tokens;
}

bool IsNumber(const Token& t) { return t.kind != Kind::kString; }
double NumberOf(const Token& t) { return t.kind == Kind::kInt ? t.i : t.d; }

struct IndexedTokens {
  std::map<std::size_t, int> ints;
  std::map<std::size_t, double> doubles;
  std::map<std::size_t, std::string> strings;
};

IndexedTokens Index(std::vector<Token>::const_iterator begin,
                    std::vector<Token>::const_iterator end) {
  IndexedTokens indexed;
  std::size_t index = 0;
  for (auto it = begin; it != end; ++it, ++index) {
    switch (it->kind) {
      case Kind::kInt:
        indexed.ints[index] = it->i;
        break;
      case Kind::kDouble:
        indexed.doubles[index] = it->d;
        break;
      case Kind::kString:
        indexed.strings[index] = it->text;
        break;
    }
  }
  return indexed;
}

// A complete COORD: 21 tokens, strings exactly at the two frame positions.
bool IsCoordItem(std::vector<Token>::const_iterator begin, std::vector<Token>::const_iterator end) {
  if (static_cast<std::size_t>(end - begin) != kElementsPerCoord) return false;
  for (std::size_t k = 0; k < kElementsPerCoord; ++k) {
    const bool frame = k == kFrameRoot || k == kFrameBranch;
    if (IsNumber(begin[static_cast<std::ptrdiff_t>(k)]) == frame) return false;
  }
  return true;
}

bool IsJPosItem(std::vector<Token>::const_iterator begin, std::vector<Token>::const_iterator end) {
  return static_cast<std::size_t>(end - begin) == kElementsPerJPos &&
         std::all_of(begin, end, IsNumber);
}

// A list of COORD or of JPOS values, items separated by ":" tokens; nothing when the tokens are
// not such a list. Without this, every such list (which the robot reports with its separators)
// would fail the COORD rebuilding and take every other value of the same reply down with it.
std::optional<ParamValue> ParseList(const std::vector<Token>& tokens) {
  using Iterator = std::vector<Token>::const_iterator;
  std::vector<std::pair<Iterator, Iterator>> items;
  Iterator begin = tokens.begin();
  for (auto it = tokens.begin(); it != tokens.end(); ++it) {
    if (it->kind == Kind::kString && it->text == kListSeparator) {
      items.emplace_back(begin, it);
      begin = it + 1;
    }
  }
  if (items.empty()) return std::nullopt;
  items.emplace_back(begin, tokens.end());

  const auto all = [&items](bool (*fits)(Iterator, Iterator)) {
    return std::all_of(items.begin(), items.end(),
                       [fits](const auto& item) { return fits(item.first, item.second); });
  };
  if (all(&IsCoordItem)) {
    std::vector<Coord> coords;
    for (const auto& [first, last] : items) {
      const auto indexed = Index(first, last);
      coords.push_back(ValuesToCoord(indexed.ints, indexed.doubles, indexed.strings).front());
    }
    return coords;
  }
  if (all(&IsJPosItem)) {
    std::vector<JPos> jposes;
    for (const auto& [first, last] : items) {
      JPos jpos;
      for (std::size_t k = 0; k < jpos.q_m.size(); ++k) jpos.q_m[k] = NumberOf(first[k]);
      for (std::size_t k = 0; k < jpos.q_e.size(); ++k) {
        jpos.q_e[k] = NumberOf(first[jpos.q_m.size() + k]);
      }
      jposes.push_back(jpos);
    }
    return jposes;
  }
  return std::nullopt;
}

}  // namespace

std::string EncodeValue(const ParamValue& value) {
  TextStream text;
  WriteValue(text.out(), value);
  return text.str();
}

std::string EncodeAssignments(const std::map<std::string, ParamValue>& assignments) {
  TextStream text;
  bool first = true;
  for (const auto& [name, value] : assignments) {
    if (!first) text.out() << ", ";
    first = false;
    text.out() << name << " = ";
    WriteValue(text.out(), value);
  }
  return text.str();
}

ParamValue ParseValue(const std::string& text) {
  const std::vector<Token> tokens = Tokenize(text);
  const IndexedTokens indexed = Index(tokens.begin(), tokens.end());
  const auto& [ints, doubles, strings] = indexed;

  if ((!ints.empty() || !doubles.empty()) && !strings.empty()) {
    if (auto list = ParseList(tokens)) return *std::move(list);
    auto coords = ValuesToCoord(ints, doubles, strings);
    if (coords.size() == 1) return ParamValue(std::in_place_type<Coord>, coords.front());
    return coords;
  }
  if (ints.empty() && doubles.empty()) {
    if (strings.size() == 1)
      return ParamValue(std::in_place_type<std::string>, strings.begin()->second);
    std::vector<std::string> values;
    for (const auto& t : tokens) values.push_back(t.text);
    return values;
  }
  if (ints.empty()) {
    if (doubles.size() == 1) return ParamValue(std::in_place_type<double>, doubles.begin()->second);
    std::vector<double> values;
    for (const auto& t : tokens) values.push_back(t.d);
    return values;
  }
  if (!doubles.empty()) {
    std::vector<double> values;
    for (const auto& t : tokens) values.push_back(NumberOf(t));
    return values;
  }
  if (ints.size() == 1) return ParamValue(std::in_place_type<int>, ints.begin()->second);
  std::vector<int> values;
  for (const auto& t : tokens) values.push_back(t.i);
  return values;
}

std::vector<Coord> ValuesToCoord(const std::map<std::size_t, int>& ints,
                                 const std::map<std::size_t, double>& doubles,
                                 const std::map<std::size_t, std::string>& strings) {
  std::map<std::size_t, double> numbers = doubles;
  for (const auto& [index, value] : ints) numbers.emplace(index, value);
  const std::size_t total = ints.size() + doubles.size() + strings.size();
  if (total != numbers.size() + strings.size()) {
    throw std::logic_error("[korvo::vyr::Robot::ValuesToCoord] Duplicate index keys exist");
  }
  if (total % kElementsPerCoord != 0) {
    throw std::logic_error(
        "[korvo::vyr::Robot::ValuesToCoord] Number of elements is not a mutiple of "
        "kElementsPerCoord");
  }
  std::vector<Coord> coords;
  for (std::size_t b = 0; b < total; b += kElementsPerCoord) {
    Coord coord;
    for (std::size_t k = 0; k < 3; ++k) coord.position[k] = numbers.at(b + k);
    for (std::size_t k = 0; k < 3; ++k) coord.orientation[k] = numbers.at(b + 3 + k);
    coord.ref_frame = {strings.at(b + kFrameRoot), strings.at(b + kFrameBranch)};
    for (std::size_t k = 0; k < coord.ref_q_m.size(); ++k) coord.ref_q_m[k] = numbers.at(b + 8 + k);
    for (std::size_t k = 0; k < coord.ref_q_e.size(); ++k) {
      coord.ref_q_e[k] = numbers.at(b + 15 + k);
    }
    coords.push_back(std::move(coord));
  }
  return coords;
}

ParamValue ParseReportedValue(const std::string& text) {
  try {
    return ParseValue(text);
  } catch (const std::logic_error&) {
    // std::out_of_range and std::invalid_argument are logic errors too.
    constexpr std::string_view kBlanks = " \t\n\v\f\r";
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
  }
}

}  // namespace korvo::vyr_impl
