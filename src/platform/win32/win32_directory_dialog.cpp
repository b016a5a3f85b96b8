#include "platform/win32/win32_directory_dialog.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/ansi_text.h"
#include "base/texts.h"
#include "platform/win32/win32.h"

namespace varno::win32 {
namespace {

enum ControlId : WORD {
  kNameEdit = 101,
  kPathLabel,
  kDirectoryList,
  kFileList,
  kDriveCombo,
};

constexpr WORD kStaticClass = 0x0082;
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kListBoxClass = 0x0083;
constexpr WORD kComboBoxClass = 0x0085;
constexpr char kParent[] = "..";

// A dialog template built in memory: DialogBoxIndirect takes UTF-16 texts on WORD
// boundaries and items on DWORD boundaries.
class DialogTemplate {
 public:
  DialogTemplate(const char* title, short width, short height) {
    Align(4);
    Add(DWORD{DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU});
    Add(DWORD{0});
    countAt_ = words_.size();
    Add(WORD{0});
    Add(short{0}), Add(short{0}), Add(width), Add(height);
    Add(WORD{0});  // no menu
    Add(WORD{0});  // the standard dialog class
    AddText(title);
    Add(WORD{8});
    AddText("MS Sans Serif");
  }

  void Item(WORD windowClass, WORD id, DWORD style, short x, short y, short cx, short cy, const char* text) {
    Align(2);
    Add(DWORD{style | WS_CHILD | WS_VISIBLE});
    Add(DWORD{0});
    Add(x), Add(y), Add(cx), Add(cy);
    Add(id);
    Add(WORD{0xFFFF});
    Add(windowClass);
    AddText(text);
    Add(WORD{0});  // no creation data
    ++words_[countAt_];
  }

  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void Add(WORD word) { words_.push_back(word); }
  void Add(short value) { words_.push_back(static_cast<WORD>(value)); }
  void Add(DWORD value) {
    words_.push_back(LOWORD(value));
    words_.push_back(HIWORD(value));
  }
  // Items start on DWORD boundaries; the vector's data is DWORD-aligned by the allocator.
  void Align(size_t words) {
    while (words_.size() % words) words_.push_back(0);
  }
  void AddText(const char* text) {
    const int length = MultiByteToWideChar(1252, 0, text, -1, nullptr, 0);
    std::vector<wchar_t> wide(length > 0 ? length : 1, L'\0');
    MultiByteToWideChar(1252, 0, text, -1, wide.data(), length);
    for (wchar_t c : wide) words_.push_back(static_cast<WORD>(c));
  }

  std::vector<WORD> words_;
  size_t countAt_ = 0;
};

struct DialogState {
  std::string directory;
  std::string result;
};

std::string JoinDirectory(const std::string& directory, const std::string& name) {
  return directory.ends_with('\\') ? directory + name : directory + "\\" + name;
}

std::string FullPathOf(const std::string& path) {
  char full[MAX_PATH] = {};
  const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  return length > 0 && length < MAX_PATH ? std::string(full, length) : path;
}

bool IsDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void ListEntries(const std::string& directory, std::vector<std::string>* directories,
                 std::vector<std::string>* files) {
  WIN32_FIND_DATAA entry;
  UniqueFind find(FindFirstFileA(JoinDirectory(directory, "*").c_str(), &entry));
  if (!find.Valid()) return;
  do {
    const std::string name = entry.cFileName;
    if (name == "." || name == "..") continue;
    ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? directories : files)->push_back(name);
  } while (FindNextFileA(find.Get(), &entry));
  const auto byName = [](const std::string& a, const std::string& b) { return AnsiUpperCase(a) < AnsiUpperCase(b); };
  std::sort(directories->begin(), directories->end(), byName);
  std::sort(files->begin(), files->end(), byName);
}

void Show(HWND dialog, DialogState& state) {
  SetDlgItemTextA(dialog, kNameEdit, state.directory.c_str());
  SetDlgItemTextA(dialog, kPathLabel, state.directory.c_str());

  std::vector<std::string> directories, files;
  ListEntries(state.directory, &directories, &files);
  const HWND directoryList = GetDlgItem(dialog, kDirectoryList);
  SendMessageA(directoryList, LB_RESETCONTENT, 0, 0);
  if (state.directory.size() > 3) SendMessageA(directoryList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kParent));
  for (const auto& name : directories) {
    SendMessageA(directoryList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
  }
  const HWND fileList = GetDlgItem(dialog, kFileList);
  SendMessageA(fileList, LB_RESETCONTENT, 0, 0);
  for (const auto& name : files) SendMessageA(fileList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));

  const HWND drives = GetDlgItem(dialog, kDriveCombo);
  const std::string drive = AnsiLowerCase(state.directory.substr(0, 2));
  SendMessageA(drives, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(drive.c_str()));
}

void FillDrives(HWND dialog) {
  char drives[512] = {};
  const DWORD length = GetLogicalDriveStringsA(sizeof(drives) - 1, drives);
  const HWND combo = GetDlgItem(dialog, kDriveCombo);
  for (const char* root = drives; length > 0 && *root; root += std::strlen(root) + 1) {
    const std::string drive = AnsiLowerCase(std::string(root).substr(0, 2));
    SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(drive.c_str()));
  }
}

std::string SelectedText(HWND control, UINT getSelection, UINT getText) {
  const LRESULT index = SendMessageA(control, getSelection, 0, 0);
  if (index < 0) return {};
  char text[MAX_PATH] = {};
  SendMessageA(control, getText, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
  return text;
}

void Enter(HWND dialog, DialogState& state, const std::string& directory) {
  if (!IsDirectory(directory)) return;
  state.directory = FullPathOf(directory);
  Show(dialog, state);
}

// OK takes the name field when it names a directory (the user typed one), else the
// directory shown; a name that is no directory keeps the dialog open.
bool Accept(HWND dialog, DialogState& state) {
  char typed[MAX_PATH] = {};
  GetDlgItemTextA(dialog, kNameEdit, typed, MAX_PATH);
  const std::string name = TrimBlanks(typed);
  if (name.empty()) {
    state.result = state.directory;
    return true;
  }
  const std::string path = name.size() >= 2 && name[1] == ':' ? name : JoinDirectory(state.directory, name);
  if (!IsDirectory(path)) {
    MessageBeep(MB_ICONEXCLAMATION);
    return false;
  }
  state.result = FullPathOf(path);
  return true;
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      state = reinterpret_cast<DialogState*>(lParam);
      FillDrives(dialog);
      Show(dialog, *state);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          if (Accept(dialog, *state)) EndDialog(dialog, IDOK);
          return TRUE;
        case IDCANCEL:
          EndDialog(dialog, IDCANCEL);
          return TRUE;
        case kDirectoryList:
          if (HIWORD(wParam) == LBN_DBLCLK) {
            const std::string name = SelectedText(reinterpret_cast<HWND>(lParam), LB_GETCURSEL, LB_GETTEXT);
            if (!name.empty()) Enter(dialog, *state, JoinDirectory(state->directory, name));
          }
          return TRUE;
        case kDriveCombo:
          if (HIWORD(wParam) == CBN_SELCHANGE) {
            const std::string drive = SelectedText(reinterpret_cast<HWND>(lParam), CB_GETCURSEL, CB_GETLBTEXT);
            if (!drive.empty()) Enter(dialog, *state, drive + "\\");
          }
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

}  // namespace

std::string RunDirectoryDialog() {
  DialogTemplate layout(text::kDirectoryDialogTitle, 250, 180);
  layout.Item(kStaticClass, 0xFFFF, SS_LEFT, 6, 6, 238, 8, text::kDirectoryNameLabel);
  layout.Item(kEditClass, kNameEdit, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 6, 16, 238, 12, "");
  layout.Item(kStaticClass, kPathLabel, SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS, 6, 32, 238, 8, "");
  layout.Item(kStaticClass, 0xFFFF, SS_LEFT, 6, 44, 115, 8, text::kDirectoriesLabel);
  layout.Item(kListBoxClass, kDirectoryList, LBS_NOTIFY | LBS_HASSTRINGS | WS_VSCROLL | WS_BORDER | WS_TABSTOP, 6, 54,
              115, 90, "");
  layout.Item(kStaticClass, 0xFFFF, SS_LEFT, 129, 44, 115, 8, text::kFilesLabel);
  layout.Item(kListBoxClass, kFileList, LBS_HASSTRINGS | LBS_NOSEL | WS_VSCROLL | WS_BORDER | WS_TABSTOP, 129, 54,
              115, 90, "");
  layout.Item(kStaticClass, 0xFFFF, SS_LEFT, 6, 148, 115, 8, text::kDrivesLabel);
  layout.Item(kComboBoxClass, kDriveCombo, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 6, 158, 115, 80, "");
  layout.Item(kButtonClass, IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP, 140, 158, 50, 14, text::kOkButton);
  layout.Item(kButtonClass, IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, 194, 158, 50, 14, text::kCancelButton);

  DialogState state;
  char current[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, current);
  state.directory = current;
  const INT_PTR answer =
      DialogBoxIndirectParamA(GetModuleHandleA(nullptr), layout.Get(), nullptr, DialogProc,
                              reinterpret_cast<LPARAM>(&state));
  return answer == IDOK ? state.result : std::string();
}

}  // namespace varno::win32
