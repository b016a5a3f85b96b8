#include "host/host_disk.h"

#include <algorithm>

#ifdef _WIN32
#include "platform/win32/win32_files.h"
#else
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "host/host_text.h"
#include "host/watched_files.h"
#include "platform/posix/posix_files.h"
#endif

namespace varno::pack {

#ifdef _WIN32

namespace {

class Win32Disk : public HostDisk {
 public:
  FileSystem& Files() override { return files_; }
  std::string WindowsPath(std::string_view hostPath) const override { return std::string(hostPath); }

 private:
  win32::Win32FileSystem files_;
};

}  // namespace

std::unique_ptr<HostDisk> HostDisk::Open(std::string&) { return std::make_unique<Win32Disk>(); }

std::optional<std::string> ArgumentText(std::string_view argument) { return std::string(argument); }

#else

namespace {

// Linux names are UTF-8 and the service's paths Windows-1252: the names are converted on
// their way to the disk and back, as Wine converts them for a Windows program.
class Utf8Names : public ForwardingFiles {
 public:
  using ForwardingFiles::ForwardingFiles;

  bool FileExists(const std::string& path) override { return inner_.FileExists(Host(path)); }
  bool DirectoryExists(const std::string& path) override { return inner_.DirectoryExists(Host(path)); }
  std::unique_ptr<InputFile> OpenForReading(const std::string& path) override {
    return inner_.OpenForReading(Host(path));
  }
  std::unique_ptr<OutputFile> CreateReplacement(const std::string& path) override {
    return inner_.CreateReplacement(Host(path));
  }
  std::unique_ptr<OutputFile> CreateReplacementNamed(const std::string& path, const std::string& temporary) override {
    return inner_.CreateReplacementNamed(Host(path), Host(temporary));
  }
  bool MoveFileTo(const std::string& from, const std::string& to) override {
    return inner_.MoveFileTo(Host(from), Host(to));
  }
  bool CopyFileTo(const std::string& from, const std::string& to) override {
    return inner_.CopyFileTo(Host(from), Host(to));
  }
  bool RemoveFile(const std::string& path) override { return inner_.RemoveFile(Host(path)); }
  bool MakeDirectory(const std::string& path) override { return inner_.MakeDirectory(Host(path)); }
  std::unique_ptr<DirectoryListing> ListMatching(const std::string& pattern) override {
    class Listing : public DirectoryListing {
     public:
      explicit Listing(std::unique_ptr<DirectoryListing> inner) : inner_(std::move(inner)) {}
      std::optional<DirectoryEntry> Next() override {
        // A Linux name that Windows-1252 cannot write is one the updater could not have
        // asked for; it is passed over.
        while (auto entry = inner_->Next()) {
          if (auto name = Utf8ToCp1252(entry->name)) return DirectoryEntry{std::move(*name), entry->isDirectory};
        }
        return std::nullopt;
      }

     private:
      std::unique_ptr<DirectoryListing> inner_;
    };
    return std::make_unique<Listing>(inner_.ListMatching(Host(pattern)));
  }

 private:
  static std::string Host(const std::string& path) { return Cp1252ToUtf8(path); }
};

// The Linux service maps "C:\x" to root/C/x. A private root whose "C" is a link to "/"
// makes every Linux path reachable as "C:" followed by that path, with no second
// implementation of the service's rules. The root is removed when the tool ends.
class PosixDisk : public HostDisk {
 public:
  PosixDisk(std::string root, std::string currentDirectory)
      : root_(std::move(root)), currentDirectory_(std::move(currentDirectory)), posix_(root_), files_(posix_) {}
  ~PosixDisk() override {
    ::unlink((root_ + "/C").c_str());
    ::rmdir(root_.c_str());
  }

  FileSystem& Files() override { return files_; }

  std::string WindowsPath(std::string_view hostPath) const override {
    std::string path = !hostPath.empty() && hostPath.front() == '/' ? std::string(hostPath)
                                                                    : currentDirectory_ + "/" + std::string(hostPath);
    std::replace(path.begin(), path.end(), '/', '\\');
    return "C:" + path;
  }

 private:
  std::string root_;
  std::string currentDirectory_;
  posix::PosixFileSystem posix_;
  Utf8Names files_;
};

}  // namespace

std::unique_ptr<HostDisk> HostDisk::Open(std::string& problem) {
  char current[PATH_MAX];
  if (!::getcwd(current, sizeof(current))) {
    problem = "the current directory cannot be read";
    return nullptr;
  }
  const auto currentDirectory = Utf8ToCp1252(current);
  if (!currentDirectory) {
    problem = "the current directory's path holds characters that Windows-1252 cannot write";
    return nullptr;
  }
  std::error_code error;
  std::string root = (std::filesystem::temp_directory_path(error) / "varno-pack-XXXXXX").string();
  if (error || !::mkdtemp(root.data())) {
    problem = "no private directory can be made in the temporary directory";
    return nullptr;
  }
  if (::symlink("/", (root + "/C").c_str()) != 0) {
    ::rmdir(root.c_str());
    problem = "no link can be made in the temporary directory " + root;
    return nullptr;
  }
  return std::make_unique<PosixDisk>(std::move(root), *currentDirectory == "/" ? "" : *currentDirectory);
}

std::optional<std::string> ArgumentText(std::string_view argument) { return Utf8ToCp1252(argument); }

#endif

}  // namespace varno::pack
