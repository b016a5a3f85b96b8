// The least an all-or-nothing update of many small files has to ask of Windows: for each
// file, a temporary file made beside its target, its bytes written, the temporary renamed
// over the target; then one flush of the volume, so that all of it is on the disk. No
// journal, no checks, no record. Where the system refuses to flush a volume (Wine 8 fails
// FlushFileBuffers on "\\.\C:" with ERROR_INVALID_FUNCTION), each file is flushed before
// its rename instead, the only other way to have it on the disk: a sub-directory's files
// are written, then flushed four at a time, then renamed. Run by wine_many_files_bench.sh
// under Wine, beside the real updater, to tell what the system costs a file from what the
// updater adds.
//
//   small_files_floor.exe SOURCE DESTINATION
//
// SOURCE holds sub-directories of files (one level, as the benchmark's trees); each is made
// in DESTINATION and its files put there. Exit code 0 when every file was put in place.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Entries(const std::string& directory, bool directories) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry{};
  const HANDLE find = FindFirstFileA((directory + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const bool isDirectory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const std::string name = entry.cFileName;
    if (name != "." && name != ".." && isDirectory == directories) names.push_back(name);
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return names;
}

bool ReadAll(const std::string& path, std::vector<char>& bytes) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  DWORD read = 0;
  const bool ok = GetFileSizeEx(file, &size) && (bytes.resize(static_cast<size_t>(size.QuadPart)), true) &&
                  (bytes.empty() || ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) &&
                  read == bytes.size();
  CloseHandle(file);
  return ok;
}

// A temporary file made and written; its handle stays open until it is renamed.
HANDLE WriteTemporary(const std::string& temporary, const std::vector<char>& bytes) {
  const HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  DWORD written = 0;
  if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written != bytes.size()) {
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

// Flushes the files on four threads at once: a file system given several flushes at once
// takes them in one commit of its log (one after the other, each is a commit of its own).
constexpr int kFlushThreads = 4;
struct FlushShare {
  const std::vector<HANDLE>* files;
  size_t first;
  bool ok = true;
};
DWORD WINAPI FlushEvery(void* argument) {
  auto& share = *static_cast<FlushShare*>(argument);
  for (size_t i = share.first; i < share.files->size(); i += kFlushThreads) {
    share.ok = FlushFileBuffers((*share.files)[i]) && share.ok;
  }
  return 0;
}
bool FlushAll(const std::vector<HANDLE>& files) {
  FlushShare shares[kFlushThreads];
  HANDLE threads[kFlushThreads];
  for (int t = 0; t < kFlushThreads; ++t) {
    shares[t] = {&files, static_cast<size_t>(t)};
    threads[t] = CreateThread(nullptr, 0, FlushEvery, &shares[t], 0, nullptr);
    if (!threads[t]) return false;
  }
  WaitForMultipleObjects(kFlushThreads, threads, TRUE, INFINITE);
  bool ok = true;
  for (int t = 0; t < kFlushThreads; ++t) {
    CloseHandle(threads[t]);
    ok = ok && shares[t].ok;
  }
  return ok;
}

bool FlushVolumeOf(const std::string& path) {
  char root[MAX_PATH] = {};
  if (!GetVolumePathNameA(path.c_str(), root, sizeof(root)) || root[1] != ':') return false;
  const std::string device = std::string("\\\\.\\") + root[0] + ":";
  const HANDLE volume = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (volume == INVALID_HANDLE_VALUE) return false;
  const bool ok = FlushFileBuffers(volume) != FALSE;
  CloseHandle(volume);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: small_files_floor SOURCE DESTINATION\n");
    return 2;
  }
  const std::string source = argv[1];
  const std::string destination = argv[2];
  CreateDirectoryA(destination.c_str(), nullptr);
  const bool volumeFlushes = FlushVolumeOf(destination);
  std::vector<char> bytes;
  int number = 0;
  // A sub-directory at a time: its files written, flushed (where the volume cannot be),
  // then renamed into place.
  for (const std::string& sub : Entries(source, true)) {
    const std::string into = destination + "\\" + sub;
    if (!CreateDirectoryA(into.c_str(), nullptr)) return 1;
    std::vector<std::string> names = Entries(source + "\\" + sub, false);
    std::vector<HANDLE> files;
    std::vector<std::string> temporaries;
    for (const std::string& name : names) {
      temporaries.push_back(into + "\\floor" + std::to_string(++number) + ".tmp");
      const HANDLE file = ReadAll(source + "\\" + sub + "\\" + name, bytes) ? WriteTemporary(temporaries.back(), bytes)
                                                                            : INVALID_HANDLE_VALUE;
      if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot write %s\n", name.c_str());
        return 1;
      }
      files.push_back(file);
    }
    const bool flushed = volumeFlushes || FlushAll(files);
    for (HANDLE file : files) CloseHandle(file);
    if (!flushed) return 1;
    for (size_t i = 0; i < names.size(); ++i) {
      if (!MoveFileExA(temporaries[i].c_str(), (into + "\\" + names[i]).c_str(), MOVEFILE_REPLACE_EXISTING)) return 1;
    }
  }
  if (volumeFlushes && !FlushVolumeOf(destination)) {
    std::fprintf(stderr, "the volume of %s could not be flushed\n", destination.c_str());
    return 3;
  }
  return 0;
}
