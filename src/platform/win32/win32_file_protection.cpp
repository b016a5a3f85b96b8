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

bool OthersMayWrite(PACL dacl, const TrustedAccounts& trusted) {
  if (!dacl) return true;  // no access list at all: everyone may do everything
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) return true;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) continue;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    if ((ace->Mask & kWritingRights) && !trusted.MayWrite(reinterpret_cast<PSID>(&ace->SidStart))) return true;
  }
  return false;
}

}  // namespace

UniqueHandle CreateProtectedFile(const std::string& path) {
  const TrustedAccounts trusted;
  if (!trusted.administrators.Get() || !trusted.system.Get()) return {};
  const DWORD aclSize = sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) +
                        GetLengthSid(trusted.administrators.Get()) + GetLengthSid(trusted.system.Get());
  std::vector<BYTE> aclBytes(aclSize);
  auto* acl = reinterpret_cast<PACL>(aclBytes.data());
  SECURITY_DESCRIPTOR descriptor{};
  if (!InitializeAcl(acl, aclSize, ACL_REVISION) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, trusted.administrators.Get()) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, trusted.system.Get()) ||
      !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) ||
      !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    return {};
  }
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), &descriptor, FALSE};
  const auto create = [&] {
    return UniqueHandle(CreateFileA(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ, &attributes,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  };
  // The Administrators group can be made the owner only by a token that holds it (an
  // elevated one); otherwise the file is this account's own, which the check trusts too.
  if (SetSecurityDescriptorOwner(&descriptor, trusted.administrators.Get(), FALSE)) {
    UniqueHandle file = create();
    if (file.Valid() || GetLastError() != ERROR_INVALID_OWNER) return file;
    SetSecurityDescriptorOwner(&descriptor, nullptr, FALSE);
  }
  return create();
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

}  // namespace varno::win32
