#include "package/package_manifest.h"

#include <set>

#include "base/ansi_text.h"
#include "platform/portable_sha256.h"

namespace varno {
namespace {

constexpr std::string_view kHeaderLine = "VARNO-PACKAGE-SIGNATURE 1";
constexpr std::string_view kFilePrefix = "file ";
constexpr std::string_view kSignaturePrefix = "signature rsa-pkcs1-sha256 ";
constexpr size_t kMaxNameLength = 254;

bool IsBlank(char c) { return c == ' '; }

bool IsLevel(std::string_view level) {
  return !level.empty() && level != "." && level != ".." && !IsBlank(level.front()) && !IsBlank(level.back());
}

std::optional<uint64_t> ParseSize(std::string_view text) {
  if (text.empty() || text.size() > 19 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// One "file" line after its prefix: "<size> <sha256> <name>".
std::optional<ManifestEntry> ParseFileLine(std::string_view rest) {
  const size_t space = rest.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  const auto size = ParseSize(rest.substr(0, space));
  rest.remove_prefix(space + 1);
  if (!size || rest.size() < 66 || rest[64] != ' ') return std::nullopt;
  auto digest = FromHex(rest.substr(0, 64));
  const std::string_view name = rest.substr(65);
  if (!digest || !IsManifestName(name)) return std::nullopt;
  return ManifestEntry{std::string(name), *size, std::move(*digest)};
}

}  // namespace

bool IsManifestName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameLength) return false;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f || std::string_view("/:*?\"<>|").find(c) != std::string_view::npos) return false;
  }
  size_t start = 0;
  while (true) {
    const size_t slash = name.find('\\', start);
    if (!IsLevel(name.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start))) {
      return false;
    }
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

std::string FormatManifest(const std::vector<ManifestEntry>& files) {
  std::string text = std::string(kHeaderLine) + "\n";
  for (const ManifestEntry& file : files) {
    text += std::string(kFilePrefix) + std::to_string(file.size) + " " + ToHex(file.sha256) + " " + file.name + "\n";
  }
  return text;
}

std::string FormatSignatureFile(std::string_view signedPart, std::string_view signature) {
  return std::string(signedPart) + std::string(kSignaturePrefix) + ToHex(signature) + "\n";
}

std::optional<SignatureFile> ParseSignatureFile(std::string_view bytes) {
  // The signature line is the last line: everything before it is what it signs.
  if (bytes.empty() || bytes.back() != '\n') return std::nullopt;
  const size_t lastStart = bytes.rfind('\n', bytes.size() - 2);
  if (lastStart == std::string_view::npos) return std::nullopt;
  std::string_view last = bytes.substr(lastStart + 1, bytes.size() - lastStart - 2);
  if (!last.starts_with(kSignaturePrefix)) return std::nullopt;
  auto signature = FromHex(last.substr(kSignaturePrefix.size()));
  if (!signature || signature->empty()) return std::nullopt;

  SignatureFile file;
  file.signedPart = std::string(bytes.substr(0, lastStart + 1));
  file.signature = std::move(*signature);
  std::string_view rest = file.signedPart;
  bool header = true;
  std::set<std::string> names;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    if (header) {
      if (line != kHeaderLine) return std::nullopt;
      header = false;
      continue;
    }
    if (!line.starts_with(kFilePrefix)) return std::nullopt;
    auto entry = ParseFileLine(line.substr(kFilePrefix.size()));
    if (!entry || !names.insert(AnsiUpperCase(entry->name)).second) return std::nullopt;
    file.files.push_back(std::move(*entry));
  }
  if (file.files.empty()) return std::nullopt;
  return file;
}

std::string ToHex(std::string_view bytes) { return HexDigest(bytes); }

std::optional<std::string> FromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexDigit(hex[i]), low = HexDigit(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes += static_cast<char>(high * 16 + low);
  }
  return bytes;
}

}  // namespace varno
