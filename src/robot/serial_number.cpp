#include "robot/serial_number.hpp"

#include <stdexcept>
#include <vector>

#include "korvo/vyr/name_tables.hpp"

namespace korvo::vyr_impl {
namespace {

[[noreturn]] void Invalid() {
  throw std::invalid_argument(
      "[korvo::vyr::Robot] Format of the provided robot serial number is invalid");
}

bool IsAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

std::string NormalizeSerialNumber(const std::string& robot_sn) {
  if (robot_sn.empty() || robot_sn.find('_') != std::string::npos) Invalid();
  const auto dash = robot_sn.rfind('-');
  if (dash == std::string::npos || dash == 0 || dash == robot_sn.size() - 1) Invalid();

  std::vector<std::string> words;
  std::string word;
  for (std::size_t i = 0; i < dash; ++i) {
    const char c = robot_sn[i];
    if (IsAlnum(c)) {
      word += c;
    } else if (c == ' ' || c == '-') {
      if (word.empty()) Invalid();  // a leading separator or two in a row
      words.push_back(word);
      word.clear();
    } else {
      Invalid();
    }
  }
  if (word.empty()) Invalid();  // the model part ends with a separator
  words.push_back(word);

  std::string normalized;
  for (const auto& w : words) normalized += w + "-";
  return normalized + robot_sn.substr(dash + 1);
}

vyr::ProductModel IdentifyProductModel(const std::string& normalized_sn) {
  const std::string model = normalized_sn.substr(0, normalized_sn.rfind('-'));
  for (const auto& [product, name] : vyr::kProductModelNames) {
    if (name == model) {
      if (product == vyr::ProductModel::UNKNOWN) break;
      return product;
    }
  }
  throw std::logic_error("[korvo::vyr::Robot] Product model [" + model + "] is not supported");
}

}  // namespace korvo::vyr_impl
