#include "base/der_reader.h"

#include <gtest/gtest.h>

namespace varno {
namespace {

using namespace std::literals;

// Whether the bytes read as exactly one OCTET STRING.
bool OneOctetString(std::string_view bytes) {
  DerReader reader(bytes);
  return reader.Next(0x04) && reader.AtEnd();
}

TEST(DerReader, TakesOnlyDefiniteShortestLengthsWithinTheBytes) {
  const std::string bytes128(0x80, 'x');
  EXPECT_TRUE(OneOctetString("\x04\x02" "ab"sv));
  EXPECT_TRUE(OneOctetString("\x04\x81\x80"s + bytes128));
  EXPECT_FALSE(DerReader("\x04\x03" "ab"sv).Next(0x04));                 // past the end
  EXPECT_FALSE(OneOctetString("\x04\x80\x00\x00"sv));                    // indefinite
  EXPECT_FALSE(OneOctetString("\x04\x81\x02" "ab"sv));                   // long form for a short length
  EXPECT_FALSE(OneOctetString("\x04\x82\x00\x80"s + bytes128));          // a leading zero length byte
  // Five length bytes, which a 32-bit size would wrap to 0x80.
  EXPECT_FALSE(OneOctetString("\x04\x85\x01\x00\x00\x00\x80"s + bytes128));
  EXPECT_FALSE(OneOctetString("\x04\x84\xff\xff\xff\xff"sv));
  EXPECT_FALSE(OneOctetString("\x04\x02" "ab\x00"sv));                   // a trailing byte

  DerReader reader("\x30\x00\x04\x01z"sv);
  EXPECT_FALSE(reader.Next(0x04));  // another tag: the reader stays where it was
  EXPECT_EQ(reader.Element(0x30), "\x30\x00"sv);
  EXPECT_EQ(reader.Next(0x04), "z"sv);
}

TEST(DerReader, ReadsUnsignedIntegersInTheirShortestFormOnly) {
  const auto read = [](std::string_view bytes) { return DerReader(bytes).Unsigned(); };
  EXPECT_EQ(read("\x02\x01\x00"sv), "");
  EXPECT_EQ(read("\x02\x01\x7f"sv), "\x7f");
  EXPECT_EQ(read("\x02\x02\x00\x80"sv), "\x80");
  EXPECT_FALSE(read("\x02\x01\x80"sv));          // negative
  EXPECT_FALSE(read("\x02\x00\x02\x01\x05"sv));  // no byte at all
  EXPECT_FALSE(read("\x02\x02\x00\x7f"sv));      // a zero byte no sign needs
  EXPECT_FALSE(read("\x02\x02\x00\x00"sv));
  EXPECT_FALSE(read("\x04\x01\x01"sv));          // not an INTEGER
}

}  // namespace
}  // namespace varno
