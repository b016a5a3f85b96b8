#pragma once

#include "platform/dialogs.h"
#include "platform/file_holders.h"
#include "platform/files.h"
#include "platform/libraries.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "platform/window.h"

namespace varno {

// Every service the updater reaches the machine through. The backend (Win32, or the
// in-memory machine of the tests) is chosen once, where the Platform is built.
struct Platform {
  FileSystem& files;
  Registry& registry;
  Shell& shell;
  Dialogs& dialogs;
  ProgressWindow& window;
  Processes& processes;
  Libraries& libraries;
  System& system;
  FileHolders& holders;
};

}  // namespace varno
