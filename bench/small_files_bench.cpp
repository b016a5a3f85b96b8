// Measures an update of many small files natively, through the Linux-disk file service: the
// update as the updater makes it (one archive a sub-directory, the directories made and every
// file written through the rollback journal, then the commit), against `cp -r` of the same
// tree followed by `sync -f` of its file system. Run it by hand; see README.md.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "package/archive_writer.h"
#include "platform/detached_platform.h"
#include "platform/posix/posix_files.h"
#include "rollback/rollback.h"
#include "steps/archive_extraction.h"
#include "steps/uninstall_record.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

bool Run(std::vector<std::string> command) {
  std::vector<char*> argv;
  for (auto& part : command) argv.push_back(part.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// On a virtual machine whose memory balloon hands freed pages back to the host, the page
// cache's first use of them costs a host fault each: every contender starts right after as
// much memory as it will write was touched and freed (see README.md).
void WarmMemory(const fs::path& scratch, uint64_t bytes) {
  Run({"dd", "if=/dev/zero", "of=" + scratch.string(), "bs=1M", "count=" + std::to_string((bytes >> 20) + 64),
       "status=none"});
  fs::remove(scratch);
}

class StringInput : public varno::InputFile {
 public:
  explicit StringInput(const std::string& bytes) : bytes_(bytes) {}
  size_t Read(char* buffer, size_t size) override {
    const size_t count = std::min(size, bytes_.size() - std::min(position_, bytes_.size()));
    std::memcpy(buffer, bytes_.data() + position_, count);
    position_ += count;
    return count;
  }
  bool Seek(uint64_t position) override {
    position_ = static_cast<size_t>(position);
    return true;
  }
  uint64_t Size() override { return bytes_.size(); }

 private:
  const std::string& bytes_;
  size_t position_ = 0;
};

// Real text, as compressible as help pages: the uncompressed files of Debian's documentation
// and of the Perl and Python libraries, in name order, repeated until there is enough.
std::string RealText(size_t bytes) {
  std::vector<fs::path> paths;
  for (const char* root : {"/usr/share/doc", "/usr/share/perl", "/usr/lib/python3.11", "/usr/include"}) {
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
      const fs::path& path = it->path();
      if (it->is_regular_file(error) && path.extension() != ".gz" && path.extension() != ".pyc") paths.push_back(path);
    }
  }
  std::sort(paths.begin(), paths.end());
  std::string text;
  while (text.size() < bytes && !paths.empty()) {
    for (const fs::path& path : paths) {
      std::ifstream in(path, std::ios::binary);
      text.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      if (text.size() >= bytes) break;
    }
  }
  text.resize(bytes);
  return text;
}

std::string SubName(int k) {
  char name[16];
  std::snprintf(name, sizeof(name), "D%03d", k);
  return name;
}

// One case: files of size bytes over dirs sub-directories. Returns false when something went
// wrong (the update failed or left other bytes than the tree's).
bool SmallFiles(const fs::path& root, int files, size_t size, int dirs, int rounds, double target) {
  varno::posix::PosixFileSystem posix(root.string());
  varno::DetachedPlatform detached(posix);
  varno::Platform& platform = detached.platform();
  const std::string text = RealText(static_cast<size_t>(files) * size);
  const fs::path tree = root / "tree";
  fs::remove_all(root / "C");
  fs::remove_all(tree);
  fs::create_directories(root / "C" / "Package");
  std::vector<std::vector<std::string>> contents(static_cast<size_t>(dirs));
  size_t offset = 0;
  for (int k = 1; k <= dirs; ++k) {
    const int count = files / dirs + (k <= files % dirs ? 1 : 0);
    fs::create_directories(tree / SubName(k));
    std::vector<varno::ArchiveSource> sources;
    auto& bytes = contents[static_cast<size_t>(k - 1)];
    bytes.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i, offset += size) bytes.push_back(text.substr(offset, size));
    for (int i = 0; i < count; ++i) {
      const std::string name = "page" + std::to_string(i) + ".txt";
      std::ofstream(tree / SubName(k) / name, std::ios::binary) << bytes[static_cast<size_t>(i)];
      const std::string& member = bytes[static_cast<size_t>(i)];
      sources.push_back({name, member.size(), [&member] { return std::make_unique<StringInput>(member); }});
    }
    if (auto problem = varno::WriteArchive(posix, "C:\\Package\\" + SubName(k) + ".slp", sources)) {
      std::fprintf(stderr, "cannot build an archive: %s\n", problem->c_str());
      return false;
    }
  }
  const fs::path install = root / "C" / "Install";
  const fs::path copy = root / "copy";
  const auto update = [&] {
    auto transaction = varno::UpdateTransaction::Begin(platform, "C:\\Install");
    if (!transaction) return false;
    varno::Platform& journaled = transaction->platform();
    varno::WriteLogList record;
    const size_t at = record.EnsureSection(varno::record::kSurFileDir, varno::Placement::End) + 1;
    for (int k = 1; k <= dirs; ++k) {
      const std::string sub = "C:\\Install\\" + SubName(k);
      if (!journaled.files.MakeDirectory(sub)) return false;
      const auto outcome = varno::ExtractArchive(journaled, "C:\\Package\\" + SubName(k) + ".slp", sub + "\\", record, at);
      if (outcome.refused || outcome.FirstNotWritten()) return false;
    }
    return transaction->Commit();
  };
  std::vector<double> updates, copies, ratios;
  std::printf("\n%d files of %zu bytes in %d sub-directories:\n", files, size, dirs);
  for (int round = 1; round <= rounds; ++round) {
    fs::remove_all(install);
    fs::create_directories(install);
    sync();
    WarmMemory(root / "warm.bin", static_cast<uint64_t>(files) * size);
    auto start = Clock::now();
    if (!update()) {
      std::fprintf(stderr, "the update failed\n");
      return false;
    }
    updates.push_back(Seconds(start));
    if (!Run({"diff", "-r", "-q", "-x", "VarnoMaJ.journal", tree.string(), install.string()})) {
      std::fprintf(stderr, "the installation differs from the tree\n");
      return false;
    }
    fs::remove_all(copy);
    sync();
    WarmMemory(root / "warm.bin", static_cast<uint64_t>(files) * size);
    start = Clock::now();
    if (!Run({"cp", "-r", tree.string(), copy.string()}) || !Run({"sync", "-f", copy.string()})) return false;
    copies.push_back(Seconds(start));
    ratios.push_back(updates.back() / copies.back());
    std::printf("round %d: update %.3f s, cp -r + sync %.3f s: x%.2f\n", round, updates.back(), copies.back(),
                ratios.back());
  }
  std::printf("medians: update %.3f s, cp -r + sync %.3f s; update / (cp -r + sync): best x%.2f, median x%.2f (target x%.1f)\n",
              Median(updates), Median(copies), *std::min_element(ratios.begin(), ratios.end()), Median(ratios),
              target);
  fs::remove_all(root / "C");
  fs::remove_all(tree);
  fs::remove_all(copy);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  std::string dir = "varno-small-files-bench";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--rounds N (5)] [--dir PATH]\n", argv[0]);
      return 2;
    }
  }
  const fs::path root = fs::absolute(dir);
  const bool ok = SmallFiles(root, 2000, 8192, 16, rounds, 1.5) && SmallFiles(root, 20000, 4096, 157, rounds, 2);
  fs::remove_all(root);
  return ok ? 0 : 1;
}
