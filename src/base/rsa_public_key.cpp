#include "base/rsa_public_key.h"

#include <cstdint>

#include "base/der_reader.h"

namespace varno {
namespace {

constexpr std::string_view kBegin = "-----BEGIN PUBLIC KEY-----";
constexpr std::string_view kEnd = "-----END PUBLIC KEY-----";
// 1.2.840.113549.1.1.1, rsaEncryption, with its tag and length.
constexpr std::string_view kRsaEncryption = "\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x01\x01";

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// A positive INTEGER's magnitude.
std::optional<std::string> PositiveInteger(DerReader& reader) {
  auto magnitude = reader.Unsigned();
  if (!magnitude || magnitude->empty()) return std::nullopt;
  return magnitude;
}

}  // namespace

size_t RsaPublicKey::Bits() const {
  if (modulus.empty()) return 0;
  size_t bits = modulus.size() * 8;
  for (auto top = static_cast<unsigned char>(modulus[0]); !(top & 0x80); top <<= 1) --bits;
  return bits;
}

std::optional<std::string> DecodeBase64(std::string_view text) {
  std::string bytes;
  uint32_t accumulated = 0;
  int bits = 0, padding = 0, characters = 0;
  for (const char c : text) {
    if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
    if (c == '=') {
      ++padding;
      ++characters;
      continue;
    }
    const int value = Base64Value(c);
    if (value < 0 || padding > 0) return std::nullopt;
    ++characters;
    accumulated = (accumulated << 6 | static_cast<uint32_t>(value)) & 0xffffff;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes += static_cast<char>(accumulated >> bits & 0xff);
    }
  }
  if (characters % 4 != 0 || padding > 2 || (padding > 0 && bits == 0)) return std::nullopt;
  return bytes;
}

std::optional<RsaPublicKey> ParseRsaPublicKeyPem(std::string_view pem) {
  const size_t begin = pem.find(kBegin);
  if (begin == std::string_view::npos) return std::nullopt;
  const size_t body = begin + kBegin.size();
  const size_t end = pem.find(kEnd, body);
  if (end == std::string_view::npos) return std::nullopt;
  const auto der = DecodeBase64(pem.substr(body, end - body));
  if (!der) return std::nullopt;

  DerReader outer(*der);
  const auto info = outer.Next(0x30);
  if (!info || !outer.AtEnd()) return std::nullopt;
  DerReader fields(*info);
  const auto algorithm = fields.Next(0x30);
  const auto bitString = fields.Next(0x03);
  if (!algorithm || !bitString || !fields.AtEnd()) return std::nullopt;
  // The algorithm's parameters are NULL, or left out by some writers.
  if (*algorithm != kRsaEncryption && *algorithm != std::string(kRsaEncryption) + std::string("\x05\x00", 2)) {
    return std::nullopt;
  }
  if (bitString->empty() || bitString->front() != 0) return std::nullopt;  // whole bytes only
  DerReader keyOuter(bitString->substr(1));
  const auto key = keyOuter.Next(0x30);
  if (!key || !keyOuter.AtEnd()) return std::nullopt;
  DerReader numbers(*key);
  auto modulus = PositiveInteger(numbers);
  auto exponent = PositiveInteger(numbers);
  if (!modulus || !exponent || !numbers.AtEnd()) return std::nullopt;
  return RsaPublicKey{std::move(*modulus), std::move(*exponent)};
}

}  // namespace varno
