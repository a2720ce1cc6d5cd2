// Reading primitive texts as the simulated robot does: the call's name and arguments, one
// argument's value text, and the numbers in it, on well-formed and hostile texts.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "case_name.hpp"
#include "sim/primitive_text.hpp"

namespace korvo::sim {
namespace {

using test::PrintTo;

struct CallCase {
  const char* name;
  std::string text;
  std::optional<std::string> call_name, arguments;  // nothing: refused
};

class PrimitiveCallText : public ::testing::TestWithParam<CallCase> {};

TEST_P(PrimitiveCallText, SplitsNameAndArgumentsOrRefuses) {
  const CallCase& c = GetParam();
  const auto call = ParsePrimitiveCall(c.text);
  ASSERT_EQ(call.has_value(), c.call_name.has_value());
  if (!call) return;
  EXPECT_EQ(call->name, *c.call_name);
  EXPECT_EQ(call->arguments, *c.arguments);
}

const std::string kLongest =
    "MoveJ(target = " + std::string(kMaxPrimitiveTextBytes - 16, '1') + ")";

INSTANTIATE_TEST_SUITE_P(
    Cases, PrimitiveCallText,
    ::testing::Values(
        CallCase{"NoArguments", "Home()", "Home", ""},
        CallCase{"Arguments", "MoveJ(target = 1 2 , vel = 3)", "MoveJ", "target = 1 2 , vel = 3"},
        CallCase{"ParenthesesInside", "A_1(x = (1), y = f())", "A_1", "x = (1), y = f()"},
        CallCase{"AtTheLengthBound", kLongest, "MoveJ", kLongest.substr(6, kLongest.size() - 7)},
        CallCase{"OneByteTooLong", kLongest + " ", std::nullopt, std::nullopt},
        CallCase{"LongerThanTheBound", "Home(" + std::string(100000, 'x') + ")", std::nullopt,
                 std::nullopt},
        CallCase{"Empty", "", std::nullopt, std::nullopt},
        CallCase{"NoName", "(a = 1)", std::nullopt, std::nullopt},
        CallCase{"NoParentheses", "Home", std::nullopt, std::nullopt},
        CallCase{"Unclosed", "Home(", std::nullopt, std::nullopt},
        CallCase{"TextAfterTheCall", "Home() ", std::nullopt, std::nullopt},
        CallCase{"BlankBeforeTheParenthesis", "Home ()", std::nullopt, std::nullopt},
        CallCase{"NonAsciiName", "H\xc3\xb6me()", std::nullopt, std::nullopt},
        CallCase{"LineBreak", "MoveJ(target = 1\n2)", std::nullopt, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

struct ArgumentCase {
  const char* name;
  std::string arguments;
  std::optional<std::string> target;  // the value text of "target"
};

class PrimitiveArgumentText : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(PrimitiveArgumentText, RunsToTheNextKeyOrTheEnd) {
  EXPECT_EQ(PrimitiveArgument(GetParam().arguments, "target"), GetParam().target);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PrimitiveArgumentText,
    ::testing::Values(ArgumentCase{"Alone", "target = 1 2 3 ", "1 2 3 "},
                      ArgumentCase{"First", "target = 1 2, vel = 3", "1 2"},
                      ArgumentCase{"Last", "vel = 3, target = 4 5", "4 5"},
                      ArgumentCase{"Middle", "a = 1, target = x : y, b = 2", "x : y"},
                      // A ", " that starts no "key = " belongs to the value.
                      ArgumentCase{"CommaInTheValue", "target = a, b c, d = 1", "a, b c"},
                      ArgumentCase{"Empty", "target = , a = 1", ""},
                      ArgumentCase{"Missing", "vel = 3", std::nullopt},
                      ArgumentCase{"OnlyAsASuffix", "mytarget = 1", std::nullopt},
                      ArgumentCase{"SuffixOneCharacterIn", "xtarget = 1", std::nullopt},
                      ArgumentCase{"SuffixThenTheArgument", "xtarget = 1, target = 2", "2"},
                      ArgumentCase{"WithoutBlanks", "target=1", std::nullopt},
                      ArgumentCase{"ManyCommas", "target = " + std::string(3000, ',') + " ,, ",
                                   std::string(3000, ',') + " ,, "}),
    [](const auto& info) { return std::string(info.param.name); });

struct NumbersCase {
  const char* name;
  std::string text;
  std::vector<double> numbers;  // empty: refused
};

class FiniteNumberText : public ::testing::TestWithParam<NumbersCase> {};

TEST_P(FiniteNumberText, ReadsWholeFiniteNumbersOnly) {
  EXPECT_EQ(FiniteNumbers(GetParam().text), GetParam().numbers);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FiniteNumberText,
    ::testing::Values(NumbersCase{"Several", " 1 -2.5\t3e2 0.125 ", {1.0, -2.5, 300.0, 0.125}},
                      NumbersCase{"None", "   ", {}}, NumbersCase{"NaN", "1 nan", {}},
                      NumbersCase{"Infinite", "inf 1", {}}, NumbersCase{"Overflow", "1e999", {}},
                      NumbersCase{"TrailingText", "1 2x", {}},
                      NumbersCase{"Hexadecimal", "0x10", {}}, NumbersCase{"Word", "WORLD", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PrimitiveWords, SplitOnAnyBlank) {
  EXPECT_EQ(Words(" 0.1 0.2\t WORLD\nWORLD_ORIGIN  "),
            (std::vector<std::string>{"0.1", "0.2", "WORLD", "WORLD_ORIGIN"}));
  EXPECT_TRUE(Words(" \t ").empty());
}

}  // namespace
}  // namespace korvo::sim
