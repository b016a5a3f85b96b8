#include "signing/pkcs11_token.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <p11-kit/pkcs11.h>

#include <vector>

namespace varno::pack {
namespace {

// The module's library, unloaded last.
class Module {
 public:
  explicit Module(const std::string& path) {
#ifdef _WIN32
    handle_ = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
#else
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
  }
  ~Module() {
#ifdef _WIN32
    if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
#else
    if (handle_) dlclose(handle_);
#endif
  }
  bool Loaded() const { return handle_ != nullptr; }
  CK_C_GetFunctionList GetFunctionList() const {
#ifdef _WIN32
    return reinterpret_cast<CK_C_GetFunctionList>(
        reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), "C_GetFunctionList")));
#else
    return reinterpret_cast<CK_C_GetFunctionList>(dlsym(handle_, "C_GetFunctionList"));
#endif
  }
  static std::string LastError() {
#ifdef _WIN32
    return "Windows error " + std::to_string(GetLastError());
#else
    const char* text = dlerror();
    return text ? text : "unknown";
#endif
  }

 private:
  void* handle_ = nullptr;
};

std::string Reason(CK_RV rv) {
  switch (rv) {
    case CKR_PIN_INCORRECT: return "the PIN is not this token's";
    case CKR_PIN_LOCKED: return "the token's PIN is locked (too many wrong PINs)";
    case CKR_PIN_EXPIRED: return "the token's PIN has expired";
    case CKR_DEVICE_REMOVED:
    case CKR_TOKEN_NOT_PRESENT: return "the token was removed";
    case CKR_MECHANISM_INVALID: return "the token cannot sign RSA PKCS#1 v1.5 over SHA-256 (CKM_SHA256_RSA_PKCS)";
    default: {
      char code[16];
      std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(rv));
      return std::string("the module answered CKR ") + code;
    }
  }
}

std::string Trimmed(const unsigned char* text, size_t size) {
  std::string value(reinterpret_cast<const char*>(text), size);
  while (!value.empty() && value.back() == ' ') value.pop_back();
  return value;
}

class Token : public Pkcs11Token {
 public:
  Token(std::unique_ptr<Module> module, CK_FUNCTION_LIST_PTR functions, std::string label)
      : module_(std::move(module)), p11_(functions), label_(std::move(label)) {}
  ~Token() override {
    if (session_ != CK_INVALID_HANDLE) {
      p11_->C_Logout(session_);
      p11_->C_CloseSession(session_);
    }
    p11_->C_Finalize(nullptr);
  }

  // Opens a session on each initialised token in turn until one holds the label.
  bool Find(const std::string& pin, bool forNewKey, std::string& problem) {
    CK_ULONG count = 0;
    if (CK_RV rv = p11_->C_GetSlotList(CK_TRUE, nullptr, &count); rv != CKR_OK) return problem = Reason(rv), false;
    std::vector<CK_SLOT_ID> slots(count);
    if (CK_RV rv = p11_->C_GetSlotList(CK_TRUE, slots.data(), &count); rv != CKR_OK) return problem = Reason(rv), false;
    slots.resize(count);
    std::vector<std::string> tokens;
    for (const CK_SLOT_ID slot : slots) {
      CK_TOKEN_INFO info{};
      if (p11_->C_GetTokenInfo(slot, &info) != CKR_OK || !(info.flags & CKF_TOKEN_INITIALIZED)) continue;
      tokens.push_back(Trimmed(info.label, sizeof info.label));
      CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
      if (CK_RV rv = p11_->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session);
          rv != CKR_OK) {
        problem = "token \"" + tokens.back() + "\": " + Reason(rv);
        return false;
      }
      std::string copy = pin;
      const CK_RV login = p11_->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(copy.data()), copy.size());
      if (login != CKR_OK && login != CKR_USER_ALREADY_LOGGED_IN) {
        p11_->C_CloseSession(session);
        // Another token's PIN is not tried: a wrong PIN counts against each token it is given to.
        problem = "token \"" + tokens.back() + "\": " + Reason(login);
        return false;
      }
      session_ = session;
      const bool found = FindObject(CKO_PRIVATE_KEY).has_value();
      if (found != forNewKey) return true;
      if (forNewKey) {
        problem = "token \"" + tokens.back() + "\" holds a key labelled \"" + label_ + "\" already; a key is never replaced";
        return false;
      }
      p11_->C_Logout(session_);
      p11_->C_CloseSession(session_);
      session_ = CK_INVALID_HANDLE;
    }
    if (tokens.empty()) {
      problem = "the module shows no initialised token";
    } else {
      std::string names;
      for (const std::string& name : tokens) names += (names.empty() ? "\"" : ", \"") + name + "\"";
      problem = "no private RSA key labelled \"" + label_ + "\" on the token(s) " + names;
    }
    return false;
  }

  std::optional<RsaPrivateKey> PublicKey() override {
    const auto key = FindObject(CKO_PRIVATE_KEY);
    if (!key) return std::nullopt;
    RsaPrivateKey numbers;
    if (!Attribute(*key, CKA_MODULUS, numbers.modulus) || !Attribute(*key, CKA_PUBLIC_EXPONENT, numbers.publicExponent)) {
      // Some tokens keep the numbers on the public object only.
      const auto publicKey = FindObject(CKO_PUBLIC_KEY);
      if (!publicKey || !Attribute(*publicKey, CKA_MODULUS, numbers.modulus) ||
          !Attribute(*publicKey, CKA_PUBLIC_EXPONENT, numbers.publicExponent)) {
        return std::nullopt;
      }
    }
    for (std::string* number : {&numbers.modulus, &numbers.publicExponent}) {
      const size_t first = number->find_first_not_of('\0');
      *number = first == std::string::npos ? std::string() : number->substr(first);
    }
    return numbers;
  }

  std::optional<std::string> SignSha256(std::string_view data) override {
    const auto key = FindObject(CKO_PRIVATE_KEY);
    if (!key) {
      problem_ = "the key is no longer on the token";
      return std::nullopt;
    }
    CK_MECHANISM mechanism{CKM_SHA256_RSA_PKCS, nullptr, 0};
    std::string bytes(data);
    CK_ULONG size = 0;
    CK_RV rv = p11_->C_SignInit(session_, &mechanism, *key);
    if (rv == CKR_OK) rv = p11_->C_Sign(session_, reinterpret_cast<CK_BYTE_PTR>(bytes.data()), bytes.size(), nullptr, &size);
    std::string signature(size, '\0');
    if (rv == CKR_OK) {
      rv = p11_->C_Sign(session_, reinterpret_cast<CK_BYTE_PTR>(bytes.data()), bytes.size(),
                        reinterpret_cast<CK_BYTE_PTR>(signature.data()), &size);
    }
    if (rv != CKR_OK) {
      problem_ = "the token did not sign: " + Reason(rv);
      return std::nullopt;
    }
    signature.resize(size);
    return signature;
  }
  std::string LastProblem() const override { return problem_; }

  bool GenerateKeyPair(int bits, std::string& problem) override {
    CK_MECHANISM mechanism{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    CK_ULONG modulusBits = static_cast<CK_ULONG>(bits);
    CK_BYTE exponent[] = {0x01, 0x00, 0x01};
    CK_KEY_TYPE type = CKK_RSA;
    std::string label = label_;
    CK_ATTRIBUTE publicTemplate[] = {
        {CKA_TOKEN, &yes, sizeof yes},         {CKA_VERIFY, &yes, sizeof yes},
        {CKA_ENCRYPT, &no, sizeof no},         {CKA_KEY_TYPE, &type, sizeof type},
        {CKA_MODULUS_BITS, &modulusBits, sizeof modulusBits},
        {CKA_PUBLIC_EXPONENT, exponent, sizeof exponent},
        {CKA_LABEL, label.data(), label.size()}};
    CK_ATTRIBUTE privateTemplate[] = {
        {CKA_TOKEN, &yes, sizeof yes},   {CKA_PRIVATE, &yes, sizeof yes},      {CKA_SENSITIVE, &yes, sizeof yes},
        {CKA_EXTRACTABLE, &no, sizeof no}, {CKA_SIGN, &yes, sizeof yes},       {CKA_DECRYPT, &no, sizeof no},
        {CKA_KEY_TYPE, &type, sizeof type}, {CKA_LABEL, label.data(), label.size()}};
    CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE, privateKey = CK_INVALID_HANDLE;
    const CK_RV rv = p11_->C_GenerateKeyPair(session_, &mechanism, publicTemplate, std::size(publicTemplate),
                                             privateTemplate, std::size(privateTemplate), &publicKey, &privateKey);
    if (rv != CKR_OK) problem = "the token could not make the key: " + Reason(rv);
    return rv == CKR_OK;
  }

 private:
  std::optional<CK_OBJECT_HANDLE> FindObject(CK_OBJECT_CLASS objectClass) {
    CK_KEY_TYPE type = CKK_RSA;
    std::string label = label_;
    CK_ATTRIBUTE query[] = {{CKA_CLASS, &objectClass, sizeof objectClass},
                            {CKA_KEY_TYPE, &type, sizeof type},
                            {CKA_LABEL, label.data(), label.size()}};
    if (p11_->C_FindObjectsInit(session_, query, std::size(query)) != CKR_OK) return std::nullopt;
    CK_OBJECT_HANDLE object = CK_INVALID_HANDLE;
    CK_ULONG found = 0;
    const CK_RV rv = p11_->C_FindObjects(session_, &object, 1, &found);
    p11_->C_FindObjectsFinal(session_);
    if (rv != CKR_OK || found == 0) return std::nullopt;
    return object;
  }

  bool Attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, std::string& value) {
    CK_ATTRIBUTE attribute{type, nullptr, 0};
    if (p11_->C_GetAttributeValue(session_, object, &attribute, 1) != CKR_OK ||
        attribute.ulValueLen == static_cast<CK_ULONG>(-1)) {
      return false;
    }
    value.assign(attribute.ulValueLen, '\0');
    attribute.pValue = value.data();
    return p11_->C_GetAttributeValue(session_, object, &attribute, 1) == CKR_OK;
  }

  std::unique_ptr<Module> module_;
  CK_FUNCTION_LIST_PTR p11_;
  std::string label_;
  CK_SESSION_HANDLE session_ = CK_INVALID_HANDLE;
  std::string problem_;
};

}  // namespace

std::unique_ptr<Pkcs11Token> Pkcs11Token::Open(const std::string& path, const std::string& keyLabel,
                                               const std::string& pin, bool forNewKey, std::string& problem) {
  auto module = std::make_unique<Module>(path);
  if (!module->Loaded()) {
    problem = "the PKCS#11 module cannot be loaded: " + Module::LastError();
    return nullptr;
  }
  const CK_C_GetFunctionList getFunctionList = module->GetFunctionList();
  CK_FUNCTION_LIST_PTR functions = nullptr;
  if (!getFunctionList || getFunctionList(&functions) != CKR_OK || !functions) {
    problem = "is not a PKCS#11 module (no C_GetFunctionList)";
    return nullptr;
  }
  CK_C_INITIALIZE_ARGS arguments{};
  arguments.flags = CKF_OS_LOCKING_OK;
  if (CK_RV rv = functions->C_Initialize(&arguments); rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
    problem = "the PKCS#11 module does not start: " + Reason(rv);
    return nullptr;
  }
  auto token = std::make_unique<Token>(std::move(module), functions, keyLabel);
  if (!token->Find(pin, forNewKey, problem)) return nullptr;
  return token;
}

}  // namespace varno::pack
