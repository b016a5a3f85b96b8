// The one header that brings in <windows.h>, with the RAII holders the backend uses. The
// updater is an ANSI program: every call here is the A form.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>
#include <utility>

namespace varno::win32 {

// A kernel handle closed when it goes out of scope; INVALID_HANDLE_VALUE and null both mean
// "none", as the functions that return handles use either.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { Close(); }

  bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }
  void Close() {
    if (Valid()) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

// A FindFirstFileA enumeration, closed with FindClose (not CloseHandle).
class UniqueFind {
 public:
  explicit UniqueFind(HANDLE handle) : handle_(handle) {}
  UniqueFind(const UniqueFind&) = delete;
  UniqueFind& operator=(const UniqueFind&) = delete;
  ~UniqueFind() {
    if (Valid()) FindClose(handle_);
  }
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

// An item list the shell allocated, freed with the COM task allocator.
class UniqueItemList {
 public:
  UniqueItemList() = default;
  UniqueItemList(const UniqueItemList&) = delete;
  UniqueItemList& operator=(const UniqueItemList&) = delete;
  ~UniqueItemList() { CoTaskMemFree(list_); }
  LPITEMIDLIST* Out() { return &list_; }
  LPCITEMIDLIST Get() const { return list_; }

 private:
  LPITEMIDLIST list_ = nullptr;
};

// A COM interface pointer, released when it goes out of scope.
template <typename Interface>
class ComPointer {
 public:
  ComPointer() = default;
  ComPointer(const ComPointer&) = delete;
  ComPointer& operator=(const ComPointer&) = delete;
  ~ComPointer() {
    if (pointer_) pointer_->Release();
  }
  // For CoCreateInstance and QueryInterface, which take the address as void**.
  void** Out() { return reinterpret_cast<void**>(&pointer_); }
  Interface* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }

 private:
  Interface* pointer_ = nullptr;
};

// COM for the calling thread, single-threaded apartment, for the life of the object.
class ComApartment {
 public:
  ComApartment() : initialised_(SUCCEEDED(CoInitialize(nullptr))) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (initialised_) CoUninitialize();
  }

 private:
  bool initialised_;
};

// Reads a string that a Win32 function writes into a caller's buffer and whose needed
// size it reports when the buffer is too small (GetCurrentDirectoryA and its kind).
template <typename Query>
std::string ReadSizedString(Query query) {
  std::string buffer(MAX_PATH, '\0');
  DWORD length = query(static_cast<DWORD>(buffer.size()), buffer.data());
  if (length >= buffer.size()) {
    buffer.assign(length, '\0');
    length = query(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length >= buffer.size()) return {};
  }
  buffer.resize(length);
  return buffer;
}

}  // namespace varno::win32
