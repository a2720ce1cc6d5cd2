// Reading the primitive texts a client sends with operation 21: "Name(a = 1, target = ...)".
// Plain string scanning without regular expressions or recursion: the text comes from the network.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvo::sim {

// Longer primitive texts are refused: the longest a client writes (a list of COORDs) stays far
// below.
inline constexpr std::size_t kMaxPrimitiveTextBytes = 4096;

struct PrimitiveCall {
  std::string name;       // letters, digits and '_'
  std::string arguments;  // the text between the parentheses
};

// The name and arguments of "Name(arguments)": a non-empty name of ASCII letters, digits and '_',
// then '(' and the text up to the final ')'. Nothing for any other text, a text with a line break
// or one longer than kMaxPrimitiveTextBytes.
std::optional<PrimitiveCall> ParsePrimitiveCall(std::string_view text);

// The value text of argument `name` in "a = 1, name = value, b = 2": from after "name = " up to the
// ", " that starts the next "key = " (a key without blanks, '=' or ','), or to the end.
std::optional<std::string> PrimitiveArgument(std::string_view arguments, std::string_view name);

// The numbers of a value text separated by blanks, each a whole finite decimal number; an empty
// vector when any token is not one.
std::vector<double> FiniteNumbers(std::string_view text);

// The blank-separated tokens of a value text.
std::vector<std::string> Words(std::string_view text);

}  // namespace korvo::sim
