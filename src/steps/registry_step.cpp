#include "steps/registry_step.h"

#include <bit>

#include "base/ansi_text.h"
#include "base/integer_text.h"
#include "base/value_conversions.h"
#include "package/section_lookup.h"
#include "platform/registry_access.h"

namespace varno {
namespace {

constexpr char kRegSection[] = "[reg]";
constexpr char kProductKey[] = "SOFTWARE\\Tolmerik\\Varnolith";
constexpr char kTypeWords[] = "string integer bool float date datetime time";

// Removes the text up to the separator and one more character (the blank that follows
// it). When the separator is missing its position counts as 0, so the first character
// alone goes: a type word written without its blank loses a character, on purpose.
std::string_view AfterSeparator(std::string_view text, char separator) {
  const size_t at = text.find(separator);
  const size_t drop = at == std::string_view::npos ? 1 : at + 2;
  return drop >= text.size() ? std::string_view() : text.substr(drop);
}

std::string_view BeforeSeparator(std::string_view text, char separator) {
  const size_t at = text.find(separator);
  return at == std::string_view::npos ? std::string_view() : text.substr(0, at);
}

void ReplaceEach(std::string& text, std::string_view from, char to) {
  for (char& c : text) {
    if (from.find(c) != std::string_view::npos) c = to;
  }
}

void WriteEntry(RegistryAccess& registry, RegValueType kind, const RegEntry& entry, Platform& platform) {
  const RegionalSettings regional = platform.system.Regional();
  const std::string value = PrepareValueText(kind, entry.value, regional);
  switch (kind) {
    case RegValueType::String: return registry.WriteString(entry.name, value);
    case RegValueType::Integer: return registry.WriteInteger(entry.name, StrToIntDef(value, 0));
    case RegValueType::Bool: return registry.WriteInteger(entry.name, StrToBool(value, regional) ? 1 : 0);
    case RegValueType::Float: return registry.WriteBinaryData(entry.name, DoubleBytes(StrToFloat(value, regional)));
    case RegValueType::Date:
      return registry.WriteBinaryData(entry.name,
                                      DoubleBytes(StrToDate(value, regional, platform.system.CurrentYear())));
    case RegValueType::DateTime:
      return registry.WriteBinaryData(entry.name,
                                      DoubleBytes(StrToDateTime(value, regional, platform.system.CurrentYear())));
    case RegValueType::Time: return registry.WriteBinaryData(entry.name, DoubleBytes(StrToTime(value, regional)));
    case RegValueType::None: return;
  }
}

}  // namespace

bool IsKnownTypeWord(std::string_view typeWord) {
  if (typeWord.empty()) return false;
  std::string upperWord, upperList;
  for (char c : typeWord) upperWord += AsciiUpper(c);
  for (char c : std::string_view(kTypeWords)) upperList += AsciiUpper(c);
  return upperList.find(upperWord) != std::string::npos;
}

RegValueType RegTypeFromName(std::string_view word) {
  if (word == "string") return RegValueType::String;
  const std::pair<const char*, RegValueType> kinds[] = {
      {"integer", RegValueType::Integer}, {"bool", RegValueType::Bool},         {"float", RegValueType::Float},
      {"date", RegValueType::Date},       {"datetime", RegValueType::DateTime}, {"time", RegValueType::Time},
  };
  for (const auto& [name, kind] : kinds) {
    if (AsciiSameText(word, name)) return kind;
  }
  return RegValueType::None;
}

RegEntry ParseRegEntry(std::string_view line) {
  RegEntry entry;
  entry.name = TrimBlanks(BeforeSeparator(line, ':'));
  const std::string_view rest = AfterSeparator(line, ':');
  entry.typeWord = TrimBlanks(BeforeSeparator(rest, ';'));
  entry.value = TrimBlanks(AfterSeparator(rest, ';'));
  return entry;
}

std::string PrepareValueText(RegValueType kind, std::string value, const RegionalSettings& regional) {
  switch (kind) {
    case RegValueType::Float: {
      size_t at = value.find('.');
      if (at == std::string::npos) at = value.find(',');
      if (at != std::string::npos) value[at] = regional.decimalSeparator;
      break;
    }
    case RegValueType::Time:
      std::erase(value, 's');
      ReplaceEach(value, ":hm@", regional.timeSeparator);
      break;
    case RegValueType::Date:
      ReplaceEach(value, "/:-@", regional.dateSeparator);
      break;
    default:
      break;
  }
  return value;
}

std::string DoubleBytes(double value) {
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  std::string bytes(8, '\0');
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
  return bytes;
}

bool MjaVarnoReg(Platform& platform, const RunState& state, WriteLogList& record) {
  const auto lines = LoadDescriptionForStep(platform.files, state.packageDescriptionPath);
  if (!lines) return false;
  const auto section = FindSection(*lines, kRegSection);
  if (!section || !section->hasFollowingLine) return false;

  const size_t header = record.EnsureSection(record::kSurValReg, Placement::End);
  RegistryAccess registry(platform.registry);
  for (const std::string& line : section->entries) {
    const RegEntry entry = ParseRegEntry(line);
    if (!IsKnownTypeWord(entry.typeWord) || entry.name.empty()) continue;

    registry.SetRootKey(kHkeyLocalMachine);
    registry.SetAccess(kKeyAllAccess);
    if (!registry.OpenKey(kProductKey, true)) continue;
    // Recorded before the write, and only when the value is new.
    if (!registry.ValueExists(entry.name)) record.RecordEntry(header, entry.name);
    WriteEntry(registry, RegTypeFromName(entry.typeWord), entry, platform);
    registry.CloseKey();
  }
  return true;
}

}  // namespace varno
