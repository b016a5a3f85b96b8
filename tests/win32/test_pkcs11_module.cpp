// A PKCS#11 module for Windows with one token ("essai", PIN from VARNO_TEST_TOKEN_PIN) and
// one key ("vendor", the PKCS#1 PEM named by VARNO_TEST_TOKEN_KEY), signing through
// CryptoAPI: enough to run varno-pack.exe's token signing under Wine, where no vendor's
// module is at hand. Only what a signer calls is there.
#include <windows.h>
#include <wincrypt.h>

#define CRYPTOKI_EXPORTS  // this module defines C_GetFunctionList
#include <p11-kit/pkcs11.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#ifndef CALG_SHA_256
#define CALG_SHA_256 0x0000800c
#endif

namespace {

constexpr CK_SESSION_HANDLE kSession = 1;
constexpr CK_OBJECT_HANDLE kPrivateKey = 2;
HCRYPTPROV provider = 0;
HCRYPTKEY key = 0;
std::string modulus, exponent;  // big-endian
bool loggedIn = false, findPending = false, signPending = false;
CK_OBJECT_HANDLE found = 0;

std::string BigEndian(const BYTE* little, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(little), size);
  std::reverse(bytes.begin(), bytes.end());
  return bytes;
}

CK_RV Initialize(void*) {
  const char* path = std::getenv("VARNO_TEST_TOKEN_KEY");
  std::ifstream in(path ? path : "");
  std::stringstream pem;
  pem << in.rdbuf();
  const std::string text = pem.str();
  DWORD derSize = 0, blobSize = 0;
  if (text.empty() || !CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &derSize, nullptr, nullptr)) {
    return CKR_GENERAL_ERROR;
  }
  std::string der(derSize, '\0');
  CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(der.data()), &derSize, nullptr,
                       nullptr);
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, PKCS_RSA_PRIVATE_KEY, reinterpret_cast<BYTE*>(der.data()), derSize, 0,
                           nullptr, nullptr, &blobSize)) {
    return CKR_GENERAL_ERROR;
  }
  std::string blob(blobSize, '\0');
  CryptDecodeObjectEx(X509_ASN_ENCODING, PKCS_RSA_PRIVATE_KEY, reinterpret_cast<BYTE*>(der.data()), derSize, 0, nullptr,
                      blob.data(), &blobSize);
  // crypt32 gives an exchange key; a signing key is what CryptSignHash(AT_SIGNATURE) uses.
  reinterpret_cast<BLOBHEADER*>(blob.data())->aiKeyAlg = CALG_RSA_SIGN;
  const auto* rsa = reinterpret_cast<const RSAPUBKEY*>(blob.data() + sizeof(BLOBHEADER));
  modulus = BigEndian(reinterpret_cast<const BYTE*>(blob.data()) + sizeof(BLOBHEADER) + sizeof(RSAPUBKEY), rsa->bitlen / 8);
  exponent.clear();
  for (DWORD e = rsa->pubexp; e; e >>= 8) exponent.insert(exponent.begin(), static_cast<char>(e & 0xff));
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) ||
      !CryptImportKey(provider, reinterpret_cast<BYTE*>(blob.data()), blobSize, 0, 0, &key)) {
    return CKR_GENERAL_ERROR;
  }
  return CKR_OK;
}
CK_RV Finalize(void*) {
  if (key) CryptDestroyKey(key);
  if (provider) CryptReleaseContext(provider, 0);
  key = 0, provider = 0;
  return CKR_OK;
}
CK_RV GetSlotList(CK_BBOOL, CK_SLOT_ID* slots, CK_ULONG* count) {
  if (slots && *count < 1) return CKR_BUFFER_TOO_SMALL;
  if (slots) slots[0] = 7;
  *count = 1;
  return CKR_OK;
}
CK_RV GetTokenInfo(CK_SLOT_ID, CK_TOKEN_INFO* info) {
  std::memset(info, ' ', sizeof *info);
  std::memcpy(info->label, "essai", 5);
  info->flags = CKF_TOKEN_INITIALIZED | CKF_LOGIN_REQUIRED;
  return CKR_OK;
}
CK_RV OpenSession(CK_SLOT_ID, CK_FLAGS, void*, CK_NOTIFY, CK_SESSION_HANDLE* session) {
  *session = kSession;
  return CKR_OK;
}
CK_RV CloseSession(CK_SESSION_HANDLE) { return CKR_OK; }
CK_RV Login(CK_SESSION_HANDLE, CK_USER_TYPE, CK_UTF8CHAR* pin, CK_ULONG size) {
  const char* expected = std::getenv("VARNO_TEST_TOKEN_PIN");
  loggedIn = expected && std::string(reinterpret_cast<char*>(pin), size) == expected;
  return loggedIn ? CKR_OK : CKR_PIN_INCORRECT;
}
CK_RV Logout(CK_SESSION_HANDLE) {
  loggedIn = false;
  return CKR_OK;
}
CK_RV FindObjectsInit(CK_SESSION_HANDLE, CK_ATTRIBUTE* query, CK_ULONG count) {
  found = kPrivateKey;
  for (CK_ULONG i = 0; i < count; ++i) {
    const std::string value(static_cast<const char*>(query[i].pValue), query[i].ulValueLen);
    if (query[i].type == CKA_LABEL && value != "vendor") found = 0;
    if (query[i].type == CKA_CLASS && *static_cast<CK_OBJECT_CLASS*>(query[i].pValue) != CKO_PRIVATE_KEY) found = 0;
  }
  if (!loggedIn) found = 0;
  findPending = true;
  return CKR_OK;
}
CK_RV FindObjects(CK_SESSION_HANDLE, CK_OBJECT_HANDLE* objects, CK_ULONG most, CK_ULONG* count) {
  *count = found && most ? 1 : 0;
  if (*count) objects[0] = found;
  found = 0;
  return findPending ? CKR_OK : CKR_OPERATION_NOT_INITIALIZED;
}
CK_RV FindObjectsFinal(CK_SESSION_HANDLE) {
  findPending = false;
  return CKR_OK;
}
CK_RV GetAttributeValue(CK_SESSION_HANDLE, CK_OBJECT_HANDLE object, CK_ATTRIBUTE* attributes, CK_ULONG count) {
  if (object != kPrivateKey) return CKR_OBJECT_HANDLE_INVALID;
  for (CK_ULONG i = 0; i < count; ++i) {
    const std::string* value = attributes[i].type == CKA_MODULUS           ? &modulus
                               : attributes[i].type == CKA_PUBLIC_EXPONENT ? &exponent
                                                                           : nullptr;
    if (!value) return CKR_ATTRIBUTE_TYPE_INVALID;
    if (attributes[i].pValue) std::memcpy(attributes[i].pValue, value->data(), value->size());
    attributes[i].ulValueLen = value->size();
  }
  return CKR_OK;
}
CK_RV SignInit(CK_SESSION_HANDLE, CK_MECHANISM* mechanism, CK_OBJECT_HANDLE object) {
  if (mechanism->mechanism != CKM_SHA256_RSA_PKCS) return CKR_MECHANISM_INVALID;
  signPending = object == kPrivateKey && loggedIn;
  return signPending ? CKR_OK : CKR_KEY_HANDLE_INVALID;
}
CK_RV Sign(CK_SESSION_HANDLE, CK_BYTE* data, CK_ULONG size, CK_BYTE* signature, CK_ULONG* signatureSize) {
  if (!signPending) return CKR_OPERATION_NOT_INITIALIZED;
  if (!signature) {
    *signatureSize = modulus.size();
    return CKR_OK;
  }
  HCRYPTHASH hash = 0;
  DWORD length = static_cast<DWORD>(*signatureSize);
  const bool signed_ = CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) && CryptHashData(hash, data, size, 0) &&
                       CryptSignHashW(hash, AT_SIGNATURE, nullptr, 0, signature, &length);
  if (hash) CryptDestroyHash(hash);
  signPending = false;
  if (!signed_) return CKR_FUNCTION_FAILED;
  std::reverse(signature, signature + length);
  *signatureSize = length;
  return CKR_OK;
}

CK_FUNCTION_LIST functions;

}  // namespace

extern "C" CK_RV C_GetFunctionList(CK_FUNCTION_LIST** list) {
  functions.version = {2, 40};
  functions.C_Initialize = Initialize;
  functions.C_Finalize = Finalize;
  functions.C_GetSlotList = GetSlotList;
  functions.C_GetTokenInfo = GetTokenInfo;
  functions.C_OpenSession = OpenSession;
  functions.C_CloseSession = CloseSession;
  functions.C_Login = Login;
  functions.C_Logout = Logout;
  functions.C_FindObjectsInit = FindObjectsInit;
  functions.C_FindObjects = FindObjects;
  functions.C_FindObjectsFinal = FindObjectsFinal;
  functions.C_GetAttributeValue = GetAttributeValue;
  functions.C_SignInit = SignInit;
  functions.C_Sign = Sign;
  *list = &functions;
  return CKR_OK;
}
