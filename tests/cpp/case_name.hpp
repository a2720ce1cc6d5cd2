// Failure messages of a table-driven test name the table's case: a file brings this printer
// into its own namespace with `using test::PrintTo;`, where gtest finds it by argument-dependent
// lookup for any case type with a `name`.
#pragma once

#include <ostream>

namespace korvo::test {

template <typename Case>
requires requires(const Case& c) { c.name; }
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

}  // namespace korvo::test
