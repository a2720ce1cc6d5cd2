// The IEEE 802.3 CRC-32 of file transfers (reflected polynomial 0xEDB88320, initial value
// 0xFFFFFFFF, final complement).
#pragma once

#include <cstdint>
#include <span>

namespace korvo::vyr_impl {

std::uint32_t Crc32(std::span<const std::uint8_t> bytes);

}  // namespace korvo::vyr_impl
