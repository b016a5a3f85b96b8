// Measures the two costs of an update that grow with the package: unpacking a large archive
// on the real disk (against cp of the same bytes, with the peak memory of the process), and
// recording entries into records of growing length. Run it by hand; see README.md.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "steps/archive_extraction.h"
#include "package/archive_writer.h"
#include "platform/posix/posix_files.h"
#include "steps/uninstall_record.h"
#include "platform/detached_platform.h"
#include "platform/forwarding_files.h"
#include "rollback/rollback.h"

namespace {

using Clock = std::chrono::steady_clock;
using varno::InputFile;

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

long PeakRssKib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Member bytes made on the fly, so that building a large archive holds no member in memory.
class GeneratedInput : public InputFile {
 public:
  GeneratedInput(uint64_t size, unsigned seed) : size_(size), block_(1 << 16) {
    for (size_t i = 0; i < block_.size(); ++i) {
      seed = seed * 1103515245u + 12345u;
      block_[i] = static_cast<char>(seed >> 16);
    }
  }
  size_t Read(char* buffer, size_t size) override {
    const size_t count = static_cast<size_t>(std::min<uint64_t>(size, size_ - position_));
    for (size_t done = 0; done < count;) {
      const size_t at = (position_ + done) % block_.size();
      const size_t piece = std::min(count - done, block_.size() - at);
      std::memcpy(buffer + done, block_.data() + at, piece);
      done += piece;
    }
    position_ += count;
    return count;
  }
  bool Seek(uint64_t position) override {
    position_ = std::min(position, size_);
    return true;
  }
  uint64_t Size() override { return size_; }

 private:
  uint64_t size_;
  uint64_t position_ = 0;
  std::vector<char> block_;
};

// Runs a command (no shell) and waits for it; false when it fails.
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

void ReadThrough(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return;
  std::vector<char> buffer(1 << 20);
  while (std::fread(buffer.data(), 1, buffer.size(), file) > 0) {
  }
  std::fclose(file);
}

// On a virtual machine whose memory balloon hands freed pages back to the host, a page the
// file cache takes a few seconds after it was freed costs a fault on the host, and writing
// a large file takes several times as long. Touching and freeing as much memory as the next
// contender will write, just before it starts, makes every contender start alike.
void WarmMemory(const std::filesystem::path& scratch, uint64_t bytes) {
  Run({"dd", "if=/dev/zero", "of=" + scratch.string(), "bs=1M", "count=" + std::to_string((bytes >> 20) + 64),
       "status=none"});
  std::filesystem::remove(scratch);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Adds up the time of the calls only the journal makes (its flushed appends, the renames
// aside, the checks before them, the removal of the backups): the journal's own share of an
// update, which the round-to-round spread of a whole 1 GiB update would hide.
class JournalCallTimer : public varno::ForwardingFiles {
 public:
  using ForwardingFiles::ForwardingFiles;
  double seconds = 0;

  std::unique_ptr<varno::AppendingFile> OpenForAppending(const std::string& path) override {
    const Timed timed(*this);
    auto file = inner_.OpenForAppending(path);
    return file ? std::make_unique<TimedAppends>(std::move(file), *this) : nullptr;
  }
  bool MoveFileTo(const std::string& from, const std::string& to) override {
    const Timed timed(*this);
    return inner_.MoveFileTo(from, to);
  }
  bool RemoveFile(const std::string& path) override {
    const Timed timed(*this);
    return inner_.RemoveFile(path);
  }
  bool CanReplace(const std::string& path) override {
    const Timed timed(*this);
    return inner_.CanReplace(path);
  }

 private:
  struct Timed {
    explicit Timed(JournalCallTimer& timer) : timer(timer) {}
    ~Timed() { timer.seconds += Seconds(start); }
    JournalCallTimer& timer;
    Clock::time_point start = Clock::now();
  };
  class TimedAppends : public varno::AppendingFile {
   public:
    TimedAppends(std::unique_ptr<varno::AppendingFile> inner, JournalCallTimer& timer)
        : inner_(std::move(inner)), timer_(timer) {}
    bool Append(std::string_view bytes) override {
      const Timed timed(timer_);
      return inner_->Append(bytes);
    }
    bool AppendFlushingLater(std::string_view bytes) override {
      const Timed timed(timer_);
      return inner_->AppendFlushingLater(bytes);
    }
    bool WaitFlushed() override {
      const Timed timed(timer_);
      return inner_->WaitFlushed();
    }

   private:
    std::unique_ptr<varno::AppendingFile> inner_;
    JournalCallTimer& timer_;
  };
};

// An update that replaces one existing file per member, unpacked as is and through the
// rollback journal (with its commit), and the rollback of the journaled update.
int JournalBenchmark(varno::Platform& platform, const std::string& archive, const std::string& archiveHost,
                     const std::filesystem::path& install, int members, int rounds) {
  namespace fs = std::filesystem;
  const uint64_t archiveBytes = fs::file_size(archiveHost);
  const auto installed = [&] {
    fs::remove_all(install);
    fs::create_directories(install);
    for (int i = 0; i < members; ++i) {
      std::FILE* file = std::fopen((install / ("member" + std::to_string(i) + ".bin")).c_str(), "wb");
      if (!file) return false;
      std::fputs("previous release", file);
      std::fclose(file);
    }
    sync();
    ReadThrough(archiveHost);  // each contender starts from the page cache
    WarmMemory(install.parent_path() / "warm.bin", archiveBytes);
    return true;
  };
  const auto update = [&](varno::Platform& on) {
    varno::WriteLogList record;
    const varno::ArchiveOutcome outcome = varno::ExtractArchive(on, archive, "C:\\Install\\", record, 0);
    return !outcome.refused && !outcome.FirstNotWritten();
  };
  std::vector<double> plain, journaled, rollback, freeing, journalCalls;
  std::printf("\nupdate replacing %d existing files:\n", members);
  for (int round = 0; round < rounds; ++round) {
    if (!installed()) return 1;
    auto start = Clock::now();
    if (!update(platform)) return 1;
    plain.push_back(Seconds(start));
    // What the file system takes to free the bytes the update wrote: part of any rollback.
    start = Clock::now();
    for (int i = 0; i < members; ++i) fs::remove(install / ("member" + std::to_string(i) + ".bin"));
    freeing.push_back(Seconds(start));

    if (!installed()) return 1;
    JournalCallTimer timer(platform.files);
    varno::Platform timed{timer,          platform.registry,  platform.shell,     platform.dialogs,
                          platform.window, platform.processes, platform.libraries, platform.system, platform.holders};
    start = Clock::now();
    auto transaction = varno::UpdateTransaction::Begin(timed, "C:\\Install");
    if (!transaction || !update(transaction->platform()) || !transaction->Commit()) return 1;
    journaled.push_back(Seconds(start));
    journalCalls.push_back(timer.seconds / journaled.back());

    if (!installed()) return 1;
    transaction = varno::UpdateTransaction::Begin(platform, "C:\\Install");
    if (!transaction || !update(transaction->platform())) return 1;
    start = Clock::now();
    if (!transaction->Rollback().empty()) return 1;
    rollback.push_back(Seconds(start));
    std::printf("round %d:  without journal %.3f s  with journal %.3f s (its own calls %.1f %%)  rollback %.3f s"
                "  (deleting the files the update wrote: %.3f s)\n",
                round + 1, plain.back(), journaled.back(), 100 * journalCalls.back(), rollback.back(),
                freeing.back());
  }
  for (const bool best : {true, false}) {
    const auto pick = [best](const std::vector<double>& times) {
      return best ? *std::min_element(times.begin(), times.end()) : Median(times);
    };
    std::printf("%-7s  journal x%.3f of the update without it (its own calls: %.1f %% of the journaled update);"
                " rollback x%.3f of the journaled update (deleting what the update wrote, alone: x%.3f)\n",
                best ? "best:" : "median:", pick(journaled) / pick(plain), 100 * pick(journalCalls),
                pick(rollback) / pick(journaled), pick(freeing) / pick(journaled));
  }
  return 0;
}

int ExtractionBenchmark(const std::string& dataDir, uint64_t totalMib, int members, int rounds) {
  namespace fs = std::filesystem;
  const fs::path root = fs::absolute(dataDir);
  fs::create_directories(root / "C" / "Package");
  // Flushed as the Win32 backend always is, and not flushed, to tell the copy from the flush.
  varno::posix::PosixFileSystem files(root.string());
  varno::posix::PosixFileSystem unflushedFiles(root.string(), false);
  varno::DetachedPlatform flushedPlatform(files);
  varno::DetachedPlatform unflushedPlatform(unflushedFiles);
  varno::Platform& platform = flushedPlatform.platform();
  varno::Platform& unflushed = unflushedPlatform.platform();

  const uint64_t total = totalMib << 20;
  std::vector<varno::ArchiveSource> sources;
  for (int i = 0; i < members; ++i) {
    const uint64_t size = total / members + (i < static_cast<int>(total % members) ? 1 : 0);
    sources.push_back({"member" + std::to_string(i) + ".bin", size,
                       [size, i] { return std::make_unique<GeneratedInput>(size, 7u + i); }});
  }
  const std::string archive = "C:\\Package\\sor_ti1.slp";
  auto start = Clock::now();
  if (auto problem = varno::WriteArchive(files, archive, sources)) {
    std::fprintf(stderr, "cannot build the archive: %s\n", problem->c_str());
    return 1;
  }
  std::printf("archive: %d members, %llu MiB, built in %.2f s; peak RSS so far %ld KiB\n", members,
              static_cast<unsigned long long>(totalMib), Seconds(start), PeakRssKib());

  const std::string archiveHost = files.HostPath(archive);
  const fs::path copy = root / "C" / "copy.bin";
  const fs::path install = root / "C" / "Install";
  bool extractedWell = true;
  const auto extract = [&](varno::Platform& on) {
    varno::WriteLogList record;
    record.Append(varno::record::kSurFile);
    const varno::ArchiveOutcome outcome = varno::ExtractArchive(on, archive, "C:\\Install\\", record, 1);
    extractedWell = extractedWell && record.Count() == static_cast<size_t>(members) + 1 && !outcome.refused &&
                    !outcome.FirstNotWritten();
  };
  struct Contender {
    const char* name;
    std::function<bool()> run;
    std::vector<double> times;
  };
  Contender contenders[] = {
      {"ExtractArchive", [&] { extract(platform); return true; }, {}},
      {"cp + sync", [&] { return Run({"cp", archiveHost, copy.string()}) && Run({"sync", copy.string()}); }, {}},
      {"ExtractArchive unflushed", [&] { extract(unflushed); return true; }, {}},
      {"cp", [&] { return Run({"cp", archiveHost, copy.string()}); }, {}},
  };
  ReadThrough(archiveHost);  // every contender starts from the page cache
  for (int round = 0; round < rounds; ++round) {
    std::printf("round %d:", round + 1);
    for (Contender& contender : contenders) {
      fs::remove_all(install);
      fs::create_directories(install);
      fs::remove(copy);
      sync();  // no writeback of an earlier step runs into this one
      WarmMemory(root / "C" / "warm.bin", total);
      start = Clock::now();
      if (!contender.run() || !extractedWell) {
        std::fprintf(stderr, "\n%s went wrong\n", contender.name);
        return 1;
      }
      contender.times.push_back(Seconds(start));
      std::printf("  %s %.3f s", contender.name, contender.times.back());
    }
    std::printf("\n");
  }
  for (const bool best : {true, false}) {
    const auto pick = [best](const Contender& contender) {
      return best ? *std::min_element(contender.times.begin(), contender.times.end()) : Median(contender.times);
    };
    std::printf("%-7s", best ? "best:" : "median:");
    for (const Contender& contender : contenders) std::printf("  %s %.3f s", contender.name, pick(contender));
    std::printf("\n         flushed / cp + sync x%.2f, unflushed / cp x%.2f\n", pick(contenders[0]) / pick(contenders[1]),
                pick(contenders[2]) / pick(contenders[3]));
  }
  std::printf("peak RSS of the whole process: %ld KiB\n", PeakRssKib());
  const int status = JournalBenchmark(platform, archive, archiveHost, install, members, rounds);
  fs::remove_all(root);
  return status;
}

// Adds 10,000 new entries below a header of a record that already has base lines, at the
// top ("[SurFile]") and in the middle, and gives the cost per entry (the best of a few
// tries, as one try lasts milliseconds).
double RecordCost(int base, bool middle) {
  constexpr int kEntries = 10000;
  double best = 1e30;
  for (int attempt = 0; attempt < 5; ++attempt) {
    varno::WriteLogList record;
    for (int i = 0; i < base; ++i) {
      if (middle && i == base / 2) record.Append(varno::record::kSurDir);
      record.Append("Old\\file" + std::to_string(i) + ".dll");
    }
    const auto start = Clock::now();
    const size_t header = middle ? record.EnsureSection(varno::record::kSurDir, varno::Placement::End)
                                 : record.EnsureSection(varno::record::kSurFile, varno::Placement::Top);
    for (int i = 0; i < kEntries; ++i) record.RecordEntry(header, "New\\entry" + std::to_string(i) + ".dat");
    best = std::min(best, Seconds(start) * 1e9 / kEntries);
  }
  return best;
}

void RecordBenchmark() {
  double emptyCost = 0;
  std::printf("\nrecord: 10000 new entries added below a header\n");
  std::printf("%10s %18s %18s %10s\n", "lines", "top ns/entry", "middle ns/entry", "x empty");
  for (const int base : {0, 1000, 10000, 30000, 100000}) {
    const double costs[2] = {RecordCost(base, false), RecordCost(base, true)};
    if (base == 0) emptyCost = costs[0];
    std::printf("%10d %18.0f %18.0f %10.2f\n", base, costs[0], costs[1], std::max(costs[0], costs[1]) / emptyCost);
  }
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t mib = 1024;
  int members = 100;
  int rounds = 5;
  std::string dir = "varno-bench-data";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--mib" && i + 1 < argc) {
      mib = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--members" && i + 1 < argc) {
      members = std::atoi(argv[++i]);
    } else if (arg == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--mib N (1024)] [--members N (100)] [--rounds N (5)] [--dir PATH]\n", argv[0]);
      return 2;
    }
  }
  if (mib == 0 || members < 1 || members > 128) {
    std::fprintf(stderr, "need at least 1 MiB and 1 to 128 members\n");
    return 2;
  }
  if (const int status = ExtractionBenchmark(dir, mib, members, rounds)) return status;
  RecordBenchmark();
  return 0;
}
