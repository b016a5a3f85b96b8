#include "platform/registry_access.h"

#include "base/ansi_text.h"
#include "base/texts.h"
#include "base/update_error.h"

namespace varno {

RegistryAccess::RegistryAccess(Registry& registry) : registry_(registry) {}

RegistryAccess::~RegistryAccess() { CloseKey(); }

void RegistryAccess::SetRootKey(RegKey root) {
  CloseKey();
  root_ = root;
}

bool RegistryAccess::OpenKey(const std::string& path, bool canCreate) {
  const bool relative = path.empty() || path.front() != '\\';
  const std::string subPath = relative ? path : path.substr(1);
  const RegKey base = relative && current_ != 0 ? current_ : root_;
  RegKey opened = 0;
  if (registry_.OpenKey(base, subPath, access_, canCreate, &opened) != kRegSuccess) return false;
  CloseKey();
  current_ = opened;
  return true;
}

void RegistryAccess::CloseKey() {
  if (current_ != 0) registry_.CloseKey(current_);
  current_ = 0;
}

bool RegistryAccess::Query(const std::string& name, uint32_t* type, std::string* data) {
  return current_ != 0 && registry_.QueryValue(current_, name, type, data) == kRegSuccess;
}

bool RegistryAccess::ValueExists(const std::string& name) {
  uint32_t type = 0;
  std::string data;
  return Query(name, &type, &data);
}

std::string RegistryAccess::ReadString(const std::string& name) {
  uint32_t type = 0;
  std::string data;
  if (!Query(name, &type, &data)) return {};
  if (type != kRegSz && type != kRegExpandSz) throw UpdateError(FormatText(text::kRegistryWrongType, {name}));
  // The stored bytes normally end with the zero; a value written without it is still read.
  const size_t end = data.find('\0');
  return end == std::string::npos ? data : data.substr(0, end);
}

int32_t RegistryAccess::ReadInteger(const std::string& name) {
  uint32_t type = 0;
  std::string data;
  if (!Query(name, &type, &data)) throw UpdateError(FormatText(text::kRegistryReadFailed, {name}));
  if (type != kRegDword || data.size() != 4) throw UpdateError(FormatText(text::kRegistryWrongType, {name}));
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(data[i]);
  return static_cast<int32_t>(value);
}

void RegistryAccess::Write(const std::string& name, uint32_t type, const std::string& data) {
  if (current_ == 0 || registry_.SetValue(current_, name, type, data) != kRegSuccess) {
    throw UpdateError(FormatText(text::kRegistryWriteFailed, {name}));
  }
}

void RegistryAccess::WriteString(const std::string& name, const std::string& value) {
  Write(name, kRegSz, value + '\0');
}

void RegistryAccess::WriteInteger(const std::string& name, int32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((static_cast<uint32_t>(value) >> (8 * i)) & 0xFF);
  Write(name, kRegDword, bytes);
}

void RegistryAccess::WriteBinaryData(const std::string& name, const std::string& bytes) {
  Write(name, kRegBinary, bytes);
}

bool RegistryAccess::DeleteValue(const std::string& name) {
  return current_ != 0 && registry_.DeleteValue(current_, name) == kRegSuccess;
}

bool RegistryAccess::DeleteKey(const std::string& path) {
  const bool relative = path.empty() || path.front() != '\\';
  const RegKey base = relative && current_ != 0 ? current_ : root_;
  return registry_.DeleteSubKey(base, relative ? path : path.substr(1)) == kRegSuccess;
}

std::string StringValueOf(Registry& registry, RegKey key, const std::string& name) {
  uint32_t type = 0;
  std::string data;
  if (registry.QueryValue(key, name, &type, &data) != kRegSuccess || (type != kRegSz && type != kRegExpandSz)) return {};
  return data.substr(0, data.find('\0'));
}

}  // namespace varno
