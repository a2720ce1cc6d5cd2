// The zenoh serialization format (zenoh-ext): little-endian numbers, bools as one byte 0 or 1,
// sequence lengths as unsigned LEB128, strings as a length and their UTF-8 bytes. The calls
// mirror zenoh-c's serializer and deserializer and report failures as zenoh result codes.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace zenoh {

using ZResult = std::int8_t;
inline constexpr ZResult Z_OK = 0;
inline constexpr ZResult Z_EDESERIALIZE = -7;

namespace ext {

class Serializer {
 public:
  Serializer() = default;
  // Writes into `buffer`, cleared first: reusing one keeps a steady loop free of allocations.
  explicit Serializer(std::vector<std::uint8_t>&& buffer) : bytes_(std::move(buffer)) {
    bytes_.clear();
  }

  ZResult serialize_bool(bool value) { return serialize_uint8(value ? 1 : 0); }
  ZResult serialize_uint8(std::uint8_t value) {
    bytes_.push_back(value);
    return Z_OK;
  }
  ZResult serialize_uint16(std::uint16_t value) { return put(value); }
  ZResult serialize_int16(std::int16_t value) { return put(value); }
  ZResult serialize_int32(std::int32_t value) { return put(value); }
  ZResult serialize_uint32(std::uint32_t value) { return put(value); }
  ZResult serialize_uint64(std::uint64_t value) { return put(value); }
  ZResult serialize_float(float value) { return put(value); }

  ZResult serialize_sequence_length(std::size_t length) {
    std::uint64_t rest = length;
    do {
      std::uint8_t byte = rest & 0x7f;
      rest >>= 7;
      if (rest != 0) byte |= 0x80;
      bytes_.push_back(byte);
    } while (rest != 0);
    return Z_OK;
  }

  ZResult serialize_substr(const char* data, std::size_t length) {
    serialize_sequence_length(length);
    bytes_.insert(bytes_.end(), data, data + length);
    return Z_OK;
  }

  // A length and the bytes, copied whole. After a large block (a file) room is left for the few
  // small fields that follow it in a message, so that they do not double a large buffer.
  ZResult serialize_bytes(const std::uint8_t* data, std::size_t length) {
    serialize_sequence_length(length);
    if (length > kSlack) bytes_.reserve(bytes_.size() + length + kSlack);
    bytes_.insert(bytes_.end(), data, data + length);
    return Z_OK;
  }

  // Reserves room for the bytes still to come; a hint, never required.
  void reserve(std::size_t n) { bytes_.reserve(n); }

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  std::vector<std::uint8_t> finish() && { return std::move(bytes_); }

 private:
  template <typename T>
  ZResult put(T value) {
    static_assert(std::endian::native == std::endian::little, "little-endian host assumed");
    const auto* raw = reinterpret_cast<const std::uint8_t*>(&value);
    bytes_.insert(bytes_.end(), raw, raw + sizeof(T));
    return Z_OK;
  }

  static constexpr std::size_t kSlack = 4096;
  std::vector<std::uint8_t> bytes_;
};

class Deserializer {
 public:
  explicit Deserializer(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  ZResult deserialize_bool(bool* value) {
    if (pos_ >= bytes_.size()) return Z_EDESERIALIZE;
    const std::uint8_t byte = bytes_[pos_];
    if (byte > 1) return Z_EDESERIALIZE;
    ++pos_;
    *value = byte == 1;
    return Z_OK;
  }
  ZResult deserialize_uint8(std::uint8_t* value) { return get(value); }
  ZResult deserialize_uint16(std::uint16_t* value) { return get(value); }
  ZResult deserialize_int16(std::int16_t* value) { return get(value); }
  ZResult deserialize_int32(std::int32_t* value) { return get(value); }
  ZResult deserialize_uint32(std::uint32_t* value) { return get(value); }
  ZResult deserialize_uint64(std::uint64_t* value) { return get(value); }
  ZResult deserialize_float(float* value) { return get(value); }

  // Unsigned LEB128 of at most 64 bits; longer or overflowing encodings are rejected.
  ZResult deserialize_sequence_length(std::size_t* length) {
    std::uint64_t result = 0;
    std::size_t pos = pos_;
    for (unsigned shift = 0;; shift += 7) {
      if (pos >= bytes_.size()) return Z_EDESERIALIZE;
      const std::uint8_t byte = bytes_[pos++];
      if (shift == 63 && byte > 1) return Z_EDESERIALIZE;
      result |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
      if ((byte & 0x80) == 0) break;
    }
    pos_ = pos;
    *length = static_cast<std::size_t>(result);
    return Z_OK;
  }

  // A length and that many bytes of valid UTF-8.
  ZResult deserialize_string(std::string* value) {
    const std::size_t start = pos_;
    std::size_t length = 0;
    if (deserialize_sequence_length(&length) != Z_OK || length > remaining() ||
        !IsUtf8(bytes_.subspan(pos_, length))) {
      pos_ = start;
      return Z_EDESERIALIZE;
    }
    value->assign(reinterpret_cast<const char*>(bytes_.data() + pos_), length);
    pos_ += length;
    return Z_OK;
  }

  // A length and that many bytes, copied whole.
  ZResult deserialize_bytes(std::vector<std::uint8_t>* value) {
    const std::size_t start = pos_;
    std::size_t length = 0;
    if (deserialize_sequence_length(&length) != Z_OK || length > remaining()) {
      pos_ = start;
      return Z_EDESERIALIZE;
    }
    value->assign(bytes_.begin() + pos_, bytes_.begin() + pos_ + length);
    pos_ += length;
    return Z_OK;
  }

  bool is_done() const { return pos_ == bytes_.size(); }
  std::size_t remaining() const { return bytes_.size() - pos_; }

 private:
  template <typename T>
  ZResult get(T* value) {
    if (remaining() < sizeof(T)) return Z_EDESERIALIZE;
    std::memcpy(value, bytes_.data() + pos_, sizeof(T));
    pos_ += sizeof(T);
    return Z_OK;
  }

  static bool IsUtf8(std::span<const std::uint8_t> s);

  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
inline bool Deserializer::IsUtf8(std::span<const std::uint8_t> s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const std::uint8_t c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t n = 0;
    std::uint8_t lo = 0x80, hi = 0xbf;
    if (c >= 0xc2 && c <= 0xdf) {
      n = 1;
    } else if (c >= 0xe0 && c <= 0xef) {
      n = 2;
      if (c == 0xe0) lo = 0xa0;
      if (c == 0xed) hi = 0x9f;
    } else if (c >= 0xf0 && c <= 0xf4) {
      n = 3;
      if (c == 0xf0) lo = 0x90;
      if (c == 0xf4) hi = 0x8f;
    } else {
      return false;
    }
    if (i + n >= s.size()) return false;
    if (s[i + 1] < lo || s[i + 1] > hi) return false;
    for (std::size_t k = 2; k <= n; ++k) {
      if (s[i + k] < 0x80 || s[i + k] > 0xbf) return false;
    }
    i += n + 1;
  }
  return true;
}

}  // namespace ext
}  // namespace zenoh
