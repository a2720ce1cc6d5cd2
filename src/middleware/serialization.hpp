// Field functions and message framing over the zenoh serialization format.
//
// Every field function takes an optional result slot. With a slot, the first failing call
// stores its zenoh result code there and the function returns false; without one, it throws
// zenoh::ZException with the failure text and the code. Message records provide
// Serialize/Deserialize overloads of the same shape in their own namespace, found by
// argument-dependent lookup.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "middleware/zenoh.hpp"
#include "middleware/zenoh_ext.hpp"

namespace korvo::zenoh_mdw {

using zenoh::ZResult;
using zenoh::ext::Deserializer;
using zenoh::ext::Serializer;

namespace detail {

// Reports a failed zenoh call: into the slot if there is one, else as an exception.
inline bool Fail(ZResult code, ZResult* err, const char* text) {
  if (err != nullptr) {
    *err = code;
    return false;
  }
  throw zenoh::ZException(text, code);
}

inline bool Check(ZResult code, ZResult* err, const char* text) {
  return code == zenoh::Z_OK || Fail(code, err, text);
}

}  // namespace detail

// ---- primitives ------------------------------------------------------------------------------

inline bool SerializeLength(Serializer& s, std::size_t n, ZResult* err = nullptr) {
  return detail::Check(s.serialize_sequence_length(n), err, "Failed to serialize sequence length");
}
inline bool Serialize(Serializer& s, bool v, ZResult* err = nullptr) {
  return detail::Check(s.serialize_bool(v), err, "Failed to serialize bool");
}
inline bool Serialize(Serializer& s, std::uint8_t v, ZResult* err = nullptr) {
  return detail::Check(s.serialize_uint8(v), err, "Failed to serialize uint8_t");
}
inline bool Serialize(Serializer& s, std::uint16_t v, ZResult* err = nullptr) {
  return detail::Check(s.serialize_uint16(v), err, "Failed to serialize uint16_t");
}
// Written only by the robot side (the simulator): the client reads these types.
inline bool Serialize(Serializer& s, std::int16_t v, ZResult* err = nullptr) {
  return detail::Check(s.serialize_int16(v), err, "Failed to serialize int16_t");
}
inline bool Serialize(Serializer& s, std::uint32_t v, ZResult* err = nullptr) {
  return detail::Check(s.serialize_uint32(v), err, "Failed to serialize uint32_t");
}
inline bool Serialize(Serializer& s, std::int32_t v, ZResult* err = nullptr) {
  return detail::Check(s.serialize_int32(v), err, "Failed to serialize int32_t");
}
inline bool Serialize(Serializer& s, std::uint64_t v, ZResult* err = nullptr) {
  return detail::Check(s.serialize_uint64(v), err, "Failed to serialize uint64_t");
}
inline bool Serialize(Serializer& s, float v, ZResult* err = nullptr) {
  return detail::Check(s.serialize_float(v), err, "Failed to serialize float");
}
inline bool Serialize(Serializer& s, const std::string& v, ZResult* err = nullptr) {
  return detail::Check(s.serialize_substr(v.data(), v.size()), err, "Failed to serialize string");
}

// Byte sequences (file contents) are copied whole: the same bytes as a sequence of uint8 items.
inline bool Serialize(Serializer& s, const std::vector<std::uint8_t>& v, ZResult* err = nullptr) {
  return detail::Check(s.serialize_bytes(v.data(), v.size()), err, "Failed to serialize sequence");
}

inline bool DeserializeLength(Deserializer& d, std::size_t& n, ZResult* err = nullptr) {
  return detail::Check(d.deserialize_sequence_length(&n), err,
                       "Deserialization failure:: Failed to read sequence length");
}
inline bool Deserialize(Deserializer& d, bool& v, ZResult* err = nullptr) {
  return detail::Check(d.deserialize_bool(&v), err, "Deserialization failure");
}
inline bool Deserialize(Deserializer& d, std::uint8_t& v, ZResult* err = nullptr) {
  return detail::Check(d.deserialize_uint8(&v), err, "Deserialization failure");
}
inline bool Deserialize(Deserializer& d, std::uint16_t& v, ZResult* err = nullptr) {
  return detail::Check(d.deserialize_uint16(&v), err, "Deserialization failure");
}
inline bool Deserialize(Deserializer& d, std::int16_t& v, ZResult* err = nullptr) {
  return detail::Check(d.deserialize_int16(&v), err, "Deserialization failure");
}
inline bool Deserialize(Deserializer& d, std::int32_t& v, ZResult* err = nullptr) {
  return detail::Check(d.deserialize_int32(&v), err, "Deserialization failure");
}
inline bool Deserialize(Deserializer& d, std::uint32_t& v, ZResult* err = nullptr) {
  return detail::Check(d.deserialize_uint32(&v), err, "Deserialization failure");
}
inline bool Deserialize(Deserializer& d, std::uint64_t& v, ZResult* err = nullptr) {
  return detail::Check(d.deserialize_uint64(&v), err, "Deserialization failure");
}
inline bool Deserialize(Deserializer& d, float& v, ZResult* err = nullptr) {
  return detail::Check(d.deserialize_float(&v), err, "Deserialization failure");
}
inline bool Deserialize(Deserializer& d, std::vector<std::uint8_t>& v, ZResult* err = nullptr) {
  return detail::Check(d.deserialize_bytes(&v), err, "Deserialization failure");
}
inline bool Deserialize(Deserializer& d, std::string& v, ZResult* err = nullptr) {
  return detail::Check(d.deserialize_string(&v), err, "Deserialization failure");
}

// ---- composites --------------------------------------------------------------------------------
// Declared before they are defined so that each can hold any of the others.

template <typename T>
bool Serialize(Serializer& s, const std::vector<T>& v, ZResult* err = nullptr);
template <typename T, std::size_t N>
bool Serialize(Serializer& s, const std::array<T, N>& v, ZResult* err = nullptr);
template <typename T>
bool Deserialize(Deserializer& d, std::vector<T>& v, ZResult* err = nullptr);
template <typename T, std::size_t N>
bool Deserialize(Deserializer& d, std::array<T, N>& v, ZResult* err = nullptr);

// A length, then the items.
template <typename T>
bool Serialize(Serializer& s, const std::vector<T>& v, ZResult* err) {
  if (!SerializeLength(s, v.size(), err)) return false;
  for (const auto& item : v) {
    if (!Serialize(s, static_cast<const T&>(item), err)) return false;
  }
  return true;
}

// Written like a sequence whose length is N.
template <typename T, std::size_t N>
bool Serialize(Serializer& s, const std::array<T, N>& v, ZResult* err) {
  if (!SerializeLength(s, N, err)) return false;
  for (const auto& item : v) {
    if (!Serialize(s, item, err)) return false;
  }
  return true;
}

template <typename T>
bool Deserialize(Deserializer& d, std::vector<T>& v, ZResult* err) {
  std::size_t n = 0;
  if (!DeserializeLength(d, n, err)) return false;
  v.clear();
  // Every item takes at least one byte: a length beyond the bytes left cannot be honest, so it
  // never sizes an allocation.
  v.reserve(std::min(n, d.remaining()));
  for (std::size_t i = 0; i < n; ++i) {
    T item{};
    if (!Deserialize(d, item, err)) return false;
    v.push_back(std::move(item));
  }
  return true;
}

// The declared length must be exactly N.
template <typename T, std::size_t N>
bool Deserialize(Deserializer& d, std::array<T, N>& v, ZResult* err) {
  std::size_t n = 0;
  if (!DeserializeLength(d, n, err)) return false;
  if (n != N) return detail::Fail(zenoh::Z_EDESERIALIZE, err, "Incorrect sequence size");
  for (auto& item : v) {
    if (!Deserialize(d, item, err)) return false;
  }
  return true;
}

// A record's fields in declaration order, stopping at the first failure.
template <typename... Fields>
bool SerializeFields(Serializer& s, ZResult* err, const Fields&... fields) {
  return (Serialize(s, fields, err) && ...);
}
template <typename... Fields>
bool DeserializeFields(Deserializer& d, ZResult* err, Fields&... fields) {
  return (Deserialize(d, fields, err) && ...);
}

// ---- framing -----------------------------------------------------------------------------------

// The payload of one message: its fields in order, with no header.
template <typename Message>
std::vector<std::uint8_t> Encode(const Message& message) {
  Serializer s;
  Serialize(s, message);
  return std::move(s).finish();
}

// Decodes a whole payload; a payload with bytes left over is rejected.
template <typename Message>
Message Decode(std::span<const std::uint8_t> payload) {
  Deserializer d(payload);
  Message message{};
  Deserialize(d, message);
  if (!d.is_done()) {
    throw zenoh::ZException("Payload contains more bytes than required for deserialization",
                            zenoh::Z_EDESERIALIZE);
  }
  return message;
}

}  // namespace korvo::zenoh_mdw
