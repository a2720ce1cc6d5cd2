#include "middleware/serialization.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace korvo::zenoh_mdw {
namespace {

using Bytes = std::vector<std::uint8_t>;

template <typename T>
Bytes EncodeField(const T& value) {
  Serializer s;
  EXPECT_TRUE(Serialize(s, value));
  return std::move(s).finish();
}

// The text of the exception that decoding `bytes` as a T throws, or "" if none.
template <typename T>
std::string DecodeError(const Bytes& bytes) {
  try {
    Decode<T>(bytes);
  } catch (const zenoh::ZException& e) {
    return e.what();
  }
  return "";
}

struct LengthCase {
  std::size_t length;
  Bytes bytes;
};

class SequenceLength : public ::testing::TestWithParam<LengthCase> {};

TEST_P(SequenceLength, IsUnsignedLeb128BothWays) {
  Serializer s;
  ASSERT_TRUE(SerializeLength(s, GetParam().length));
  EXPECT_EQ(s.bytes(), GetParam().bytes);
  Deserializer d(GetParam().bytes);
  std::size_t n = 0;
  ASSERT_TRUE(DeserializeLength(d, n));
  EXPECT_EQ(n, GetParam().length);
  EXPECT_TRUE(d.is_done());
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, SequenceLength,
    ::testing::Values(LengthCase{0, {0x00}}, LengthCase{127, {0x7f}}, LengthCase{128, {0x80, 0x01}},
                      LengthCase{300, {0xac, 0x02}}, LengthCase{16384, {0x80, 0x80, 0x01}},
                      LengthCase{std::numeric_limits<std::uint64_t>::max(),
                                 {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01}}));

TEST(SequenceLength, OverlongOrTruncatedEncodingIsRejected) {
  for (const Bytes& bytes :
       {Bytes{0x80}, Bytes{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02}, Bytes{}}) {
    Deserializer d(bytes);
    std::size_t n = 0;
    zenoh::ZResult err = 0;
    EXPECT_FALSE(DeserializeLength(d, n, &err));
    EXPECT_EQ(err, -7);
  }
}

TEST(Primitives, AreLittleEndianWithBoolsAsOneByte) {
  EXPECT_EQ(EncodeField(true), (Bytes{0x01}));
  EXPECT_EQ(EncodeField(std::uint16_t{0x0102}), (Bytes{0x02, 0x01}));
  EXPECT_EQ(EncodeField(std::int32_t{-2}), (Bytes{0xfe, 0xff, 0xff, 0xff}));
  EXPECT_EQ(EncodeField(std::uint64_t{1}), (Bytes{1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(EncodeField(1.0f), (Bytes{0x00, 0x00, 0x80, 0x3f}));
  EXPECT_EQ(EncodeField(std::string("ab")), (Bytes{0x02, 'a', 'b'}));
  EXPECT_EQ(EncodeField(std::string()), (Bytes{0x00}));
  EXPECT_EQ(EncodeField(std::vector<float>{}), (Bytes{0x00}));
  EXPECT_EQ(EncodeField(std::vector<bool>{true, false, true}), (Bytes{0x03, 0x01, 0x00, 0x01}));
}

TEST(Primitives, FixedArrayCarriesItsLength) {
  const Bytes bytes = EncodeField(std::array<float, 7>{});
  ASSERT_EQ(bytes.size(), 29u);
  EXPECT_EQ(bytes[0], 7);
}

TEST(Deserialization, FixedArrayWithWrongDeclaredLengthFails) {
  Bytes bytes = EncodeField(std::array<float, 6>{});
  Deserializer d(bytes);
  std::array<float, 7> pose{};
  zenoh::ZResult err = 0;
  EXPECT_FALSE(Deserialize(d, pose, &err));
  EXPECT_EQ(err, -7);

  Deserializer again(bytes);
  try {
    Deserialize(again, pose);
    FAIL() << "no exception";
  } catch (const zenoh::ZException& e) {
    EXPECT_STREQ(e.what(), "Incorrect sequence size(Error code: -7 )");
  }
}

TEST(Deserialization, FailureTextsNameWhatWasRead) {
  EXPECT_EQ(DecodeError<std::uint16_t>(Bytes{0x01}), "Deserialization failure(Error code: -7 )");
  EXPECT_EQ(DecodeError<bool>(Bytes{0x02}), "Deserialization failure(Error code: -7 )");
  EXPECT_EQ(DecodeError<std::vector<float>>(Bytes{0x80}),
            "Deserialization failure:: Failed to read sequence length(Error code: -7 )");
  // Invalid UTF-8 and a length beyond the payload.
  EXPECT_EQ(DecodeError<std::string>(Bytes{0x01, 0xff}),
            "Deserialization failure(Error code: -7 )");
  EXPECT_EQ(DecodeError<std::string>(Bytes{0x05, 'a'}), "Deserialization failure(Error code: -7 )");
  EXPECT_EQ(DecodeError<std::uint16_t>(Bytes{0x01, 0x00, 0x00}),
            "Payload contains more bytes than required for deserialization(Error code: -7 )");
}

TEST(Deserialization, HugeDeclaredLengthFailsWithoutAllocatingIt) {
  // Claims 2^62 floats but carries four bytes.
  const Bytes bytes{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x40, 0, 0, 0x80, 0x3f};
  EXPECT_EQ(DecodeError<std::vector<float>>(bytes), "Deserialization failure(Error code: -7 )");
}

TEST(Deserialization, ResultSlotStopsAtFirstFailure) {
  const Bytes bytes{0x02, 0x01, 0x00};  // two uint16 declared, one and a half present
  Deserializer d(bytes);
  std::vector<std::uint16_t> values;
  zenoh::ZResult err = 0;
  EXPECT_FALSE(Deserialize(d, values, &err));
  EXPECT_EQ(err, -7);
}

TEST(Strings, MultiByteUtf8RoundTrips) {
  const std::string text = "Gelenk \xc3\xa9 \xe2\x82\xac \xf0\x9f\xa4\x96";
  EXPECT_EQ(Decode<std::string>(EncodeField(text)), text);
}

}  // namespace
}  // namespace korvo::zenoh_mdw
