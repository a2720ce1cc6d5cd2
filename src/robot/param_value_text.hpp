// Parameter values as text: primitive inputs and global variables travel to the robot as
// "name = value" assignments in the robot's value syntax, and primitive states and global
// variables come back the same way.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "korvo/vyr/data.hpp"

namespace korvo::vyr_impl {

// The text of `value`: numbers as a default-state stream writes them (6 significant digits),
// strings unchanged, every item of a JPOS, COORD or list followed by a blank, JPOS and COORD list
// items joined by " : ". A COORD leaves out its reference joints when they are all zero.
// Throws std::invalid_argument for a COORD with external-axis reference values but no arm
// reference values, std::bad_variant_access for a valueless variant.
std::string EncodeValue(const vyr::ParamValue& value);

// "a = 1, b = 2.5 " style: the assignments in name order, joined by ", ".
std::string EncodeAssignments(const std::map<std::string, vyr::ParamValue>& assignments);

// The value of a value text. Tokens are classified as integers, doubles or strings; numbers mixed
// with strings are COORD values. A list of items separated by ":" tokens whose items are all
// 21-token COORDs, or all 13-number JPOS values, gives a list of those. A lone "-" is a string.
// Throws std::out_of_range or std::invalid_argument from the number conversions and from
// ValuesToCoord, std::logic_error from ValuesToCoord.
vyr::ParamValue ParseValue(const std::string& text);

// ParseValue of a value the robot reports among others (a global variable, a primitive state):
// a text ParseValue cannot convert (a number beyond the range of its type, numbers and strings
// that make no COORD) comes back as the string it was, without its surrounding blanks, so that one
// odd value does not make the others unreadable.
vyr::ParamValue ParseReportedValue(const std::string& text);

// The COORD values held by tokens indexed 0, 1, 2, ...: every 21 tokens are position (3 numbers),
// orientation (3 numbers), reference frame (2 strings), arm reference joints (7 numbers) and
// external-axis reference positions (6 numbers). Throws std::logic_error for an index held by two
// maps or a token count that is not a multiple of 21, std::out_of_range for a token of the wrong
// kind.
std::vector<vyr::Coord> ValuesToCoord(const std::map<std::size_t, int>& ints,
                                      const std::map<std::size_t, double>& doubles,
                                      const std::map<std::size_t, std::string>& strings);

}  // namespace korvo::vyr_impl
