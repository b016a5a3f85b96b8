#include "rollback/journal.h"


namespace varno {
namespace {

constexpr char kMagic[] = "VARNOJOURNAL";
constexpr char kHex[] = "0123456789ABCDEF";

std::string Escape(std::string_view field) {
  std::string out;
  for (const char c : field) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || c == '%') {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> Unescape(std::string_view field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '%') {
      out += field[i];
      continue;
    }
    if (i + 2 >= field.size()) return std::nullopt;
    const int high = HexDigit(field[i + 1]);
    const int low = HexDigit(field[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields(1);
  for (const char c : line) {
    if (c == '\t') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

const char* RootName(RegKey root) { return root == kHkeyCurrentUser ? "HKCU" : "HKLM"; }

std::optional<RegKey> RootOf(const std::string& name) {
  if (name == "HKLM") return kHkeyLocalMachine;
  if (name == "HKCU") return kHkeyCurrentUser;
  return std::nullopt;
}

struct KindName {
  JournalRecord::Kind kind;
  const char* name;
  size_t fields;  // after the kind
};
constexpr KindName kKinds[] = {
    {JournalRecord::Kind::NewFile, "NEWFILE", 1},     {JournalRecord::Kind::Saved, "SAVED", 2},
    {JournalRecord::Kind::Moved, "MOVED", 2},         {JournalRecord::Kind::NewDirectory, "NEWDIR", 1},
    {JournalRecord::Kind::NewKey, "NEWKEY", 2},       {JournalRecord::Kind::Value, "VALUE", 4},
    {JournalRecord::Kind::Control, "CONTROL", 1},     {JournalRecord::Kind::Committed, "COMMITTED", 0},
    {JournalRecord::Kind::RemovedDirectory, "REMOVEDDIR", 1},
};

}  // namespace

std::string EncodeJournalRecord(const JournalRecord& record) {
  std::string line;
  for (const KindName& kind : kKinds) {
    if (kind.kind == record.kind) line = kind.name;
  }
  const auto field = [&line](std::string_view text) { line += '\t' + Escape(text); };
  switch (record.kind) {
    case JournalRecord::Kind::NewFile:
    case JournalRecord::Kind::NewDirectory:
    case JournalRecord::Kind::RemovedDirectory:
    case JournalRecord::Kind::Control: field(record.path); break;
    case JournalRecord::Kind::Saved:
    case JournalRecord::Kind::Moved:
      field(record.path);
      field(record.second);
      break;
    case JournalRecord::Kind::NewKey:
      field(RootName(record.root));
      field(record.path);
      break;
    case JournalRecord::Kind::Value:
      field(RootName(record.root));
      field(record.path);
      field(record.second);
      if (record.existed) {
        field(std::to_string(record.type));
        field(record.data);
      } else {
        field("-");
      }
      break;
    case JournalRecord::Kind::Committed: break;
  }
  return line;
}

std::optional<JournalRecord> DecodeJournalRecord(const std::string& line) {
  const std::vector<std::string> raw = SplitFields(line);
  std::vector<std::string> fields;
  for (size_t i = 1; i < raw.size(); ++i) {
    auto text = Unescape(raw[i]);
    if (!text) return std::nullopt;
    fields.push_back(std::move(*text));
  }
  JournalRecord record;
  const KindName* kind = nullptr;
  for (const KindName& known : kKinds) {
    if (raw[0] == known.name) kind = &known;
  }
  if (!kind) return std::nullopt;
  record.kind = kind->kind;
  const bool valueWithData = record.kind == JournalRecord::Kind::Value && fields.size() == 5;
  if (fields.size() != kind->fields && !valueWithData) return std::nullopt;
  switch (record.kind) {
    case JournalRecord::Kind::NewFile:
    case JournalRecord::Kind::NewDirectory:
    case JournalRecord::Kind::RemovedDirectory:
    case JournalRecord::Kind::Control: record.path = fields[0]; break;
    case JournalRecord::Kind::Saved:
    case JournalRecord::Kind::Moved:
      record.path = fields[0];
      record.second = fields[1];
      break;
    case JournalRecord::Kind::NewKey:
    case JournalRecord::Kind::Value: {
      const auto root = RootOf(fields[0]);
      if (!root) return std::nullopt;
      record.root = *root;
      record.path = fields[1];
      if (record.kind == JournalRecord::Kind::NewKey) break;
      record.second = fields[2];
      if (!valueWithData) {
        if (fields[3] != "-") return std::nullopt;
        break;
      }
      record.existed = true;
      if (fields[3].empty() || fields[3].find_first_not_of("0123456789") != std::string::npos ||
          fields[3].size() > 9) {
        return std::nullopt;
      }
      record.type = static_cast<uint32_t>(std::stoul(fields[3]));
      record.data = fields[4];
      break;
    }
    case JournalRecord::Kind::Committed: break;
  }
  return record;
}

std::optional<std::vector<JournalRecord>> ReadJournal(FileSystem& files, const std::string& path) {
  const auto bytes = files.ReadWholeFile(path);
  if (!bytes) return std::nullopt;
  return ParseJournal(*bytes);
}

std::optional<std::vector<JournalRecord>> ParseJournal(std::string_view bytes) {
  // Only lines ended by CR LF were written whole; a last line without its end was cut short.
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end = bytes.find("\r\n"); end != std::string_view::npos; end = bytes.find("\r\n", start)) {
    lines.emplace_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  if (lines.empty() || lines[0] != std::string(kMagic) + "\t" + std::to_string(kJournalVersion)) return std::nullopt;
  std::vector<JournalRecord> records;
  for (size_t i = 1; i < lines.size(); ++i) {
    if (auto record = DecodeJournalRecord(lines[i])) records.push_back(std::move(*record));
  }
  return records;
}

std::unique_ptr<Journal> Journal::Begin(FileSystem& files, const std::string& path) {
  if (files.FileExists(path)) return nullptr;
  auto file = files.OpenForAppending(path);
  if (!file) return nullptr;
  if (!file->Append(std::string(kMagic) + "\t" + std::to_string(kJournalVersion) + "\r\n")) {
    file.reset();
    files.RemoveFile(path);  // a journal without its first line would stop every later run
    return nullptr;
  }
  return std::unique_ptr<Journal>(new Journal(std::move(file), path));
}

bool Journal::Append(const JournalRecord& record) {
  return file_ && file_->Append(EncodeJournalRecord(record) + "\r\n");
}

bool Journal::Announce(const JournalRecord& record) {
  return file_ && file_->AppendFlushingLater(EncodeJournalRecord(record) + "\r\n");
}

bool Journal::Durable() { return file_ && file_->WaitFlushed(); }

bool IsBackupName(std::string_view name) {
  constexpr std::string_view kMark = ".vrnundo";
  const size_t mark = name.rfind(kMark);
  if (mark == std::string_view::npos || mark + kMark.size() == name.size()) return false;
  return name.find_first_not_of("0123456789", mark + kMark.size()) == std::string_view::npos;
}

std::string Journal::BackupNameFor(FileSystem& files, const std::string& path) {
  std::string name;
  do {
    name = path + ".vrnundo" + std::to_string(++backups_);
  } while (files.FileExists(name) || files.DirectoryExists(name));
  return name;
}

}  // namespace varno
