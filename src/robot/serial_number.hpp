// Serial numbers: their normal form and the product model they name.
#pragma once

#include <string>

#include "korvo/vyr/enums.hpp"

namespace korvo::vyr_impl {

// "Olvar L-123456" and "Olvar-L-123456" both give "Olvar-L-123456": the model part's words
// (letters and digits, separated by one blank or '-') joined by '-', then '-' and the number part
// unchanged. Throws std::invalid_argument
// "[korvo::vyr::Robot] Format of the provided robot serial number is invalid".
std::string NormalizeSerialNumber(const std::string& robot_sn);

// The product model whose name is the normalised serial number up to its last '-'. Throws
// std::logic_error "[korvo::vyr::Robot] Product model [...] is not supported" for none or UNKNOWN.
vyr::ProductModel IdentifyProductModel(const std::string& normalized_sn);

}  // namespace korvo::vyr_impl
