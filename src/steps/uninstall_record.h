// The uninstall record "UninstCgg.slt": what updates added to the installation, one line per
// file, directory, shortcut or registry value, under a header per kind. The updater only ever
// adds lines to it; the product's uninstaller reads it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/files.h"

namespace varno {

// The headers the steps maintain, and the line that closes every completed run.
namespace record {
inline constexpr char kSurFile[] = "[SurFile]";
inline constexpr char kSurDir[] = "[SurDir]";
inline constexpr char kSurFileDir[] = "[SurFileDir]";
inline constexpr char kSurDeskLink[] = "[SurDeskLink]";
inline constexpr char kSurProgramsLink[] = "[SurProgramsLink]";
inline constexpr char kSurValReg[] = "[SurValReg]";
inline constexpr char kRunMarker[] = "[****]";
}  // namespace record

// InstallDir + "\UninstCgg.slt", the one path the record is loaded from and saved to.
std::string UninstallRecordPath(std::string_view installDir);

// Where EnsureSection puts a header that is missing: only "[SurFile]" goes to the top.
enum class Placement { Top, End };

// The record as an ordered list of lines, held verbatim. Lines compare as whole lines with
// the ANSI case-insensitive comparison. Positions are zero-based and count every line, so a
// record of any length is handled in full.
class WriteLogList {
 public:
  size_t Count() const { return lines_.size() - GapSize(); }
  const std::string& Line(size_t position) const;
  std::vector<std::string> Lines() const;

  // The first line, scanning from position 0, equal to the text; nothing when none is.
  std::optional<size_t> Find(std::string_view text) const;
  // Whether any line equals the text: the same answer as Find, without the scan.
  bool Contains(std::string_view text) const;

  // Inserts before the line at position (Count() appends). A position past the end is a
  // programming error and throws std::out_of_range.
  void Insert(size_t position, std::string line);
  void Append(std::string line) { Insert(Count(), std::move(line)); }

  // Places the header when no line equals it (at position 0 or after the last line) and
  // returns the position of the first line equal to it. A step keeps that position for the
  // rest of its work: insertions directly below a header never move it.
  size_t EnsureSection(std::string_view header, Placement placement);

  // Inserts the entry directly below the header at headerPosition, unless a line anywhere
  // in the record (a header or a run marker included) already equals it.
  void RecordEntry(size_t headerPosition, std::string_view entry);

  // The archive's own variant: the test is for the member's full target path while the
  // line inserted at insertionIndex is the member's bare name. A name recorded by an
  // earlier run is therefore recorded again when its file still does not exist.
  void RecordArchiveMember(size_t insertionIndex, std::string_view targetPath, std::string_view memberName);

  // Takes out the first entry equal to the text among the entries of the section whose
  // header is given (the lines below it up to the next line beginning with "["): a file or
  // directory that an update removed is no longer the uninstaller's to remove. False when
  // the section has no such entry.
  bool RemoveEntry(std::string_view header, std::string_view entry);

  // Closes a run that reached the end of its steps.
  void AppendRunMarker() { Append(record::kRunMarker); }

  // Replaces the list with the file's lines (CR LF, LF or a lone CR end a line). A file
  // that exists but cannot be read raises "Impossible d'ouvrir le fichier %s": going on
  // with an empty list would lose the earlier runs' lines at the save. A link or a file with
  // a second name is not read (false, the list unchanged): it is not the record the updater
  // saved, and the save puts a file of its own in its place.
  bool LoadFromFile(FileSystem& files, const std::string& path);

  // Writes every line followed by CR LF, replacing the file as a whole. A failed save
  // raises "Impossible de créer le fichier %s" and leaves the previous file whole.
  void SaveToFile(FileSystem& files, const std::string& path) const;

 private:
  // Lines live in a gap buffer: a step inserts all its entries at one position, and a gap
  // kept there makes each insertion cost the same near the top of a long record as at its
  // end. lines_[gapBegin_, gapEnd_) holds no line.
  size_t GapSize() const { return gapEnd_ - gapBegin_; }
  size_t Slot(size_t position) const { return position < gapBegin_ ? position : position + GapSize(); }
  void MoveGapTo(size_t position);
  void Remove(size_t position);
  void Grow();

  std::vector<std::string> lines_;
  size_t gapBegin_ = 0;
  size_t gapEnd_ = 0;
  // How many lines fold to each upper-case text, for the whole-record duplicate tests.
  std::unordered_map<std::string, size_t> folded_;
};

}  // namespace varno
