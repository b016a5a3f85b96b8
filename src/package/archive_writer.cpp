#include "package/archive_writer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "package/archive_layout.h"

namespace varno {
namespace {

class BytesInputFile : public InputFile {
 public:
  explicit BytesInputFile(std::shared_ptr<const std::string> bytes) : bytes_(std::move(bytes)) {}
  size_t Read(char* buffer, size_t size) override {
    if (position_ >= bytes_->size()) return 0;
    const size_t count = std::min<size_t>(size, bytes_->size() - position_);
    std::memcpy(buffer, bytes_->data() + position_, count);
    position_ += count;
    return count;
  }
  bool Seek(uint64_t position) override {
    position_ = position;
    return true;
  }
  uint64_t Size() override { return bytes_->size(); }

 private:
  std::shared_ptr<const std::string> bytes_;
  uint64_t position_ = 0;
};

class BytesOutputFile : public OutputFile {
 public:
  bool Write(const char* data, size_t size) override {
    bytes.append(data, size);
    return true;
  }
  bool Commit() override { return true; }
  std::string bytes;
};

std::optional<std::string> Write(OutputFile& output, const std::vector<ArchiveSource>& members, char leadByte) {
  if (auto problem = CheckArchiveSources(members)) return problem;
  const bool compressed = std::any_of(members.begin(), members.end(),
                                      [](const ArchiveSource& member) { return member.method != archive::kStored; });
  std::string head(compressed ? archive::kCompressedSignature : archive::kSignature, 3);
  head += static_cast<char>(members.size());
  const auto put32 = [&head](uint64_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) head += static_cast<char>((value >> shift) & 0xFF);
  };
  for (const ArchiveSource& member : members) {
    if (compressed) {
      head += static_cast<char>(member.method);
      put32(member.StoredSize());
    }
    put32(member.size);
  }
  if (!output.Write(head.data(), head.size())) return "the archive cannot be written";

  std::vector<char> buffer(1 << 16);
  for (size_t i = 0; i < members.size(); ++i) {
    const ArchiveSource& member = members[i];
    const std::string which = "member " + std::to_string(i + 1) + " (\"" + member.name + "\")";
    auto input = member.open ? member.open() : nullptr;
    if (!input) return which + " cannot be opened";
    const uint64_t size = member.StoredSize();
    uint64_t copied = 0;
    while (copied < size) {
      const size_t wanted = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - copied));
      const size_t read = input->Read(buffer.data(), wanted);
      if (read == 0) break;
      if (!output.Write(buffer.data(), read)) return "the archive cannot be written";
      copied += read;
    }
    if (copied != size || input->Read(buffer.data(), 1) != 0) {
      return which + " does not give the " + std::to_string(size) + " bytes of its " +
             (member.method == archive::kStored ? "size" : "stored size");
    }
  }

  std::string names(1, leadByte);
  for (size_t i = 0; i < members.size(); ++i) {
    if (i > 0) names += archive::kNameSeparator;
    names += members[i].name;
  }
  if (!output.Write(names.data(), names.size())) return "the archive cannot be written";
  return std::nullopt;
}

}  // namespace

ArchiveSource MemberFromBytes(std::string name, std::string bytes) {
  auto shared = std::make_shared<const std::string>(std::move(bytes));
  return ArchiveSource{std::move(name), shared->size(),
                       [shared] { return std::make_unique<BytesInputFile>(shared); }};
}

std::optional<ArchiveSource> MemberFromFile(FileSystem& files, std::string name, const std::string& path) {
  auto file = files.OpenForReading(path);
  if (!file) return std::nullopt;
  return ArchiveSource{std::move(name), file->Size(), [&files, path] { return files.OpenForReading(path); }};
}

std::optional<std::string> CheckArchiveSources(const std::vector<ArchiveSource>& members) {
  bool compressed = false;
  for (const ArchiveSource& member : members) compressed |= member.method != archive::kStored;
  uint64_t nameTableOffset = ArchiveDataStart(members.size(), compressed);
  for (size_t i = 0; i < members.size(); ++i) {
    if (auto problem = CheckMemberName(members[i].name)) return "name " + std::to_string(i + 1) + " " + *problem;
    if (members[i].method != archive::kStored && members[i].method != archive::kDeflate) {
      return "member " + std::to_string(i + 1) + " has the unknown method " + std::to_string(members[i].method);
    }
    // Real sizes are 32-bit in the format too, whatever the stored one.
    if (members[i].size > 0xFFFFFFFF) return "member " + std::to_string(i + 1) + " is larger than 4 GiB";
    nameTableOffset += members[i].StoredSize();
  }
  return CheckArchiveLimits(members.size(), nameTableOffset);
}

std::optional<std::string> WriteArchive(FileSystem& files, const std::string& path,
                                        const std::vector<ArchiveSource>& members, char leadByte) {
  if (auto problem = CheckArchiveSources(members)) return problem;
  auto output = files.CreateReplacement(path);
  if (!output) return "the file " + path + " cannot be created";
  if (auto problem = Write(*output, members, leadByte)) return problem;
  if (!output->Commit()) return "the file " + path + " cannot be replaced";
  return std::nullopt;
}

std::string ArchiveBytes(const std::vector<ArchiveSource>& members, char leadByte) {
  BytesOutputFile output;
  if (auto problem = Write(output, members, leadByte)) throw std::invalid_argument(*problem);
  return std::move(output.bytes);
}

}  // namespace varno
