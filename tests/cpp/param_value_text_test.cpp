// Parameter values to and from the robot's value text.
#include "robot/param_value_text.hpp"

#include <gtest/gtest.h>

#include <array>
#include <locale>
#include <map>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <variant>
#include <vector>

namespace korvo::vyr_impl {
namespace {

using vyr::Coord;
using vyr::JPos;
using vyr::ParamValue;

// ---- comparison of values ----

bool Same(const JPos& a, const JPos& b) { return a.q_m == b.q_m && a.q_e == b.q_e; }
bool Same(const Coord& a, const Coord& b) {
  return a.position == b.position && a.orientation == b.orientation && a.ref_frame == b.ref_frame &&
         a.ref_q_m == b.ref_q_m && a.ref_q_e == b.ref_q_e;
}
template <typename T>
bool Same(const T& a, const T& b) {
  return a == b;
}
template <typename T>
bool Same(const std::vector<T>& a, const std::vector<T>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!Same(a[i], b[i])) return false;
  }
  return true;
}
bool Same(const ParamValue& a, const ParamValue& b) {
  if (a.index() != b.index()) return false;
  return std::visit([&b](const auto& x) { return Same(x, std::get<std::decay_t<decltype(x)>>(b)); },
                    a);
}

std::string Show(const ParamValue& v) {
  std::string text;
  try {
    text = EncodeValue(v);
  } catch (const std::exception& e) {
    text = e.what();
  }
  return "alternative " + std::to_string(v.index()) + " '" + text + "'";
}

std::array<double, 7> Arm(double first) {
  std::array<double, 7> q{};
  for (std::size_t i = 0; i < q.size(); ++i) q[i] = first + 10.0 * static_cast<double>(i);
  return q;
}

Coord Station() { return Coord({0.5, 0, 0}, {180, 0, 90}, {"WORLD", "WORLD_ORIGIN"}); }
Coord WithArmRef() {
  Coord c = Station();
  c.ref_q_m = Arm(1);
  return c;
}
Coord WithBothRefs() {
  Coord c = WithArmRef();
  c.ref_q_e = {0.25, -1, 0, 0, 0, 0};
  return c;
}
Coord WithAxisRefOnly() {
  Coord c = Station();
  c.ref_q_e = {1, 0, 0, 0, 0, 0};
  return c;
}

constexpr char kStationText[] = "0.5 0 0 180 0 90 WORLD WORLD_ORIGIN ";
constexpr char kArmRefText[] = "1 11 21 31 41 51 61 ";
constexpr char kAxisRefText[] = "0.25 -1 0 0 0 0 ";
constexpr char kRefError[] =
    "[korvo::vyr::Coord] Struct member [ref_q_m] cannot be empty if [ref_q_e] has values";
constexpr char kNotMultiple[] =
    "[korvo::vyr::Robot::ValuesToCoord] Number of elements is not a mutiple of kElementsPerCoord";

std::string Repeat(const std::string& text, int n, const std::string& separator = "") {
  std::string out;
  for (int i = 0; i < n; ++i) out += (i > 0 ? separator : "") + text;
  return out;
}

const std::string kZeroJPosText = Repeat("0 ", 13);
// A COORD as the robot reports it: all 21 tokens.
const std::string kFullStation = std::string(kStationText) + kArmRefText + kAxisRefText;

// ---- encoding ----

struct EncodeCase {
  const char* name;
  ParamValue value;
  std::string text;
};

class Encode : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(Encode, WritesTheRobotsValueSyntax) {
  EXPECT_EQ(EncodeValue(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, Encode,
    ::testing::Values(
        EncodeCase{"Int", 5, "5"}, EncodeCase{"NegativeInt", -120, "-120"},
        EncodeCase{"DoubleTenth", 0.1, "0.1"}, EncodeCase{"WholeDoubleWithoutPoint", 2.0, "2"},
        EncodeCase{"SixSignificantDigits", 1234567.0, "1.23457e+06"},
        EncodeCase{"SmallDouble", 0.00001, "1e-05"}, EncodeCase{"Third", 1.0 / 3.0, "0.333333"},
        EncodeCase{"RoundedUp", 0.1234565999, "0.123457"},
        EncodeCase{"StringUnchanged", std::string("cell a, \"b\""), "cell a, \"b\""},
        EncodeCase{"ZeroJPosKeepsAllThirteen", JPos(), kZeroJPosText},
        EncodeCase{"JPos", JPos(Arm(1), {0.5, 0, 0, 0, 0, 1e6}),
                   std::string(kArmRefText) + "0.5 0 0 0 0 1e+06 "},
        EncodeCase{"CoordWithoutReferences", Station(), kStationText},
        EncodeCase{"CoordWithArmReference", WithArmRef(), std::string(kStationText) + kArmRefText},
        EncodeCase{"CoordWithBothReferences", WithBothRefs(), kFullStation},
        EncodeCase{"Ints", std::vector<int>{1, -2, 3}, "1 -2 3 "},
        EncodeCase{"NoInts", std::vector<int>{}, ""},
        EncodeCase{"Doubles", std::vector<double>{0.5, 1234567.0}, "0.5 1.23457e+06 "},
        EncodeCase{"Strings", std::vector<std::string>{"bolt", "nut"}, "bolt nut "},
        EncodeCase{"JPosList", std::vector<JPos>{JPos(), JPos()},
                   kZeroJPosText + " : " + kZeroJPosText},
        EncodeCase{"CoordList", std::vector<Coord>{Station(), WithArmRef()},
                   std::string(kStationText) + " : " + kStationText + kArmRefText},
        EncodeCase{"NoCoords", std::vector<Coord>{}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EncodeErrors, AxisReferenceWithoutArmReferenceIsRejectedWhereverItIs) {
  for (const ParamValue& value : {ParamValue(WithAxisRefOnly()),
                                  ParamValue(std::vector<Coord>{Station(), WithAxisRefOnly()})}) {
    try {
      EncodeValue(value);
      ADD_FAILURE() << "encoded " << value.index();
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), kRefError);
    }
  }
  EXPECT_THROW(EncodeAssignments({{"a", 1}, {"target", WithAxisRefOnly()}}), std::invalid_argument);
}

TEST(EncodeAssignments, JoinsInNameOrder) {
  EXPECT_EQ(EncodeAssignments({{"vel", 0.6}, {"target", Station()}, {"count", 3}}),
            std::string("count = 3, target = ") + kStationText + ", vel = 0.6");
  EXPECT_EQ(EncodeAssignments({{"name", std::string("cell_a")}}), "name = cell_a");
  EXPECT_EQ(EncodeAssignments({}), "");
}

// A program may set a global locale that writes and reads ',' as the decimal point; the robot's
// text keeps '.'.
struct CommaDecimal : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

TEST(Locale, GlobalLocaleDoesNotChangeTheText) {
  const std::locale previous =
      std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
  const std::string text = EncodeValue(std::vector<double>{0.5, 1234.5});
  const ParamValue parsed = ParseValue("0.5");
  std::locale::global(previous);
  EXPECT_EQ(text, "0.5 1234.5 ");
  EXPECT_TRUE(Same(parsed, 0.5)) << Show(parsed);
}

// ---- parsing ----

struct ParseCase {
  const char* name;
  std::string text;
  ParamValue value;
};

class Parse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(Parse, ClassifiesTheTokens) {
  const ParamValue parsed = ParseValue(GetParam().text);
  EXPECT_TRUE(Same(parsed, GetParam().value))
      << "got " << Show(parsed) << ", expected " << Show(GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Values, Parse,
    ::testing::Values(
        ParseCase{"Int", "5", 5}, ParseCase{"NegativeInt", "-5", -5},
        ParseCase{"LeadingZeros", " 007 ", 7}, ParseCase{"IntWithPoint", "5.0", 5.0},
        ParseCase{"PlusSign", "+5", 5.0}, ParseCase{"Exponent", "1e-3", 1e-3},
        ParseCase{"SixDigits", "1.23457e+06", 1234570.0},
        ParseCase{"Ints", "1 2 3", std::vector<int>{1, 2, 3}},
        ParseCase{"IntAndDouble", "1 2.5", std::vector<double>{1.0, 2.5}},
        ParseCase{"Doubles", "0.5 1.0", std::vector<double>{0.5, 1.0}},
        ParseCase{"String", "abc", std::string("abc")},
        ParseCase{"Strings", "a  b", std::vector<std::string>{"a", "b"}},
        ParseCase{"Empty", "", std::vector<std::string>{}},
        ParseCase{"Blank", " \t ", std::vector<std::string>{}},
        ParseCase{"LoneMinus", "-", std::string("-")},
        ParseCase{"NumberWithSuffix", "1.5abc", std::string("1.5abc")},
        ParseCase{"Hexadecimal", "0x10", std::string("0x10")},
        ParseCase{"ColonsAmongStrings", "a : b", std::vector<std::string>{"a", ":", "b"}},
        ParseCase{"ZeroJPosAsTheClientWritesIt", kZeroJPosText, std::vector<int>(13, 0)},
        ParseCase{"JPosAsTheRobotWritesIt", Repeat("0.0 ", 13), std::vector<double>(13, 0.0)},
        ParseCase{"FullCoord", kFullStation, WithBothRefs()},
        ParseCase{"TwoCoordsBackToBack", kFullStation + kFullStation,
                  std::vector<Coord>{WithBothRefs(), WithBothRefs()}},
        ParseCase{"CoordList", kFullStation + " : " + kFullStation,
                  std::vector<Coord>{WithBothRefs(), WithBothRefs()}},
        ParseCase{"JPosList", "1 11 21 31 41 51 61 0.5 0 0 0 0 0 : " + kZeroJPosText,
                  std::vector<JPos>{JPos(Arm(1), {0.5, 0, 0, 0, 0, 0}), JPos()}}),
    [](const auto& info) { return std::string(info.param.name); });

// Exact type and, where the system words it, the message.
struct ParseErrorCase {
  const char* name;
  std::string text;
  const std::type_info* type;
  std::string message;  // empty: the standard library's own
};

class ParseErrors : public ::testing::TestWithParam<ParseErrorCase> {};

TEST_P(ParseErrors, Propagate) {
  try {
    const ParamValue parsed = ParseValue(GetParam().text);
    ADD_FAILURE() << "parsed as " << Show(parsed);
  } catch (const std::exception& e) {
    EXPECT_TRUE(typeid(e) == *GetParam().type) << typeid(e).name() << ": " << e.what();
    if (!GetParam().message.empty()) {
      EXPECT_EQ(e.what(), GetParam().message);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, ParseErrors,
    ::testing::Values(
        ParseErrorCase{"IntAboveRange", "99999999999", &typeid(std::out_of_range), ""},
        ParseErrorCase{"IntBelowRange", "1 -2147483649", &typeid(std::out_of_range), ""},
        ParseErrorCase{"EightTokenCoord", kStationText, &typeid(std::logic_error), kNotMultiple},
        ParseErrorCase{"FifteenTokenCoord", std::string(kStationText) + kArmRefText,
                       &typeid(std::logic_error), kNotMultiple},
        // A frame that reads as a number leaves a string position empty.
        ParseErrorCase{"NumberWhereAFrameBelongs", "0.5 0 0 180 0 90 WORK 7 " + Repeat("0 ", 13),
                       &typeid(std::out_of_range), ""},
        ParseErrorCase{"StringWhereANumberBelongs",
                       "0.5 0 x 180 0 90 WORLD WORLD_ORIGIN " + Repeat("0 ", 13),
                       &typeid(std::out_of_range), ""},
        // Items that are neither all COORDs nor all JPOS values are not a list.
        ParseErrorCase{"ShortListItems", "1 2 : 3 4", &typeid(std::logic_error), kNotMultiple},
        ParseErrorCase{"MixedListItems", kFullStation + " : " + kZeroJPosText,
                       &typeid(std::logic_error), kNotMultiple}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RoundTrip, CompleteCoordsComeBackAsTheyWere) {
  for (const ParamValue& value :
       {ParamValue(WithBothRefs()), ParamValue(std::vector<Coord>{WithBothRefs(), WithBothRefs()}),
        ParamValue(std::vector<JPos>{JPos(Arm(2)), JPos()})}) {
    const ParamValue parsed = ParseValue(EncodeValue(value));
    EXPECT_TRUE(Same(parsed, value)) << Show(parsed);
  }
}

// ---- values the robot reports among others ----

TEST(ParseReportedValue, ATextNoConversionTakesStaysTheTextItWas) {
  const std::vector<std::pair<std::string, ParamValue>> cases{
      {"1e-400 ", std::string("1e-400")},  // a double beyond its range
      {" 1e999", std::string("1e999")},
      {"2147483648", std::string("2147483648")},     // an int beyond its range
      {"0.5 0 WORLD ", std::string("0.5 0 WORLD")},  // numbers and strings, no COORD
      {"2147483647 ", 2147483647},                   // what converts is parsed as ever
      {"0.5 1.5 ", std::vector<double>{0.5, 1.5}},
      {"  ", std::vector<std::string>{}},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_TRUE(Same(ParseReportedValue(text), expected)) << "[" << text << "]";
  }
}

// ---- rebuilding COORDs from indexed tokens ----

TEST(ValuesToCoord, MergesIntsAndDoublesByIndex) {
  std::map<std::size_t, int> ints;
  std::map<std::size_t, double> doubles;
  std::map<std::size_t, std::string> strings{{6, "TRAJ"}, {7, "START"}};
  for (std::size_t i = 0; i < 21; ++i) {
    if (i == 6 || i == 7) continue;
    if (i % 2 == 0) {
      ints[i] = static_cast<int>(i);
    } else {
      doubles[i] = static_cast<double>(i) + 0.5;
    }
  }
  const auto coords = ValuesToCoord(ints, doubles, strings);
  ASSERT_EQ(coords.size(), 1u);
  const Coord& c = coords[0];
  EXPECT_EQ(c.position, (std::array<double, 3>{0, 1.5, 2}));
  EXPECT_EQ(c.orientation, (std::array<double, 3>{3.5, 4, 5.5}));
  EXPECT_EQ(c.ref_frame, (std::array<std::string, 2>{"TRAJ", "START"}));
  EXPECT_EQ(c.ref_q_m, (std::array<double, 7>{8, 9.5, 10, 11.5, 12, 13.5, 14}));
  EXPECT_EQ(c.ref_q_e, (std::array<double, 6>{15.5, 16, 17.5, 18, 19.5, 20}));

  EXPECT_TRUE(ValuesToCoord({}, {}, {}).empty());
}

TEST(ValuesToCoord, IndexInBothNumberMapsIsADuplicate) {
  try {
    ValuesToCoord({{0, 1}}, {{0, 1.0}}, {});
    ADD_FAILURE() << "accepted";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "[korvo::vyr::Robot::ValuesToCoord] Duplicate index keys exist");
  }
}

}  // namespace
}  // namespace korvo::vyr_impl
