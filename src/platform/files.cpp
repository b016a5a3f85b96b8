#include "platform/files.h"

namespace varno {

std::optional<std::string> FileSystem::ReadWholeFile(const std::string& path) {
  auto file = OpenForReading(path);
  if (!file) return std::nullopt;
  std::string bytes;
  char chunk[65536];
  while (const size_t read = file->Read(chunk, sizeof(chunk))) bytes.append(chunk, read);
  if (bytes.size() != file->Size()) return std::nullopt;  // a read error ended the loop early
  return bytes;
}

bool FileSystem::ReplaceWholeFile(const std::string& path, std::string_view bytes) {
  auto file = CreateReplacement(path);
  return file && file->Write(bytes.data(), bytes.size()) && file->Commit();
}

bool FileSystem::CopyFileTo(const std::string& from, const std::string& to) {
  auto source = OpenForReading(from);
  if (!source) return false;
  auto destination = CreateReplacement(to);
  if (!destination) return false;
  char chunk[65536];
  uint64_t copied = 0;
  while (const size_t read = source->Read(chunk, sizeof(chunk))) {
    if (!destination->Write(chunk, read)) return false;
    copied += read;
  }
  return copied == source->Size() && destination->Commit();
}

}  // namespace varno
