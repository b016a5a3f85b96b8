#include "package/archive_reader.h"

#include <memory>

#include "app/message_boxes.h"
#include "base/texts.h"
#include "package/archive_layout.h"

namespace varno {
namespace {

// Copies one member from the archive's current position. The running count k includes
// what a read brought beyond the member; the excess is cut off the last chunk, so a member
// whose size is a multiple of the buffer ends with one read that is cut to nothing. The
// replacement is committed only when the member's bytes were all read and written.
void WriteMember(FileSystem& files, InputFile& archive, const std::string& target, uint32_t size, char* buffer) {
  auto output = files.CreateReplacement(target);
  if (!output) return;
  uint64_t k = 0;
  uint64_t written = 0;
  size_t chunk = 0;
  do {
    chunk = archive.Read(buffer, kArchiveCopyBufferSize);
    k += chunk;
    if (k > size) chunk -= static_cast<size_t>(k - size);
    if (chunk > 0 && !output->Write(buffer, chunk)) return;
    written += chunk;
  } while (chunk != 0 && k <= size);
  if (written == size) output->Commit();
}

}  // namespace

void ExtractArchive(Platform& platform, const std::string& archivePath, const std::string& targetDir,
                    WriteLogList& record, size_t insertionIndex) {
  FileSystem& files = platform.files;
  auto archive = files.OpenForReading(archivePath);
  const ArchiveCheck check = archive ? ReadArchiveLayout(*archive) : ArchiveCheck{{}, "cannot be opened"};
  if (!check.Valid()) {
    ShowPlainMessage(platform, text::kArchiveNotRecognised);
    return;
  }
  const auto buffer = std::make_unique<char[]>(kArchiveCopyBufferSize);
  for (const ArchiveMember& member : check.layout.members) {
    const std::string target = targetDir + member.name;
    if (!files.FileExists(target)) record.RecordArchiveMember(insertionIndex, target, member.name);
    // Each member starts where the sizes put it, whatever the previous copy read past it.
    if (!archive->Seek(member.offset)) continue;
    WriteMember(files, *archive, target, member.size, buffer.get());
  }
}

}  // namespace varno
