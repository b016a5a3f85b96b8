#include "steps/uninstall_record.h"

#include <algorithm>
#include <stdexcept>

#include "base/ansi_text.h"
#include "base/text_lines.h"
#include "base/texts.h"
#include "base/update_error.h"

namespace varno {

std::string UninstallRecordPath(std::string_view installDir) {
  return JoinPath(installDir, text::kUninstallRecordFileName);
}

const std::string& WriteLogList::Line(size_t position) const {
  if (position >= Count()) throw std::out_of_range("uninstall record position");
  return lines_[Slot(position)];
}

std::vector<std::string> WriteLogList::Lines() const {
  std::vector<std::string> out;
  out.reserve(Count());
  for (size_t i = 0; i < Count(); ++i) out.push_back(Line(i));
  return out;
}

std::optional<size_t> WriteLogList::Find(std::string_view text) const {
  if (!Contains(text)) return std::nullopt;
  for (size_t i = 0; i < Count(); ++i) {
    if (AnsiSameText(lines_[Slot(i)], text)) return i;
  }
  return std::nullopt;
}

bool WriteLogList::Contains(std::string_view text) const {
  // Equal upper-case forms are exactly what AnsiSameText calls equal.
  return folded_.contains(AnsiUpperCase(text));
}

void WriteLogList::Insert(size_t position, std::string line) {
  if (position > Count()) throw std::out_of_range("uninstall record insertion position");
  if (GapSize() == 0) Grow();
  MoveGapTo(position);
  ++folded_[AnsiUpperCase(line)];
  lines_[gapBegin_++] = std::move(line);
}

void WriteLogList::Remove(size_t position) {
  if (position >= Count()) throw std::out_of_range("uninstall record removal position");
  MoveGapTo(position + 1);
  std::string& line = lines_[--gapBegin_];
  const auto folded = folded_.find(AnsiUpperCase(line));
  if (--folded->second == 0) folded_.erase(folded);
  line.clear();
}

bool WriteLogList::RemoveEntry(std::string_view header, std::string_view entry) {
  const auto headerPosition = Find(header);
  if (!headerPosition || !Contains(entry)) return false;
  for (size_t i = *headerPosition + 1; i < Count() && !Line(i).starts_with('['); ++i) {
    if (AnsiSameText(Line(i), entry)) {
      Remove(i);
      return true;
    }
  }
  return false;
}

void WriteLogList::MoveGapTo(size_t position) {
  if (position < gapBegin_) {
    std::move_backward(lines_.begin() + position, lines_.begin() + gapBegin_, lines_.begin() + gapEnd_);
    gapEnd_ -= gapBegin_ - position;
    gapBegin_ = position;
  } else if (position > gapBegin_) {
    const size_t count = position - gapBegin_;
    std::move(lines_.begin() + gapEnd_, lines_.begin() + gapEnd_ + count, lines_.begin() + gapBegin_);
    gapBegin_ += count;
    gapEnd_ += count;
  }
}

void WriteLogList::Grow() {
  const size_t count = Count();
  const size_t tail = lines_.size() - gapEnd_;
  std::vector<std::string> grown(std::max<size_t>(64, 2 * count));
  std::move(lines_.begin(), lines_.begin() + gapBegin_, grown.begin());
  std::move(lines_.begin() + gapEnd_, lines_.end(), grown.end() - tail);
  lines_ = std::move(grown);
  gapEnd_ = lines_.size() - tail;
}

size_t WriteLogList::EnsureSection(std::string_view header, Placement placement) {
  if (!Contains(header)) Insert(placement == Placement::Top ? 0 : Count(), std::string(header));
  return *Find(header);
}

void WriteLogList::RecordEntry(size_t headerPosition, std::string_view entry) {
  if (!Contains(entry)) Insert(headerPosition + 1, std::string(entry));
}

void WriteLogList::RecordArchiveMember(size_t insertionIndex, std::string_view targetPath,
                                       std::string_view memberName) {
  if (!Contains(targetPath)) Insert(insertionIndex, std::string(memberName));
}

bool WriteLogList::LoadFromFile(FileSystem& files, const std::string& path) {
  // Read as the journal is, from the file itself: through a link or a second name, the
  // elevated run would copy whatever file a user pointed it at into the installation.
  const ProtectedFileRead read = files.ReadProtectedFile(path);
  if (read.trust == FileTrust::Linked || read.trust == FileTrust::ExtraName) return false;
  if (read.trust == FileTrust::Missing) throw UpdateError(FormatText(text::kCannotOpenFile, {path}));
  *this = WriteLogList();
  for (std::string& line : SplitTextLines(read.bytes)) Append(std::move(line));
  return true;
}

void WriteLogList::SaveToFile(FileSystem& files, const std::string& path) const {
  if (!files.ReplaceWholeFile(path, JoinLinesCrLf(Lines()))) {
    throw UpdateError(FormatText(text::kCannotCreateFile, {path}));
  }
}

}  // namespace varno
