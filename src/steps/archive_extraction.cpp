#include "steps/archive_extraction.h"

#include <algorithm>
#include <memory>

#include "base/ansi_text.h"
#include "base/texts.h"
#include "base/windows_path.h"
#include "package/archive_layout.h"
#include "package/member_stream.h"
#include "platform/message_boxes.h"

namespace varno {
namespace {

// Copies one member from the archive's current position into its replacement. The running
// count k would include what a read brought beyond the member, and the excess is cut off
// the last chunk; each read asks no more than the member has left, so that a small member
// costs no whole buffer's read (and the next member starts where this one ended, with no
// seek), and the copy ends with a read of nothing. True when the member's bytes were all
// read and written.
bool WriteMember(OutputFile& output, InputFile& archive, uint32_t size, char* buffer) {
  uint64_t k = 0;
  uint64_t written = 0;
  size_t chunk = 0;
  do {
    chunk = archive.Read(buffer, static_cast<size_t>(std::min<uint64_t>(kArchiveCopyBufferSize, size - std::min<uint64_t>(k, size))));
    k += chunk;
    if (k > size) chunk -= static_cast<size_t>(k - size);
    if (chunk > 0 && !output.Write(buffer, chunk)) return false;
    written += chunk;
  } while (chunk != 0 && k <= size);
  return written == size;
}

// Inflates a compressed member into its replacement, one large write per chunk. A member
// whose bytes do not inflate to exactly its real size is not committed: its previous file
// stays whole, as for a member that cannot be written.
bool WriteCompressedMember(OutputFile& output, InputFile& archive, const ArchiveMember& member, char* buffer) {
  MemberStream stream(archive, member);
  while (const size_t chunk = stream.Read(buffer, kArchiveCopyBufferSize)) {
    if (!output.Write(buffer, chunk)) return false;
  }
  return stream.Complete();
}

// How much a group of members written before their commits may hold (see ExtractArchive).
constexpr uint64_t kGroupBytes = 8u << 20;

// A member written to its replacement, waiting for its commit.
struct WrittenMember {
  std::unique_ptr<OutputFile> output;  // nothing when it could not be created
  bool complete = false;               // every byte written and handed to the system
};

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
  // Members are written in groups, then each group committed in order: each replacement
  // flushes while the next ones are written (several flushes at once, which the disk
  // takes in one go), and a group's journal records reach the disk in one flush at its
  // first commit, where one member after the other paid two flushes. A group ends once
  // it holds kGroupBytes: small files go by the archive (128 members at most), a large
  // member alone, committed as soon as written, as before (a whole gibibyte left waiting
  // for its commits made the large update two to three times slower under Wine). What
  // waits on the disk is no more than the run keeps anyway: each replaced file stays as
  // a backup until the run ends.
  std::vector<WrittenMember> written(check.layout.members.size());
  size_t first = 0;  // the first member of the group not committed yet
  uint64_t grouped = 0;
  for (size_t i = 0; i < written.size(); ++i) {
    const ArchiveMember& member = check.layout.members[i];
    WrittenMember& out = written[i];
    out.output = files.CreateReplacement(targetDir + member.name);
    if (out.output) {
      // Each member starts where the sizes put it, whatever the previous copy read past it.
      out.complete = (member.method == archive::kStored
                          ? archive->Seek(member.offset) && WriteMember(*out.output, *archive, member.size, buffer.get())
                          : WriteCompressedMember(*out.output, *archive, member, buffer.get())) &&
                     out.output->Finish();
    }
    grouped += member.size;
    if (grouped < kGroupBytes && i + 1 < written.size()) continue;
    const size_t groupStart = first;
    for (; first <= i; ++first) {
      const ArchiveMember& committing = check.layout.members[first];
      const std::string target = targetDir + committing.name;
      // Looked at as each member's turn comes, after the members before it are in place,
      // so that a name the archive holds twice is recorded once.
      if (!files.FileExists(target)) record.RecordArchiveMember(insertionIndex, target, committing.name);
      // A committed replacement may hold its file until it is let go: one of the same name
      // goes first, or this one could not replace it.
      const std::string name = AnsiLowerCase(committing.name);
      for (size_t earlier = groupStart; earlier < first; ++earlier) {
        if (written[earlier].output && AnsiLowerCase(check.layout.members[earlier].name) == name) written[earlier].output.reset();
      }
      MemberResult result = MemberResult::NotWritten;
      const bool committed = written[first].complete && written[first].output->Commit();
      if (!committed) written[first].output.reset();  // an uncommitted replacement is removed now
      if (committed) {
        result = MemberResult::Written;
      } else if (!DirectoryOfTargetExists(files, target)) {
        result = MemberResult::NoDirectory;
      }
      outcome.members.push_back({committing.name, committing.size, result});
    }
    // Let go once the group is in place: what a replacement still did for its commit (the
    // rename's flush) is over before the next group, and before the step ends.
    for (size_t done = groupStart; done <= i; ++done) written[done].output.reset();
    grouped = 0;
  }
  return outcome;
}

}  // namespace varno
