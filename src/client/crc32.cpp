#include "client/crc32.hpp"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace korvo::vyr_impl {

// zlib's CRC-32 is the IEEE 802.3 one (reflected 0xEDB88320, initial and final complement), and
// several times faster than a byte-wise table on the files this library moves.
std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
  uLong crc = ::crc32(0L, Z_NULL, 0);
  while (!bytes.empty()) {
    const std::size_t n = std::min<std::size_t>(bytes.size(), UINT_MAX);
    crc = ::crc32(crc, bytes.data(), static_cast<uInt>(n));
    bytes = bytes.subspan(n);
  }
  return static_cast<std::uint32_t>(crc);
}

}  // namespace korvo::vyr_impl
