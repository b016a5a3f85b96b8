// The registry keys an update, or its undo, changed. They are flushed together before the
// journal says that the change is complete (the commit mark) or that it is gone (the
// journal deleted after an undo): otherwise a power cut could leave the registry of one
// state beside the files of the other, as the system writes registry changes to the disk
// when it pleases.
#pragma once

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "platform/registry.h"

namespace varno {

class ChangedKeys {
 public:
  // A key (a path below the root, empty for the root itself) whose values or list of
  // subkeys changed: a key created or deleted is a change of its parent.
  void Add(RegKey root, const std::string& key);

  // Flushes every key, parents first; a key that is gone since is passed over (its
  // deletion is its parent's change). What could not be flushed, one key each.
  std::vector<std::string> Flush(Registry& registry) const;

 private:
  std::map<std::tuple<size_t, RegKey, std::string>, std::string> keys_;  // depth, root, upper-case path
};

// The key that holds key ("" for a key just below the root).
std::string ParentKeyOf(const std::string& key);

}  // namespace varno
