#include "steps/delta_step.h"

#include <map>
#include <vector>

#include "base/ansi_text.h"
#include "base/texts.h"
#include "base/update_error.h"
#include "base/windows_path.h"
#include "steps/delete_step.h"
#include "package/delta_format.h"
#include "package/member_stream.h"
#include "package/section_lookup.h"
#include "platform/portable_sha256.h"

namespace varno {
namespace {

bool IsHexDigest(std::string_view text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
}

std::string Lowercase(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// The members of an archive of the package directory by their upper-case name; empty when
// the archive is missing or refused.
struct IndexedArchive {
  std::string path;
  std::map<std::string, ArchiveMember> members;
};

IndexedArchive IndexArchive(FileSystem& files, const std::string& path) {
  IndexedArchive indexed{path, {}};
  if (!files.FileExists(path)) return indexed;
  const ArchiveCheck check = CheckArchiveFile(files, path);
  if (!check.Valid()) return indexed;
  for (const ArchiveMember& member : check.layout.members) indexed.members.emplace(AnsiUpperCase(member.name), member);
  return indexed;
}

const ArchiveMember* Find(const IndexedArchive& archive, const std::string& name) {
  const auto found = archive.members.find(AnsiUpperCase(name));
  return found == archive.members.end() ? nullptr : &found->second;
}

// Forwards the bytes to the replacement and takes their digest on the worker's thread,
// while they are written and the next ones made: each pass of the digest costs about as
// much as writing the bytes. The writer leaves each piece as it is until the Write after it
// has returned (the decoder and CopyMember make pieces in two buffers in turn), so the
// worker reads the piece where it stands.
class DigestingOutput : public OutputFile {
 public:
  DigestingOutput(OutputFile& inner, Worker& worker) : inner_(inner), worker_(worker), digest_(StartPortableSha256()) {}
  ~DigestingOutput() override { worker_.Wait(); }
  bool Write(const char* data, size_t size) override {
    written_ += size;
    worker_.Wait();
    worker_.Start([this, data, size] { digest_->Add(data, size); });
    return inner_.Write(data, size);
  }
  bool Commit() override { return false; }  // the caller commits the inner file once checked
  std::string Hex() {
    worker_.Wait();
    return HexDigest(*digest_->Finish());
  }
  uint64_t Written() const { return written_; }

 private:
  OutputFile& inner_;
  Worker& worker_;
  std::unique_ptr<Sha256> digest_;
  uint64_t written_ = 0;
};

// What making the files keeps from one file to the next: the decoder's buffers, and the
// two a whole file is copied through in turn (see DigestingOutput). They outlive every
// digest taken of them.
struct FileMaking {
  explicit FileMaking(Worker& worker) : worker(worker) {}
  Worker& worker;
  DeltaApplier applier;
  std::vector<char> copyBuffers[2];  // sized by the first whole file
};

// Copies a whole file from its archive, inflated when it is stored compressed.
std::optional<std::string> CopyMember(InputFile& archive, const ArchiveMember& member, OutputFile& output,
                                      std::vector<char> (&buffers)[2]) {
  MemberStream stream(archive, member);
  for (std::vector<char>& buffer : buffers) buffer.resize(kMemberInputBlockSize);
  for (int turn = 0;; turn ^= 1) {
    const size_t read = stream.Read(buffers[turn].data(), buffers[turn].size());
    if (read == 0) break;
    if (!output.Write(buffers[turn].data(), read)) return "the file cannot be written";
  }
  if (!stream.Complete()) return stream.Problem().value_or("the package archive cannot be read");
  return std::nullopt;
}

// Makes one file into its replacement; what went wrong, or nothing when it is in place.
std::optional<std::string> MakeFile(FileSystem& files, FileMaking& making, const PlannedDelta& planned,
                                    const std::string& archivePath) {
  // The journal refuses writes through a link; a renamed file's source, only read, is read
  // from inside the installation only as well.
  if (planned.use == PlannedDelta::Use::Delta) {
    const std::string installDir = planned.target.substr(0, planned.target.size() - planned.line.path.size() - 1);
    if (PassesThroughLink(files, installDir, planned.source)) return "a directory on the installed file's path is a link";
  }
  auto archive = files.OpenForReading(archivePath);
  if (!archive) return "the package archive cannot be opened";
  std::unique_ptr<InputFile> source;
  if (planned.use == PlannedDelta::Use::Delta) {
    source = files.OpenForReading(planned.source);
    if (!source) return "the installed file cannot be read";
  }
  auto output = files.CreateReplacement(planned.target);
  if (!output) return "the file cannot be replaced";
  DigestingOutput digesting(*output, making.worker);
  std::optional<std::string> problem;
  if (planned.use == PlannedDelta::Use::Delta) {
    if (!archive->Seek(planned.member.offset)) return "the package archive cannot be read";
    // The result's SHA-256, checked below, is what decides.
    problem = making.applier.Apply(*archive, planned.member.storedSize, *source, digesting, ResultCheck::ByCaller);
  } else {
    problem = CopyMember(*archive, planned.member, digesting, making.copyBuffers);
  }
  source.reset();
  if (problem) return problem;
  if (digesting.Written() != planned.resultSize || digesting.Hex() != planned.line.resultSha256) {
    return "what it makes is not the file the package describes";
  }
  if (!output->Commit()) return "the file cannot be replaced";
  return std::nullopt;
}

}  // namespace

std::optional<DeltaLine> ParseDeltaLine(std::string_view line) {
  const size_t first = line.find('|');
  const size_t second = first == std::string_view::npos ? first : line.find('|', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  const size_t third = line.find('|', second + 1);
  DeltaLine parsed{std::string(line.substr(0, first)), std::string(line.substr(first + 1, second - first - 1)),
                   std::string(line.substr(second + 1, third == std::string_view::npos ? third : third - second - 1)),
                   third == std::string_view::npos ? std::string() : std::string(line.substr(third + 1))};
  if (CheckMemberName(parsed.path) || CheckWindowsPath(parsed.path) || NamesUpdaterFile(parsed.path) ||
      !IsHexDigest(parsed.sourceSha256) || !IsHexDigest(parsed.resultSha256)) {
    return std::nullopt;
  }
  if (third != std::string_view::npos && (CheckMemberName(parsed.sourcePath) || CheckWindowsPath(parsed.sourcePath))) {
    return std::nullopt;
  }
  parsed.sourceSha256 = Lowercase(parsed.sourceSha256);
  parsed.resultSha256 = Lowercase(parsed.resultSha256);
  return parsed;
}

namespace {

// The delta when the installed file is the one it applies to (its digest is taken only
// where the delta is there), otherwise the whole file when the package carries it; false
// when neither can be written.
bool DecideUse(PlannedDelta& planned, const std::optional<std::string>& sourceDigest) {
  if (sourceDigest && *sourceDigest == planned.line.sourceSha256) return true;
  if (!planned.wholeFile) return false;
  planned.use = PlannedDelta::Use::WholeFile;
  planned.member = *planned.wholeFile;
  planned.resultSize = planned.wholeFile->size;
  return true;
}

}  // namespace

// A "[delta]" line as read, before the installed file's digest decides its use.
struct DeltaPlanning::Candidate {
  std::string text;  // the line; refused as it stands when `planned` is empty
  std::optional<PlannedDelta> planned;  // with the delta's member, when it is there
  std::optional<DeltaHeader> header;
  std::optional<std::string> sourceDigest;  // of the installed file, when a delta is there
  bool unread = false;  // the installed file is there but could not be opened
};

// An installed file to digest, open (held against writers where it can be) until the plan
// is made.
struct DeltaPlanning::Digested {
  size_t candidate;
  std::unique_ptr<InputFile> file;
};

DeltaPlanning::DeltaPlanning(FileSystem& files, System& system, const RunState& state) {
  const auto lines = LoadPackageDescription(files, state.packageDescriptionPath);
  const auto section = lines ? FindSection(*lines, kDeltaSection) : std::nullopt;
  if (!section) return;
  hasSection_ = true;
  const IndexedArchive deltas = IndexArchive(files, JoinPath(state.packageDir, text::kDeltaArchiveFileName));
  const IndexedArchive wholeFiles = IndexArchive(files, JoinPath(state.packageDir, text::kFullFilesArchiveFileName));
  auto deltaFile = files.OpenForReading(deltas.path);
  std::vector<DeltaLine> parsed;
  for (const std::string& text : section->entries) {
    if (!text.empty()) parsed.push_back(ParseDeltaLine(text).value_or(DeltaLine{}));
  }
  // The delta of a line that has no member of its own: another line's with the same digests.
  const auto deltaOf = [&](const DeltaLine& line) -> const ArchiveMember* {
    if (const ArchiveMember* member = Find(deltas, line.path)) return member;
    for (const DeltaLine& other : parsed) {
      if (other.sourceSha256 == line.sourceSha256 && other.resultSha256 == line.resultSha256 && !other.path.empty()) {
        if (const ArchiveMember* member = Find(deltas, other.path)) return member;
      }
    }
    return nullptr;
  };
  size_t next = 0;
  for (const std::string& text : section->entries) {
    if (text.empty()) continue;
    Candidate candidate{text, std::nullopt, std::nullopt, std::nullopt, false};
    if (const DeltaLine& line = parsed[next++]; !line.path.empty()) {
      PlannedDelta& planned = candidate.planned.emplace();
      planned.line = line;
      planned.target = JoinPath(state.installDir, line.path);
      planned.source = JoinPath(state.installDir, line.Source());
      if (const ArchiveMember* member = deltaOf(line)) {
        planned.member = *member;
        if (deltaFile && deltaFile->Seek(member->offset)) {
          candidate.header = ReadDeltaHeader(*deltaFile, member->storedSize);
        }
      }
      if (const ArchiveMember* member = Find(wholeFiles, line.path)) planned.wholeFile = *member;
    }
    candidates_.push_back(std::move(candidate));
  }
  // All are opened here first; each thread then takes the next file not yet taken.
  for (size_t i = 0; i < candidates_.size(); ++i) {
    const Candidate& candidate = candidates_[i];
    if (!candidate.header || !files.FileExists(candidate.planned->source)) continue;
    // A file someone has open for writing cannot be held: it is digested all the same, and
    // the digest of what is made from it still decides before it replaces anything.
    auto file = files.OpenHeldAgainstWriters(candidate.planned->source);
    if (!file) file = files.OpenForReading(candidate.planned->source);
    candidates_[i].unread = file == nullptr;
    if (file) digested_.push_back({i, std::move(file)});
  }
  for (auto& worker : workers_) {
    worker = system.MakeWorker();
    worker->Start([this] { TakeDigests(); });
  }
}

DeltaPlanning::~DeltaPlanning() {
  stop_ = true;
  for (auto& worker : workers_) {
    if (worker) worker->Wait();
  }
}

void DeltaPlanning::TakeDigests() {
  for (size_t i = next_++; i < digested_.size() && !stop_; i = next_++) {
    candidates_[digested_[i].candidate].sourceDigest = InputSha256Hex(*digested_[i].file);
  }
}

std::optional<DeltaPlan> DeltaPlanning::Finish() {
  if (!hasSection_) return std::nullopt;
  TakeDigests();
  for (auto& worker : workers_) worker->Wait();
  digested_.clear();  // the files go

  DeltaPlan plan;
  for (Candidate& candidate : candidates_) {
    if (!candidate.planned) {
      plan.refused.push_back(candidate.text);
      continue;
    }
    PlannedDelta& planned = *candidate.planned;
    if (candidate.header) planned.resultSize = candidate.header->resultSize;
    // A file that is there but could not be opened is held by another program: the files
    // in use are waited for before its digest decides, rather than calling it different.
    planned.sourceUnread = candidate.unread;
    if (planned.sourceUnread || DecideUse(planned, candidate.sourceDigest)) {
      plan.files.push_back(std::move(planned));
    } else {
      plan.refused.push_back(planned.line.Source());
    }
  }
  return plan;
}

bool TakeUnreadDigests(FileSystem& files, DeltaPlan& plan) {
  bool any = false;
  for (auto planned = plan.files.begin(); planned != plan.files.end();) {
    if (!planned->sourceUnread) {
      ++planned;
      continue;
    }
    any = true;
    planned->sourceUnread = false;
    if (DecideUse(*planned, FileSha256Hex(files, planned->source))) {
      ++planned;
    } else {
      plan.refused.push_back(planned->line.Source());
      planned = plan.files.erase(planned);
    }
  }
  return any;
}

std::optional<DeltaPlan> PlanDeltas(FileSystem& files, System& system, const RunState& state) {
  return DeltaPlanning(files, system, state).Finish();
}

void AddDeltaWrites(FileSystem& files, const DeltaPlan& plan, PlannedWrites& writes) {
  for (const PlannedDelta& planned : plan.files) {
    writes.bytes += planned.resultSize;
    if (files.FileExists(planned.target)) writes.replaced.push_back(planned.target);
  }
}

void ApplyDeltas(Platform& platform, const DeltaPlan& plan, const std::string& packageDir,
                 const std::function<void(const std::string&)>& logLine) {
  const auto worker = platform.system.MakeWorker();
  FileMaking making(*worker);
  for (const PlannedDelta& planned : plan.files) {
    const bool delta = planned.use == PlannedDelta::Use::Delta;
    const std::string archive =
        JoinPath(packageDir, delta ? text::kDeltaArchiveFileName : text::kFullFilesArchiveFileName);
    if (const auto problem = MakeFile(platform.files, making, planned, archive)) {
      logLine(text::kLogDeltaFailed + planned.line.path + " (" + *problem + ")");
      throw UpdateError(FormatText(text::kCannotCreateFile, {planned.target}));
    }
    logLine((delta ? text::kLogDeltaApplied : text::kLogWholeFileWritten) + planned.line.path);
  }
}

}  // namespace varno
