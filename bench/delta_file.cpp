// One delta made or applied from the command line, for the benchmark of real programs
// (real_delta_bench.sh), which times it beside bsdiff, xdelta3 and zstd:
//   varno_delta_file encode OLD NEW DELTA [--filter none|x86]
//   varno_delta_file apply OLD DELTA RESULT
// The encoder as varno-pack runs it, the decoder as the updater runs it (through its file
// interfaces, here over stdio).
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "compression/delta_encoder.h"
#include "package/delta_format.h"

namespace {

class StdioInput : public varno::InputFile {
 public:
  explicit StdioInput(const char* path) : file_(std::fopen(path, "rb")) {}
  ~StdioInput() override {
    if (file_) std::fclose(file_);
  }
  bool Open() const { return file_ != nullptr; }
  size_t Read(char* buffer, size_t size) override {
    ++reads;
    return std::fread(buffer, 1, size, file_);
  }
  bool Seek(uint64_t position) override {
    ++seeks;
    return fseeko(file_, off_t(position), SEEK_SET) == 0;
  }
  // What the decoder asked of the file: each is a call into the system for the updater.
  uint64_t reads = 0, seeks = 0;
  uint64_t Size() override {
    const off_t at = ftello(file_);
    fseeko(file_, 0, SEEK_END);
    const off_t size = ftello(file_);
    fseeko(file_, at, SEEK_SET);
    return uint64_t(size);
  }

 private:
  std::FILE* file_;
};

class StdioOutput : public varno::OutputFile {
 public:
  explicit StdioOutput(const char* path) : file_(std::fopen(path, "wb")) {}
  ~StdioOutput() override {
    if (file_) std::fclose(file_);
  }
  bool Open() const { return file_ != nullptr; }
  bool Write(const char* data, size_t size) override { return std::fwrite(data, 1, size, file_) == size; }
  bool Commit() override { return std::fflush(file_) == 0; }

 private:
  std::FILE* file_;
};

// Sized first: a string grown as it is read would hold up to twice the file.
std::string ReadAll(const char* path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  std::string bytes(size_t(file.tellg()), '\0');
  file.seekg(0);
  file.read(bytes.data(), std::streamsize(bytes.size()));
  return bytes;
}

int Usage() {
  std::cerr << "usage: varno_delta_file encode OLD NEW DELTA [--filter none|x86]\n"
               "       varno_delta_file apply OLD DELTA RESULT\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) return Usage();
  const auto started = std::chrono::steady_clock::now();
  const auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(); };
  if (std::strcmp(argv[1], "encode") == 0) {
    std::optional<uint32_t> filter;
    if (argc == 7 && std::strcmp(argv[5], "--filter") == 0) {
      filter = std::strcmp(argv[6], "x86") == 0 ? varno::delta::kFilterX86 : varno::delta::kFilterNone;
    }
    const std::string delta = varno::pack::EncodeDelta(ReadAll(argv[2]), ReadAll(argv[3]), filter, {});
    std::ofstream(argv[4], std::ios::binary) << delta;
    std::cout << "encoded " << delta.size() << " bytes in " << seconds() << " s\n";
    return 0;
  }
  if (std::strcmp(argv[1], "apply") == 0) {
    StdioInput source(argv[2]), delta(argv[3]);
    StdioOutput result(argv[4]);
    if (!source.Open() || !delta.Open() || !result.Open()) return Usage();
    const auto refusal = varno::ApplyDelta(delta, delta.Size(), source, result);
    if (refusal) {
      std::cerr << "refused: " << *refusal << "\n";
      return 1;
    }
    result.Commit();
    std::cout << "applied in " << seconds() << " s; the source read in " << source.reads << " reads after "
              << source.seeks << " seeks\n";
    return 0;
  }
  return Usage();
}
