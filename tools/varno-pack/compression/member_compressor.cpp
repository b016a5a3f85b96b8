#include "compression/member_compressor.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <numeric>

#ifndef _WIN32
#include <thread>
#endif

#include "package/archive_layout.h"
#include "package/member_compression.h"

namespace varno::pack {
namespace {

// Reads that count into a shared total and end once the user interrupts, from any thread.
class CountedInput : public InputFile {
 public:
  CountedInput(std::unique_ptr<InputFile> inner, std::atomic<uint64_t>& done) : inner_(std::move(inner)), done_(done) {}
  size_t Read(char* buffer, size_t size) override {
    if (Interrupted()) return 0;
    const size_t read = inner_->Read(buffer, size);
    done_ += read;
    return read;
  }
  bool Seek(uint64_t position) override { return inner_->Seek(position); }
  uint64_t Size() override { return inner_->Size(); }

 private:
  std::unique_ptr<InputFile> inner_;
  std::atomic<uint64_t>& done_;
};

// Measures the member's stream now; when it pays, the member is compressed again, to the
// same bytes, while the archive is written. For a build without threads or temporary files.
void CompressWhileWriting(ArchiveSource& source, std::unique_ptr<InputFile> input, const std::function<void()>& tick) {
  DeflatingInput stream(std::move(input), source.size, kDefaultDeflateLevel);
  std::vector<char> buffer(1 << 20);
  uint64_t size = 0;
  while (const size_t read = stream.Read(buffer.data(), buffer.size())) {
    size += read;
    tick();
  }
  if (!stream.Failed() && WorthCompressing(source.size, size)) source = DeflatedSource(source, size);
}

#ifndef _WIN32
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using SharedFile = std::shared_ptr<std::FILE>;

// A compressed stream kept in a temporary file (deleted when the last source holding it goes).
class TemporaryInput : public InputFile {
 public:
  explicit TemporaryInput(SharedFile file) : file_(std::move(file)) {}
  size_t Read(char* buffer, size_t size) override { return std::fread(buffer, 1, size, file_.get()); }
  bool Seek(uint64_t position) override {
    return fseeko(file_.get(), static_cast<off_t>(position), SEEK_SET) == 0;
  }
  uint64_t Size() override {
    const off_t here = ftello(file_.get());
    fseeko(file_.get(), 0, SEEK_END);
    const off_t size = ftello(file_.get());
    fseeko(file_.get(), here, SEEK_SET);
    return static_cast<uint64_t>(size);
  }

 private:
  SharedFile file_;
};

// The whole stream into a temporary file: the member is read once, and the archive's
// writer only copies.
void CompressToTemporary(ArchiveSource& source, std::unique_ptr<InputFile> input, const std::function<void()>& tick) {
  SharedFile file(std::tmpfile(), FileCloser{});
  if (!file) return CompressWhileWriting(source, std::move(input), tick);
  DeflatingInput stream(std::move(input), source.size, kDefaultDeflateLevel);
  std::vector<char> buffer(1 << 20);
  uint64_t size = 0;
  while (const size_t read = stream.Read(buffer.data(), buffer.size())) {
    if (std::fwrite(buffer.data(), 1, read, file.get()) != read) return;
    size += read;
    tick();
  }
  if (stream.Failed() || std::fflush(file.get()) != 0 || !WorthCompressing(source.size, size)) return;
  source.method = archive::kDeflate;
  source.storedSize = size;
  source.open = [file]() -> std::unique_ptr<InputFile> {
    auto input = std::make_unique<TemporaryInput>(file);
    if (!input->Seek(0)) return nullptr;
    return input;
  };
}
#endif

}  // namespace

bool CompressSources(FileSystem& files, std::vector<ArchiveSource>& sources, const std::vector<std::string>& paths,
                     Progress& progress) {
  std::atomic<uint64_t> done{0};
  uint64_t shown = 0;
  const auto show = [&] {
    const uint64_t now = done.load();
    progress.Advance(now - shown);
    shown = now;
  };

#ifdef _WIN32
  // msvcrt's tmpfile writes to the root of the drive, which a user may not: each stream is
  // made twice instead.
  for (size_t i = 0; i < sources.size() && !Interrupted(); ++i) {
    if (auto input = files.OpenForReading(paths[i])) {
      CompressWhileWriting(sources[i], std::make_unique<CountedInput>(std::move(input), done), show);
    }
  }
#else
  // The largest members first, so that the two threads end together.
  std::vector<size_t> order(sources.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return sources[a].size > sources[b].size; });
  std::atomic<size_t> next{0};
  const auto work = [&](const std::function<void()>& tick) {
    for (size_t k = next++; k < order.size() && !Interrupted(); k = next++) {
      auto input = files.OpenForReading(paths[order[k]]);
      if (input) CompressToTemporary(sources[order[k]], std::make_unique<CountedInput>(std::move(input), done), tick);
    }
  };
  std::thread helper(work, [] {});
  // This thread compresses too, and alone draws the progress of both.
  work(show);
  helper.join();
#endif
  show();
  return !Interrupted();
}

}  // namespace varno::pack
