#include "host/host_text.h"

#include <cstdint>
#include <cstdio>

namespace varno::pack {
namespace {

// The characters of 0x80 to 0x9F, the only bytes where Windows-1252 differs from Latin-1.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char32_t CharacterOf(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : byte;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::optional<char> ByteOf(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (unsigned i = 0; i < 32; ++i) {
    if (kHighControls[i] == c) return static_cast<char>(0x80 + i);
  }
  return std::nullopt;
}

// The UTF-8 character at text[i]: its code point and length, or a length of 0 when the
// bytes there are not UTF-8.
struct Decoded {
  char32_t c = 0;
  size_t length = 0;
};

Decoded DecodeAt(std::string_view text, size_t i) {
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  size_t length = 0;
  char32_t c = 0;
  if (lead < 0x80) {
    length = 1;
    c = lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2;
    c = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    c = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    c = lead & 0x07;
  } else {
    return {};
  }
  if (i + length > text.size()) return {};
  for (size_t k = 1; k < length; ++k) {
    const unsigned char next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return {};
    c = (c << 6) | (next & 0x3F);
  }
  // Overlong forms would let two spellings of one name pass for different names.
  static constexpr char32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {};
  return {c, length};
}

}  // namespace

std::string Cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) AppendUtf8(out, CharacterOf(static_cast<unsigned char>(c)));
  return out;
}

std::optional<std::string> Utf8ToCp1252(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const Decoded decoded = DecodeAt(text, i);
    if (decoded.length == 0) return std::nullopt;
    const auto byte = ByteOf(decoded.c);
    if (!byte) return std::nullopt;
    out += *byte;
    i += decoded.length;
  }
  return out;
}

std::string UnwritableCharacter(std::string_view name) {
  size_t character = 1;
  for (size_t i = 0; i < name.size(); ++character) {
    const Decoded decoded = DecodeAt(name, i);
    char hex[16];
    if (decoded.length == 0) {
      std::snprintf(hex, sizeof(hex), "0x%02X", static_cast<unsigned char>(name[i]));
      return "byte " + std::to_string(i + 1) + " (" + hex + ") is not UTF-8";
    }
    if (!ByteOf(decoded.c)) {
      std::snprintf(hex, sizeof(hex), "U+%04X", static_cast<unsigned>(decoded.c));
      return "character " + std::to_string(character) + ", \"" + std::string(name.substr(i, decoded.length)) + "\" (" +
             hex + "), is not in Windows-1252";
    }
    i += decoded.length;
  }
  return {};
}

std::string ValidUtf8(std::string_view name) {
  std::string out;
  for (size_t i = 0; i < name.size();) {
    const Decoded decoded = DecodeAt(name, i);
    if (decoded.length == 0) {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "\\x%02X", static_cast<unsigned char>(name[i]));
      out += hex;
      ++i;
    } else {
      out += name.substr(i, decoded.length);
      i += decoded.length;
    }
  }
  return out;
}

std::string HostText(std::string_view text) {
#ifdef _WIN32
  return std::string(text);
#else
  return Cp1252ToUtf8(text);
#endif
}

}  // namespace varno::pack
