#include "platform/files.h"

#include "base/ansi_text.h"
#include "base/windows_path.h"

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

bool FileSystem::ReplaceWholeFileBeside(const std::string& path, std::string_view bytes) {
  const std::string temporary = path + ".tmp";
  if (FileExists(temporary)) RemoveFile(temporary);
  auto file = CreateReplacementNamed(path, temporary);
  // What still stands at that name is no killed save's file: a directory, or a file someone
  // holds open, which a user who may write beside the file put there to make every save
  // fail. The save goes on under a name nobody can plant, and leaves theirs alone.
  if (!file) file = CreateReplacement(path);
  return file && file->Write(bytes.data(), bytes.size()) && file->Commit();
}

HeldDirectoryOpen FileSystem::MakeHeldDirectory(const std::string& path) {
  if (!MakeDirectory(path)) {
    const std::string parent = ParentOf(path);
    return {parent.empty() || !DirectoryExists(parent) ? DirectoryHold::Missing : DirectoryHold::Refused, nullptr};
  }
  return HoldDirectory(path);
}

bool FileSystem::CopyFileTo(const std::string& from, const std::string& to) {
  auto source = OpenForReading(from);
  if (!source) return false;
  auto destination = CreateReplacement(to);
  return destination && CopyAndCommit(*source, *destination);
}

bool CopyAndCommit(InputFile& source, OutputFile& destination) {
  char chunk[65536];
  uint64_t copied = 0;
  while (const size_t read = source.Read(chunk, sizeof(chunk))) {
    if (!destination.Write(chunk, read)) return false;
    copied += read;
  }
  return copied == source.Size() && destination.Commit();
}

bool PassesThroughLink(FileSystem& files, const std::string& base, const std::string& path) {
  std::string root = base;
  while (!root.empty() && root.back() == '\\') root.pop_back();
  if (root.empty() || path.size() <= root.size() + 1 || path[root.size()] != '\\' ||
      AnsiUpperCase(path.substr(0, root.size())) != AnsiUpperCase(root)) {
    return false;
  }
  for (size_t separator = path.find('\\', root.size() + 1); separator != std::string::npos;
       separator = path.find('\\', separator + 1)) {
    if (files.IsLinked(path.substr(0, separator))) return true;
  }
  return false;
}

ListingPattern SplitListingPattern(std::string_view pattern) {
  return {std::string(DirectoryPart(pattern)), std::string(LastComponent(pattern))};
}

bool MatchesWildcard(std::string_view name, std::string_view mask) {
  // Greedy matching with one back-track point: the last "*" seen takes one more character
  // whenever what follows it fails.
  size_t n = 0, m = 0;
  size_t starMask = std::string_view::npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      starMask = ++m;
      starName = n;
    } else if (m < mask.size() && (mask[m] == '?' || AnsiUpper(mask[m]) == AnsiUpper(name[n]))) {
      ++m;
      ++n;
    } else if (starMask != std::string_view::npos) {
      m = starMask;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && (mask[m] == '*' || mask[m] == '.')) ++m;
  return m == mask.size();
}

}  // namespace varno
