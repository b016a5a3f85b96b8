#include "platform/win32/win32_file_protection.h"
#include "platform/win32/win32_held_names.h"

#include <aclapi.h>

#include <vector>

namespace varno::win32 {

// A SID built from its authority and sub-authorities, freed with it.
class WellKnownSid {
 public:
  WellKnownSid(BYTE authority, std::initializer_list<DWORD> parts) {
    SID_IDENTIFIER_AUTHORITY identifier{{0, 0, 0, 0, 0, authority}};
    DWORD p[8] = {};
    size_t i = 0;
    for (const DWORD part : parts) p[i++] = part;
    if (!AllocateAndInitializeSid(&identifier, static_cast<BYTE>(parts.size()), p[0], p[1], p[2], p[3], p[4], p[5],
                                  p[6], p[7], &sid_)) {
      sid_ = nullptr;
    }
  }
  WellKnownSid(const WellKnownSid&) = delete;
  WellKnownSid& operator=(const WellKnownSid&) = delete;
  ~WellKnownSid() {
    if (sid_) FreeSid(sid_);
  }
  PSID Get() const { return sid_; }
  bool Is(PSID other) const { return sid_ && other && EqualSid(sid_, other); }

 private:
  PSID sid_ = nullptr;
};

struct TrustedAccounts {
  WellKnownSid administrators{5, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}};
  WellKnownSid system{5, {SECURITY_LOCAL_SYSTEM_RID}};
  // The account Windows' own servicing runs as; program directories let it write.
  WellKnownSid trustedInstaller{5, {80, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u}};
  WellKnownSid creatorOwner{3, {0}};

  // Not this program's own account: an administrator's programs that run without elevation
  // hold the same user SID, and malware among them could then plant a file this elevated
  // program trusts. Only what elevation or the system alone gives counts.
  bool MayOwn(PSID sid) const { return administrators.Is(sid) || system.Is(sid) || trustedInstaller.Is(sid); }
  bool MayWrite(PSID sid) const { return MayOwn(sid) || creatorOwner.Is(sid); }
};

namespace {

// What lets an account change the file's bytes or its protection.
constexpr DWORD kWritingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                 GENERIC_ALL | MAXIMUM_ALLOWED;

// In a directory, creating an entry (FILE_ADD_FILE and FILE_ADD_SUBDIRECTORY are the file's
// write and append rights) and deleting one another account owns.
constexpr DWORD kDirectoryWritingRights = kWritingRights | FILE_DELETE_CHILD;

bool OthersMayWrite(PACL dacl, const TrustedAccounts& trusted, DWORD writingRights = kWritingRights,
                    PSID alsoTrusted = nullptr) {
  if (!dacl) return true;  // no access list at all: everyone may do everything
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) return true;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) continue;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    const PSID who = reinterpret_cast<PSID>(&ace->SidStart);
    if ((ace->Mask & writingRights) && !trusted.MayWrite(who) && !(alsoTrusted && EqualSid(alsoTrusted, who))) {
      return true;
    }
  }
  return false;
}

// The trust of what the handle is open on, by its owner and access list: code is trusted
// only for what elevation or the system alone can have written.
FileTrust CodeTrustOf(HANDLE handle, DWORD writingRights, const TrustedAccounts& trusted) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                      &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return FileTrust::Missing;
  }
  FileTrust trust = FileTrust::Trusted;
  if (!trusted.MayOwn(owner)) {
    trust = FileTrust::ForeignOwner;
  } else if (OthersMayWrite(dacl, trusted, writingRights)) {
    trust = FileTrust::WritableByOthers;
  }
  LocalFree(descriptor);
  return trust;
}

// The user of this process's token: the account a log's directories may belong to.
std::vector<BYTE> ThisAccount() {
  std::vector<BYTE> self;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return self;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
    const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    self.assign(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + GetLengthSid(sid));
  }
  CloseHandle(token);
  return self;
}

}  // namespace

// Administrators and the system may do everything, nobody else anything, nothing inherited.
bool ProtectedDescriptor::Make(DWORD allAccess) {
  if (!trusted_->administrators.Get() || !trusted_->system.Get()) return false;
  const DWORD aclSize = sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) +
                        GetLengthSid(trusted_->administrators.Get()) + GetLengthSid(trusted_->system.Get());
  aclBytes_.assign(aclSize, 0);
  auto* acl = reinterpret_cast<PACL>(aclBytes_.data());
  return InitializeAcl(acl, aclSize, ACL_REVISION) &&
         AddAccessAllowedAce(acl, ACL_REVISION, allAccess, trusted_->administrators.Get()) &&
         AddAccessAllowedAce(acl, ACL_REVISION, allAccess, trusted_->system.Get()) &&
         InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
         SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
         SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED) &&
         SetSecurityDescriptorOwner(&descriptor_, trusted_->administrators.Get(), FALSE);
}

ProtectedDescriptor::ProtectedDescriptor(DWORD allAccess) : trusted_(std::make_unique<TrustedAccounts>()) {
  valid_ = Make(allAccess);
}
ProtectedDescriptor::~ProtectedDescriptor() = default;

bool TrustedOwnerAndAccess(PSID owner, PACL dacl, bool readingCounts) {
  const TrustedAccounts trusted;
  if (!trusted.MayOwn(owner)) return false;
  if (!dacl) return false;
  const DWORD rights = readingCounts ? kWritingRights | GENERIC_READ | FILE_READ_DATA : kWritingRights;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) return false;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) continue;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    if ((ace->Mask & rights) && !trusted.MayWrite(reinterpret_cast<PSID>(&ace->SidStart))) return false;
  }
  return true;
}

UniqueHandle CreateProtectedFile(const std::string& path, bool* ownerRefused, const HeldNames& names) {
  if (ownerRefused) *ownerRefused = false;
  ProtectedDescriptor protection(FILE_ALL_ACCESS);
  if (!protection.Valid()) return {};
  UniqueHandle file = names.Open(path, {FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, protection.Get()});
  // The Administrators group can be made the owner only by a token that holds it (an
  // elevated one), and a share may refuse it. No other owner is made: with the access list
  // above, a file owned by this account would be one it could neither read nor delete.
  if (!file.Valid() && GetLastError() == ERROR_INVALID_OWNER && ownerRefused) *ownerRefused = true;
  return file;
}

ProtectedFileRead ReadProtectedFile(const std::string& path, const HeldNames& names) {
  // Sharing reading only: nobody can write the file between the check and the read.
  UniqueHandle file = names.Open(path, {GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN});
  if (!file.Valid()) return {};
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file.Get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return {};
  }
  if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return {FileTrust::Linked, {}};
  FileTrust trust = FileTrust::Trusted;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  // A volume without access lists (FAT32, exFAT) has no descriptor to give: nothing says
  // who wrote the file.
  if (GetSecurityInfo(file.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                      nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    trust = FileTrust::WritableByOthers;
    descriptor = nullptr;
  } else {
    const TrustedAccounts trusted;
    if (!trusted.MayOwn(owner)) {
      trust = FileTrust::ForeignOwner;
    } else if (OthersMayWrite(dacl, trusted)) {
      trust = FileTrust::WritableByOthers;
    }
  }
  if (descriptor) LocalFree(descriptor);
  if (information.nNumberOfLinks > 1) trust = FileTrust::ExtraName;
  ProtectedFileRead read{trust, {}};
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file.Get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) read.bytes.append(chunk, got);
  if (read.bytes.size() != (uint64_t{information.nFileSizeHigh} << 32 | information.nFileSizeLow)) return {};
  return read;
}

bool MakeProtectedDirectory(const std::string& path) {
  ProtectedDescriptor protection(FILE_ALL_ACCESS);
  if (!protection.Valid()) return false;
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), protection.Get(), FALSE};
  return CreateDirectoryA(path.c_str(), &attributes) != FALSE;
}

FileTrust TrustOfDirectory(const std::string& path, bool othersMayAdd) {
  UniqueHandle folder(CreateFileA(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION information{};
  if (!folder.Valid() || !GetFileInformationByHandle(folder.Get(), &information) ||
      !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return FileTrust::Missing;
  }
  if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return FileTrust::Linked;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(folder.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                      nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return FileTrust::Missing;
  }
  const TrustedAccounts trusted;
  // A log is the program's own text, not code: a directory of the account running may hold
  // it (under Wine every directory is that account's).
  std::vector<BYTE> self = ThisAccount();
  const PSID account = self.empty() ? nullptr : self.data();
  // Adding an entry (FILE_ADD_FILE, FILE_ADD_SUBDIRECTORY) is harmless where what the run
  // uses below already exists and cannot be renamed: "C:\" and "C:\ProgramData" let every
  // user add folders.
  constexpr DWORD kChangingRights = WRITE_DAC | WRITE_OWNER | DELETE | FILE_DELETE_CHILD | GENERIC_WRITE |
                                    GENERIC_ALL | MAXIMUM_ALLOWED;
  const DWORD rights = othersMayAdd ? kChangingRights : kChangingRights | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY;
  FileTrust trust = FileTrust::Trusted;
  if (!trusted.MayOwn(owner) && !(account && EqualSid(account, owner))) {
    trust = FileTrust::ForeignOwner;
  } else if (OthersMayWrite(dacl, trusted, rights, account)) {
    trust = FileTrust::WritableByOthers;
  }
  LocalFree(descriptor);
  return trust;
}

FileTrust TrustOfCode(HANDLE file, const std::string& directory) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file, &information) || (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return FileTrust::Missing;
  }
  if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return FileTrust::Linked;
  if (information.nNumberOfLinks > 1) return FileTrust::ExtraName;
  const TrustedAccounts trusted;
  const FileTrust own = CodeTrustOf(file, kWritingRights, trusted);
  if (own != FileTrust::Trusted) return own;
  // The directory, opened without following a link, for who may add or delete files in it.
  UniqueHandle folder(CreateFileA(directory.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder.Valid() || !GetFileInformationByHandle(folder.Get(), &information)) return FileTrust::Missing;
  if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return FileTrust::Linked;
  return CodeTrustOf(folder.Get(), kDirectoryWritingRights, trusted);
}

}  // namespace varno::win32
