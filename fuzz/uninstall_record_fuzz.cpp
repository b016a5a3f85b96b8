// The uninstall record: a file of arbitrary bytes loaded, worked on as the steps work on it
// (headers ensured, entries recorded, lines inserted), saved and loaded again. The record
// keeps its lines in a gap buffer with an index of folded lines; a plain vector worked on
// with the plain comparison is the model it must match at every step, and a save then a
// load must give the same lines.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/ansi_text.h"
#include "base/text_lines.h"
#include "fuzz_check.h"
#include "steps/uninstall_record.h"
#include "support/memory_files.h"

namespace {

using Lines = std::vector<std::string>;

constexpr char kRecordPath[] = "C:\\Varnolith\\UninstCgg.slt";
const char* const kHeaders[] = {varno::record::kSurFile,     varno::record::kSurDir,
                                varno::record::kSurFileDir,  varno::record::kSurDeskLink,
                                varno::record::kSurProgramsLink, varno::record::kSurValReg};

std::optional<size_t> ModelFind(const Lines& model, std::string_view text) {
  for (size_t i = 0; i < model.size(); ++i) {
    if (varno::AnsiSameText(model[i], text)) return i;
  }
  return std::nullopt;
}

size_t Hash(const std::string& text) {
  size_t hash = text.size();
  for (const char c : text) hash = hash * 31 + static_cast<unsigned char>(c);
  return hash;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  varno::fake::MemoryFileSystem files;
  files.AddFile(kRecordPath, bytes);
  varno::WriteLogList record;
  record.LoadFromFile(files, kRecordPath);
  Lines model = varno::SplitTextLines(bytes);
  FUZZ_CHECK(record.Lines() == model);

  // The loaded lines, the first 64 of them, are the script.
  size_t header = 0;
  bool haveHeader = false;
  const Lines script(model.begin(), model.begin() + std::min<size_t>(model.size(), 64));
  for (const std::string& line : script) {
    const size_t hash = Hash(line);
    switch (hash % 4) {
      case 0: {
        const char* name = kHeaders[(hash / 4) % std::size(kHeaders)];
        const bool top = name == std::string_view(varno::record::kSurFile);
        header = record.EnsureSection(name, top ? varno::Placement::Top : varno::Placement::End);
        auto expected = ModelFind(model, name);
        if (!expected) {
          expected = top ? 0 : model.size();
          model.insert(model.begin() + static_cast<ptrdiff_t>(*expected), name);
        }
        FUZZ_CHECK(header == *expected);
        haveHeader = true;
        break;
      }
      case 1:
        if (!haveHeader) break;
        record.RecordEntry(header, line + "x");
        if (!ModelFind(model, line + "x")) model.insert(model.begin() + static_cast<ptrdiff_t>(header) + 1, line + "x");
        break;
      case 2: {
        const size_t position = (hash / 4) % (model.size() + 1);
        record.Insert(position, line);
        model.insert(model.begin() + static_cast<ptrdiff_t>(position), line);
        break;
      }
      case 3: {
        const size_t position = (hash / 4) % (model.size() + 1);
        const std::string target = "C:\\Varnolith\\" + line;
        record.RecordArchiveMember(position, target, line);
        if (!ModelFind(model, target)) model.insert(model.begin() + static_cast<ptrdiff_t>(position), line);
        break;
      }
    }
    FUZZ_CHECK(record.Count() == model.size());
    const auto expected = ModelFind(model, line);
    FUZZ_CHECK(record.Find(line) == expected);
    FUZZ_CHECK(record.Contains(line) == expected.has_value());
  }
  FUZZ_CHECK(record.Lines() == model);

  record.SaveToFile(files, kRecordPath);
  varno::WriteLogList reloaded;
  reloaded.LoadFromFile(files, kRecordPath);
  FUZZ_CHECK(reloaded.Lines() == model);
  return 0;
}
