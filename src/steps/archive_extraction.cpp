#include "steps/archive_extraction.h"

#include <memory>

#include "base/texts.h"
#include "base/windows_path.h"
#include "package/archive_layout.h"
#include "package/member_stream.h"
#include "platform/message_boxes.h"

namespace varno {
namespace {

// Copies one member from the archive's current position. The running count k includes
// what a read brought beyond the member; the excess is cut off the last chunk, so a member
// whose size is a multiple of the buffer ends with one read that is cut to nothing. The
// replacement is committed only when the member's bytes were all read and written.
bool WriteMember(FileSystem& files, InputFile& archive, const std::string& target, uint32_t size, char* buffer) {
  auto output = files.CreateReplacement(target);
  if (!output) return false;
  uint64_t k = 0;
  uint64_t written = 0;
  size_t chunk = 0;
  do {
    chunk = archive.Read(buffer, kArchiveCopyBufferSize);
    k += chunk;
    if (k > size) chunk -= static_cast<size_t>(k - size);
    if (chunk > 0 && !output->Write(buffer, chunk)) return false;
    written += chunk;
  } while (chunk != 0 && k <= size);
  return written == size && output->Commit();
}

// Inflates a compressed member into its replacement, one large write per chunk. A member
// whose bytes do not inflate to exactly its real size is not committed: its previous file
// stays whole, as for a member that cannot be written.
bool WriteCompressedMember(FileSystem& files, InputFile& archive, const ArchiveMember& member,
                           const std::string& target, char* buffer) {
  auto output = files.CreateReplacement(target);
  if (!output) return false;
  MemberStream stream(archive, member);
  while (const size_t chunk = stream.Read(buffer, kArchiveCopyBufferSize)) {
    if (!output->Write(buffer, chunk)) return false;
  }
  return stream.Complete() && output->Commit();
}

bool DirectoryOfTargetExists(FileSystem& files, const std::string& target) {
  return files.DirectoryExists(ParentOf(target));
}

}  // namespace

const ArchiveOutcome::Member* ArchiveOutcome::FirstNotWritten() const {
  for (const Member& member : members) {
    if (member.result == MemberResult::NotWritten) return &member;
  }
  return nullptr;
}

ArchiveOutcome ExtractArchive(Platform& platform, const std::string& archivePath, const std::string& targetDir,
                              WriteLogList& record, size_t insertionIndex) {
  ArchiveOutcome outcome;
  FileSystem& files = platform.files;
  auto archive = files.OpenForReading(archivePath);
  const ArchiveCheck check = archive ? ReadArchiveLayout(*archive) : ArchiveCheck{{}, "cannot be opened"};
  if (!check.Valid()) {
    ShowPlainMessage(platform, text::kArchiveNotRecognised);
    outcome.refused = true;
    return outcome;
  }
  const auto buffer = std::make_unique<char[]>(kArchiveCopyBufferSize);
  for (const ArchiveMember& member : check.layout.members) {
    const std::string target = targetDir + member.name;
    if (!files.FileExists(target)) record.RecordArchiveMember(insertionIndex, target, member.name);
    // Each member starts where the sizes put it, whatever the previous copy read past it.
    MemberResult result = MemberResult::NotWritten;
    const bool written = member.method == archive::kStored
                             ? archive->Seek(member.offset) && WriteMember(files, *archive, target, member.size, buffer.get())
                             : WriteCompressedMember(files, *archive, member, target, buffer.get());
    if (written) {
      result = MemberResult::Written;
    } else if (!DirectoryOfTargetExists(files, target)) {
      result = MemberResult::NoDirectory;
    }
    outcome.members.push_back({member.name, member.size, result});
  }
  return outcome;
}

}  // namespace varno
