#include "rollback/journal.h"

#include <zlib.h>

#include "base/ansi_text.h"
#include "base/windows_path.h"
#include "platform/portable_sha256.h"


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

std::string FileIdText(const FileId& id) { return Hex16(id.volume).substr(8) + "-" + Hex16(id.index); }

std::optional<FileId> ParseFileId(const std::string& text) {
  if (text.size() != 25 || text[8] != '-') return std::nullopt;
  uint64_t volume = 0, index = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == 8) continue;
    const int digit = HexDigit(text[i]);
    if (digit < 0) return std::nullopt;
    (i < 8 ? volume : index) = (i < 8 ? volume : index) * 16 + static_cast<uint64_t>(digit);
  }
  return FileId{static_cast<uint32_t>(volume), index};
}

std::string HeaderLine(int version = kJournalVersion) { return std::string(kMagic) + "\t" + std::to_string(version); }
std::string Header() { return HeaderLine() + "\r\n"; }

std::string Hex8(uint32_t number) { return Hex16(number).substr(8); }

// The checksum of a line: CRC-32 of the previous line's checksum (the header line for the
// first record) and of the line up to its checksum field. Chained so that a line can follow
// only the very line it followed when it was written.
std::string LineChecksum(std::string_view previous, std::string_view line) {
  uLong crc = crc32(0, nullptr, 0);
  crc = crc32(crc, reinterpret_cast<const Bytef*>(previous.data()), static_cast<uInt>(previous.size()));
  crc = crc32(crc, reinterpret_cast<const Bytef*>(line.data()), static_cast<uInt>(line.size()));
  return Hex8(static_cast<uint32_t>(crc));
}

// HMAC-SHA256 of the message under a key of at most 64 bytes.
std::string HmacSha256(std::string_view key, std::string_view message) {
  std::string inner(64, '\x36'), outer(64, '\x5c');
  for (size_t i = 0; i < key.size() && i < 64; ++i) {
    inner[i] = static_cast<char>(inner[i] ^ key[i]);
    outer[i] = static_cast<char>(outer[i] ^ key[i]);
  }
  const auto digest = [](std::string_view a, std::string_view b) {
    auto sha = StartPortableSha256();
    sha->Add(a.data(), a.size());
    sha->Add(b.data(), b.size());
    return sha->Finish().value_or(std::string());
  };
  return digest(outer, digest(inner, message));
}

// The seal of a line. Version 4: HMAC-SHA256, under the run's key, of the previous line's
// seal (the header line for the first record) and of the line up to its seal, in 64
// upper-case hexadecimal digits; only who holds the key (administrators, through the run's
// anchor) can make one. Version 3: the CRC-32 chained the same way, which tells a line cut
// short or left over from an earlier use of the disk, and nothing of who wrote it.
std::string LineSeal(std::string_view key, std::string_view previous, std::string_view line) {
  if (key.empty()) return LineChecksum(previous, line);
  std::string message(previous);
  message += line;
  std::string hex;
  for (const unsigned char byte : HmacSha256(key, message)) {
    hex += kHex[byte >> 4];
    hex += kHex[byte & 15];
  }
  return hex;
}

// A record's line as this version writes it: its fields, the run's tag, the chained seal.
std::string SealedLine(const JournalRecord& record, const std::string& tag, std::string_view key, std::string* chain) {
  const std::string line = EncodeJournalRecord(record) + "\t" + tag;
  *chain = LineSeal(key, *chain, line);
  return line + "\t" + *chain + "\r\n";
}

// The records of a version 3 or 4 journal, up to the first line that is not a whole, known
// record of the run, sealed by its checksum or its MAC: a line after one that fails may be
// what an earlier use of the disk left there, or what someone else wrote, never what this
// run wrote.
std::vector<JournalRecord> SealedRecords(const std::vector<std::string>& lines, std::string_view key) {
  std::vector<JournalRecord> records;
  std::string chain = lines[0];
  std::string tag;
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const size_t sum = line.rfind('\t');
    if (sum == std::string::npos || line.substr(sum + 1) != LineSeal(key, chain, std::string_view(line).substr(0, sum))) break;
    const size_t tagAt = line.rfind('\t', sum - 1);
    if (tagAt == std::string::npos) break;
    const std::string lineTag = line.substr(tagAt + 1, sum - tagAt - 1);
    auto record = DecodeJournalRecord(line.substr(0, tagAt));
    if (!record || !IsRunTag(lineTag)) break;
    // The first record names the run; every later one carries the same tag.
    if (records.empty() ? record->kind != JournalRecord::Kind::Run || record->path != lineTag : lineTag != tag) break;
    tag = lineTag;
    chain = line.substr(sum + 1);
    records.push_back(std::move(*record));
  }
  return records;
}

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
      if (record.kind == JournalRecord::Kind::Saved && record.id) field(FileIdText(*record.id));
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
  const bool savedWithId = record.kind == JournalRecord::Kind::Saved && fields.size() == 3;
  if (fields.size() != kind->fields && !valueWithData && !savedWithId) return std::nullopt;
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
      if (savedWithId && !(record.id = ParseFileId(fields[2]))) return std::nullopt;
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


int JournalVersionOf(std::string_view bytes) {
  const size_t end = bytes.find("\r\n");
  if (end == std::string_view::npos) return 0;
  for (int version = 1; version <= kJournalVersion; ++version) {
    if (bytes.substr(0, end) == HeaderLine(version)) return version;
  }
  return 0;
}

std::optional<std::vector<JournalRecord>> ParseJournal(std::string_view bytes, std::string_view key) {
  // Only lines ended by CR LF were written whole; a last line without its end was cut short.
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end = bytes.find("\r\n"); end != std::string_view::npos; end = bytes.find("\r\n", start)) {
    lines.emplace_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  // A journal of version 1, left by the previous program, differs only by its VALUE records.
  const int version = JournalVersionOf(bytes);
  if (version == 0) return std::nullopt;
  // A version 4 journal is read only with its run's key: without it, nothing says who wrote it.
  if (version == 4) {
    if (key.empty()) return std::nullopt;
    return SealedRecords(lines, key);
  }
  if (version == 3) return SealedRecords(lines, {});
  // Earlier versions carry no checksum: every readable line is taken.
  std::vector<JournalRecord> records;
  for (size_t i = 1; i < lines.size(); ++i) {
    if (auto record = DecodeJournalRecord(lines[i])) records.push_back(std::move(*record));
  }
  return records;
}

std::unique_ptr<Journal> Journal::Begin(FileSystem& files, const std::string& path, const std::string& tag,
                                        const std::string& key, bool* ownerRefused) {
  if (files.FileExists(path) || key.empty()) return nullptr;
  bool refused = false;
  auto file = files.CreateProtectedForAppending(path, &refused);
  if (ownerRefused) *ownerRefused = refused;
  if (!file) return nullptr;
  const JournalRecord run = MakeRecord(JournalRecord::Kind::Run, tag);
  std::string chain = HeaderLine();
  if (!file->Append(Header() + SealedLine(run, tag, key, &chain))) {
    file.reset();
    files.RemoveFile(path);  // a journal without its first line would stop every later run
    return nullptr;
  }
  auto journal = std::unique_ptr<Journal>(new Journal(std::move(file), path, tag));
  journal->key_ = key;
  journal->chain_ = chain;
  journal->records_.push_back(run);
  return journal;
}

// Once a write or a flush of the journal failed, what it held may never reach the disk:
// every later change is refused, and no later wait may report the journal durable.
bool Journal::Append(const JournalRecord& record) {
  if (!failed_ && !(file_ && file_->Append(Seal(record)))) failed_ = true;
  return !failed_;
}

bool Journal::Announce(const JournalRecord& record) {
  if (!failed_ && !(file_ && file_->AppendFlushingLater(Seal(record)))) failed_ = true;
  return !failed_;
}

// The record is kept as soon as its bytes are handed to the file: a write that then fails
// may still have reached the disk, and the undo must cover what it announced.
std::string Journal::Seal(const JournalRecord& record) {
  records_.push_back(record);
  return SealedLine(record, tag_, key_, &chain_);
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

bool IsRunTag(std::string_view text) {
  return text.size() == 16 && text.find_first_not_of("0123456789ABCDEF") == std::string_view::npos;
}

std::string TemporaryFileMask(const std::string& tag) { return "vrn" + tag + "*.tmp"; }

std::string NewRunTag(FileSystem& files) { return Hex16(files.UnpredictableNumber()); }

std::string NewJournalKey(FileSystem& files) {
  std::string key;
  for (int i = 0; i < 4; ++i) {
    uint64_t number = files.UnpredictableNumber();
    for (int b = 0; b < 8; ++b, number >>= 8) key += static_cast<char>(number & 0xFF);
  }
  return key;
}

bool RewriteWithoutCommitMark(FileSystem& files, const std::string& path, const std::vector<JournalRecord>& records,
                              const std::string& key) {
  std::string tag;
  for (const JournalRecord& record : records) {
    if (record.kind == JournalRecord::Kind::Run) tag = record.path;
  }
  std::string chain = HeaderLine();
  std::string bytes = Header();
  for (const JournalRecord& record : records) {
    if (record.kind != JournalRecord::Kind::Committed) bytes += SealedLine(record, tag, key, &chain);
  }
  // Made as the journal itself is, so that the next run trusts it as much.
  const std::string temporary = path + ".tmp";
  if (files.FileExists(temporary)) files.RemoveFile(temporary);
  bool ownerRefused = false;
  auto file = files.CreateProtectedForAppending(temporary, &ownerRefused);
  if (!file || !file->Append(bytes)) {
    file.reset();
    files.RemoveFile(temporary);
    return false;
  }
  file.reset();
  return files.MoveFileReplacing(temporary, path);
}

}  // namespace varno
