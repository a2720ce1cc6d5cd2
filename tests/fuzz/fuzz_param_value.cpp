// The value texts of global variables and primitive states. ParseValue may refuse a text only
// with the std::logic_error family (std::out_of_range, std::invalid_argument); anything else
// escaping is a finding. ParseReportedValue never throws, and for a text ParseValue refuses it
// gives the text without its surrounding blanks, as a string.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

#include "robot/param_value_text.hpp"

namespace {

bool Blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string Trimmed(std::string_view text) {
  while (!text.empty() && Blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && Blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  bool refused = false;
  try {
    korvo::vyr_impl::ParseValue(text);
  } catch (const std::logic_error&) {
    refused = true;
  }
  const korvo::vyr::ParamValue reported = korvo::vyr_impl::ParseReportedValue(text);
  if (refused) {
    const auto* kept = std::get_if<std::string>(&reported);
    if (kept == nullptr || *kept != Trimmed(text)) std::abort();
  }
  return 0;
}
