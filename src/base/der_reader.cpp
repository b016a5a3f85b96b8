#include "base/der_reader.h"

namespace varno {
namespace {

unsigned char Byte(char c) { return static_cast<unsigned char>(c); }

}  // namespace

std::optional<DerReader::Framed> DerReader::Take(unsigned char tag) {
  if (rest_.size() < 2 || Byte(rest_[0]) != tag) return std::nullopt;
  size_t length = Byte(rest_[1]);
  size_t header = 2;
  if (length & 0x80) {
    // Four length bytes at the most, so the length fits a 32-bit size_t.
    const size_t count = length & 0x7f;
    if (count == 0 || count > 4 || rest_.size() < 2 + count || rest_[2] == 0) return std::nullopt;
    length = 0;
    for (size_t i = 0; i < count; ++i) length = length << 8 | Byte(rest_[2 + i]);
    if (length < 0x80) return std::nullopt;
    header += count;
  }
  if (rest_.size() - header < length) return std::nullopt;
  const Framed framed{rest_.substr(0, header + length), header};
  rest_.remove_prefix(header + length);
  return framed;
}

std::optional<std::string_view> DerReader::Element(unsigned char tag) {
  const auto framed = Take(tag);
  if (!framed) return std::nullopt;
  return framed->element;
}

std::optional<std::string_view> DerReader::Next(unsigned char tag) {
  const auto framed = Take(tag);
  if (!framed) return std::nullopt;
  return framed->element.substr(framed->header);
}

std::optional<std::string> DerReader::Unsigned() {
  auto content = Next(0x02);
  if (!content || content->empty() || Byte(content->front()) & 0x80) return std::nullopt;
  if (content->front() == 0) {
    if (content->size() == 1) return std::string();
    // A leading zero byte only where the next byte would otherwise read as a sign.
    if (!(Byte((*content)[1]) & 0x80)) return std::nullopt;
    content->remove_prefix(1);
  }
  return std::string(*content);
}

}  // namespace varno
