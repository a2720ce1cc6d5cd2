#include "client/crc32.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvo::vyr_impl {
namespace {

std::uint32_t Of(const std::string& text) {
  return Crc32({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

TEST(Crc32, MatchesTheIeeeCheckValues) {
  EXPECT_EQ(Of(""), 0u);
  EXPECT_EQ(Of("123456789"), 0xCBF43926u);
  EXPECT_EQ(Of("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
  EXPECT_EQ(Crc32(std::vector<std::uint8_t>(4, 0xFF)), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace korvo::vyr_impl
