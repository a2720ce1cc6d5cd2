#include "robot/serial_number.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace korvo::vyr_impl {
namespace {

using vyr::ProductModel;

struct SerialCase {
  std::string given;
  std::string normalized;  // empty: rejected as malformed
};

class SerialNumber : public ::testing::TestWithParam<SerialCase> {};

TEST_P(SerialNumber, IsNormalisedOrRejected) {
  if (GetParam().normalized.empty()) {
    try {
      NormalizeSerialNumber(GetParam().given);
      FAIL() << "accepted '" << GetParam().given << "'";
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(),
                   "[korvo::vyr::Robot] Format of the provided robot serial number is invalid");
    }
  } else {
    EXPECT_EQ(NormalizeSerialNumber(GetParam().given), GetParam().normalized);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SerialNumber,
    ::testing::Values(
        SerialCase{"Olvar-L-123456", "Olvar-L-123456"},
        SerialCase{"Olvar L-123456", "Olvar-L-123456"}, SerialCase{"TAVU Ultra-7", "TAVU-Ultra-7"},
        SerialCase{"TAVU-Core-A1", "TAVU-Core-A1"},
        SerialCase{"Olvar-L-12 34", "Olvar-L-12 34"},  // number part unchanged
        SerialCase{"olvar-L-1", "olvar-L-1"},          // format fine, model is not
        SerialCase{"X-1", "X-1"}, SerialCase{"Olvar L 123456", ""}, SerialCase{"Olvar  L-1", ""},
        SerialCase{"-L-1", ""}, SerialCase{"Olvar -L-1", ""}, SerialCase{"Olvar-L-", ""},
        SerialCase{"Olvar_L-1", ""}, SerialCase{"Olvar.L-1", ""}, SerialCase{"", ""},
        SerialCase{"-1", ""}, SerialCase{"Olvar-L--1", ""}, SerialCase{"Olvar L -1", ""},
        SerialCase{"Olvär-L-1", ""}, SerialCase{"Olvar\tL-1", ""}));

struct ModelCase {
  std::string serial;
  ProductModel model;  // UNKNOWN: not supported
  std::string model_text;
};

class ProductModelOfSerial : public ::testing::TestWithParam<ModelCase> {};

TEST_P(ProductModelOfSerial, IsTheNameBeforeTheLastDash) {
  if (GetParam().model == ProductModel::UNKNOWN) {
    try {
      IdentifyProductModel(GetParam().serial);
      FAIL() << "identified '" << GetParam().serial << "'";
    } catch (const std::logic_error& e) {
      EXPECT_EQ(std::string(e.what()), "[korvo::vyr::Robot] Product model [" +
                                           GetParam().model_text + "] is not supported");
    }
  } else {
    EXPECT_EQ(IdentifyProductModel(GetParam().serial), GetParam().model);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ProductModelOfSerial,
                         ::testing::Values(ModelCase{"Olvar-L-123456", ProductModel::Olvar_L, ""},
                                           ModelCase{"Olvar-LL-1", ProductModel::Olvar_LL, ""},
                                           ModelCase{"TAVU-Core-1", ProductModel::TAVU_Core, ""},
                                           ModelCase{"TAVU-Plus-1", ProductModel::TAVU_Plus, ""},
                                           ModelCase{"TAVU-Ultra-1", ProductModel::TAVU_Ultra, ""},
                                           ModelCase{"olvar-L-1", ProductModel::UNKNOWN, "olvar-L"},
                                           ModelCase{"UNKNOWN-1", ProductModel::UNKNOWN, "UNKNOWN"},
                                           ModelCase{"TAVU-1", ProductModel::UNKNOWN, "TAVU"},
                                           ModelCase{"Olvar-L-X-1", ProductModel::UNKNOWN,
                                                     "Olvar-L-X"}));

}  // namespace
}  // namespace korvo::vyr_impl
