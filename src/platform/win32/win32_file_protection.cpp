#include "platform/win32/win32_file_protection.h"

#include <aclapi.h>

#include <vector>

namespace varno::win32 {
namespace {

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
  std::vector<BYTE> self;  // the token user of this process

  TrustedAccounts() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
      const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
      self.assign(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + GetLengthSid(sid));
    }
    CloseHandle(token);
  }

  // This program's account is trusted because whoever can write as it already runs as it:
  // a file it owns gives no one rights they do not have.
  bool MayOwn(PSID sid) const {
    return administrators.Is(sid) || system.Is(sid) || (!self.empty() && EqualSid(const_cast<BYTE*>(self.data()), sid));
  }
  bool MayWrite(PSID sid) const { return MayOwn(sid) || trustedInstaller.Is(sid) || creatorOwner.Is(sid); }
};

// What lets an account change the file's bytes or its protection.
constexpr DWORD kWritingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                 GENERIC_ALL | MAXIMUM_ALLOWED;

// In a directory, creating an entry (FILE_ADD_FILE and FILE_ADD_SUBDIRECTORY are the file's
// write and append rights) and deleting one another account owns.
constexpr DWORD kDirectoryWritingRights = kWritingRights | FILE_DELETE_CHILD;

bool OthersMayWrite(PACL dacl, const TrustedAccounts& trusted, DWORD writingRights = kWritingRights) {
  if (!dacl) return true;  // no access list at all: everyone may do everything
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) return true;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) continue;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    if ((ace->Mask & writingRights) && !trusted.MayWrite(reinterpret_cast<PSID>(&ace->SidStart))) return true;
  }
  return false;
}

// Code is trusted for who can have written it, and this program's own account is not
// enough: a process of the same user that is not elevated writes as that account too.
bool MayOwnCode(PSID owner, const TrustedAccounts& trusted) {
  return trusted.administrators.Is(owner) || trusted.system.Is(owner) || trusted.trustedInstaller.Is(owner);
}

// The trust of what the handle is open on, by its owner and access list.
FileTrust CodeTrustOf(HANDLE handle, DWORD writingRights, const TrustedAccounts& trusted) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                      &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return FileTrust::Missing;
  }
  FileTrust trust = FileTrust::Trusted;
  if (!MayOwnCode(owner, trusted)) {
    trust = FileTrust::ForeignOwner;
  } else if (OthersMayWrite(dacl, trusted, writingRights)) {
    trust = FileTrust::WritableByOthers;
  }
  LocalFree(descriptor);
  return trust;
}

}  // namespace

namespace {

// An owner and an access list that let only the Administrators group and the system in,
// nothing inherited, for something created in the same call.
class ProtectedDescriptor {
 public:
  explicit ProtectedDescriptor(const TrustedAccounts& trusted) {
    if (!trusted.administrators.Get() || !trusted.system.Get()) return;
    const DWORD aclSize = sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) +
                          GetLengthSid(trusted.administrators.Get()) + GetLengthSid(trusted.system.Get());
    aclBytes_.resize(aclSize);
    auto* acl = reinterpret_cast<PACL>(aclBytes_.data());
    valid_ = InitializeAcl(acl, aclSize, ACL_REVISION) &&
             AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, trusted.administrators.Get()) &&
             AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, trusted.system.Get()) &&
             InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
             SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
             SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    administrators_ = trusted.administrators.Get();
  }
  ProtectedDescriptor(const ProtectedDescriptor&) = delete;
  ProtectedDescriptor& operator=(const ProtectedDescriptor&) = delete;

  // Calls create with the attributes, the Administrators group as the owner. That owner can
  // be set only by a token that holds it (an elevated one); otherwise the object is this
  // account's own. Whatever create gives; nothing when the descriptor could not be made.
  template <typename Create>
  auto WithAdministratorsOwner(Create create) -> decltype(create(nullptr)) {
    if (!valid_) return decltype(create(nullptr)){};
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), &descriptor_, FALSE};
    if (SetSecurityDescriptorOwner(&descriptor_, administrators_, FALSE)) {
      auto made = create(&attributes);
      if (Succeeded(made) || GetLastError() != ERROR_INVALID_OWNER) return made;
      SetSecurityDescriptorOwner(&descriptor_, nullptr, FALSE);
    }
    return create(&attributes);
  }

 private:
  static bool Succeeded(const UniqueHandle& handle) { return handle.Valid(); }
  static bool Succeeded(bool made) { return made; }

  std::vector<BYTE> aclBytes_;
  SECURITY_DESCRIPTOR descriptor_{};
  PSID administrators_ = nullptr;
  bool valid_ = false;
};

}  // namespace

UniqueHandle CreateProtectedFile(const std::string& path) {
  const TrustedAccounts trusted;
  ProtectedDescriptor descriptor(trusted);
  return descriptor.WithAdministratorsOwner([&](SECURITY_ATTRIBUTES* attributes) {
    return UniqueHandle(CreateFileA(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ, attributes,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  });
}

bool MakeProtectedDirectory(const std::string& path) {
  const TrustedAccounts trusted;
  ProtectedDescriptor descriptor(trusted);
  return descriptor.WithAdministratorsOwner(
      [&](SECURITY_ATTRIBUTES* attributes) { return CreateDirectoryA(path.c_str(), attributes) != FALSE; });
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
  // Adding an entry (FILE_ADD_FILE, FILE_ADD_SUBDIRECTORY) is harmless where what the run
  // uses below already exists and cannot be renamed: "C:\" and "C:\ProgramData" let every
  // user add folders.
  constexpr DWORD kChangingRights = WRITE_DAC | WRITE_OWNER | DELETE | FILE_DELETE_CHILD | GENERIC_WRITE |
                                    GENERIC_ALL | MAXIMUM_ALLOWED;
  const DWORD rights = othersMayAdd ? kChangingRights : kChangingRights | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY;
  FileTrust trust = FileTrust::Trusted;
  if (!trusted.MayOwn(owner) && !trusted.trustedInstaller.Is(owner)) {
    trust = FileTrust::ForeignOwner;
  } else if (OthersMayWrite(dacl, trusted, rights)) {
    trust = FileTrust::WritableByOthers;
  }
  LocalFree(descriptor);
  return trust;
}

ProtectedFileRead ReadProtectedFile(const std::string& path) {
  // Sharing reading only: nobody can write the file between the check and the read.
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.Valid()) return {};
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file.Get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return {};
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || information.nNumberOfLinks > 1) {
    return {FileTrust::Linked, {}};
  }
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(file.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                      nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return {};
  }
  const TrustedAccounts trusted;
  FileTrust trust = FileTrust::Trusted;
  if (!trusted.MayOwn(owner)) {
    trust = FileTrust::ForeignOwner;
  } else if (OthersMayWrite(dacl, trusted)) {
    trust = FileTrust::WritableByOthers;
  }
  LocalFree(descriptor);
  if (trust != FileTrust::Trusted) return {trust, {}};
  ProtectedFileRead read{FileTrust::Trusted, {}};
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file.Get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) read.bytes.append(chunk, got);
  if (read.bytes.size() != (uint64_t{information.nFileSizeHigh} << 32 | information.nFileSizeLow)) return {};
  return read;
}

FileTrust TrustOfCode(HANDLE file, const std::string& directory) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file, &information) || (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return FileTrust::Missing;
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || information.nNumberOfLinks > 1) {
    return FileTrust::Linked;
  }
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
