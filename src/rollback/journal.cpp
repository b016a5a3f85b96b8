#include "rollback/journal.h"

#include "base/ansi_text.h"
#include "base/windows_path.h"


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
    {JournalRecord::Kind::RawValue, "RAWVALUE", 4},
    {JournalRecord::Kind::Control, "CONTROL", 1},     {JournalRecord::Kind::Committed, "COMMITTED", 0},
    {JournalRecord::Kind::Run, "RUN", 1},             {JournalRecord::Kind::TempDirectory, "TEMPDIR", 1},
    {JournalRecord::Kind::RemovedDirectory, "REMOVEDDIR", 1},
};

std::string Hex16(uint64_t number) {
  std::string hex(16, '0');
  for (int i = 15; i >= 0; --i, number >>= 4) hex[static_cast<size_t>(i)] = kHex[number & 15];
  return hex;
}

std::string Header() { return std::string(kMagic) + "\t" + std::to_string(kJournalVersion) + "\r\n"; }

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
    case JournalRecord::Kind::Control:
    case JournalRecord::Kind::Run:
    case JournalRecord::Kind::RemovedDirectory:
    case JournalRecord::Kind::TempDirectory: field(record.path); break;
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
    case JournalRecord::Kind::RawValue:
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
  const bool isValue = record.kind == JournalRecord::Kind::Value || record.kind == JournalRecord::Kind::RawValue;
  const bool valueWithData = isValue && fields.size() == 5;
  if (fields.size() != kind->fields && !valueWithData) return std::nullopt;
  switch (record.kind) {
    case JournalRecord::Kind::NewFile:
    case JournalRecord::Kind::NewDirectory:
    case JournalRecord::Kind::Control:
    case JournalRecord::Kind::Run:
    case JournalRecord::Kind::RemovedDirectory:
    case JournalRecord::Kind::TempDirectory: record.path = fields[0]; break;
    case JournalRecord::Kind::Saved:
    case JournalRecord::Kind::Moved:
      record.path = fields[0];
      record.second = fields[1];
      break;
    case JournalRecord::Kind::NewKey:
    case JournalRecord::Kind::Value:
    case JournalRecord::Kind::RawValue: {
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
      // Any 32-bit type is kept: a program may store a value under a type of its own.
      if (fields[3].empty() || fields[3].find_first_not_of("0123456789") != std::string::npos ||
          fields[3].size() > 10 || std::stoull(fields[3]) > 0xFFFFFFFFull) {
        return std::nullopt;
      }
      record.type = static_cast<uint32_t>(std::stoull(fields[3]));
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
  // A journal of version 1, left by the previous program, differs only by its VALUE records.
  const auto known = [](const std::string& line) {
    for (int version = 1; version <= kJournalVersion; ++version) {
      if (line == std::string(kMagic) + "\t" + std::to_string(version)) return true;
    }
    return false;
  };
  if (lines.empty() || !known(lines[0])) return std::nullopt;
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
  const std::string tag = Hex16(files.UnpredictableNumber());
  if (!file->Append(Header() + EncodeJournalRecord(MakeRecord(JournalRecord::Kind::Run, tag)) + "\r\n")) {
    file.reset();
    files.RemoveFile(path);  // a journal without its first line would stop every later run
    return nullptr;
  }
  return std::unique_ptr<Journal>(new Journal(std::move(file), path, tag));
}

// Once a write or a flush of the journal failed, what it held may never reach the disk:
// every later change is refused, and no later wait may report the journal durable.
bool Journal::Append(const JournalRecord& record) {
  if (!failed_ && !(file_ && file_->Append(EncodeJournalRecord(record) + "\r\n"))) failed_ = true;
  return !failed_;
}

bool Journal::Announce(const JournalRecord& record) {
  if (!failed_ && !(file_ && file_->AppendFlushingLater(EncodeJournalRecord(record) + "\r\n"))) failed_ = true;
  return !failed_;
}

bool Journal::Durable() {
  if (!failed_ && !(file_ && file_->WaitFlushed())) failed_ = true;
  return !failed_;
}

bool Journal::IsOwnBackupName(std::string_view name) const {
  return name.find(".vrnundo-" + tag_ + "-") != std::string_view::npos;
}

std::string Journal::BackupNameFor(FileSystem& files, const std::string& path) {
  std::string name;
  do {
    name = path + ".vrnundo-" + tag_ + "-" + std::to_string(++backups_);
  } while (files.FileExists(name) || files.DirectoryExists(name));
  return name;
}

std::optional<std::string> Journal::TemporaryNameFor(const std::string& path) {
  const std::string parent = ParentOf(path);
  const std::string directory = parent.empty() ? "." : WithoutTrailingBackslash(parent);
  const std::string key = AnsiUpperCase(directory);
  bool announced = false;
  for (const std::string& known : temporaryDirectories_) announced = announced || known == key;
  if (!announced) {
    if (!Append(MakeRecord(JournalRecord::Kind::TempDirectory, directory))) return std::nullopt;
    temporaryDirectories_.push_back(key);
  }
  return JoinPath(directory, "vrn" + tag_ + std::to_string(++temporaries_) + ".tmp");
}

std::string TemporaryFileMask(const std::string& tag) { return "vrn" + tag + "*.tmp"; }

bool RewriteWithoutCommitMark(FileSystem& files, const std::string& path, const std::vector<JournalRecord>& records) {
  std::string bytes = Header();
  for (const JournalRecord& record : records) {
    if (record.kind != JournalRecord::Kind::Committed) bytes += EncodeJournalRecord(record) + "\r\n";
  }
  return files.ReplaceWholeFileBeside(path, bytes);
}

}  // namespace varno
