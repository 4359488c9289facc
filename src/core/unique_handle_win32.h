// Ownership of Windows resources: one move-only template parameterised by how a value is released, and a named
// alias per kind. A raw handle appears elsewhere only as a non-owning parameter or on the line that fills an owner
// through put(). Releasing keeps GetLastError() as it was, so a failure can still be read after cleanup.
#pragma once

#include <windows.h>

#include <utility>

namespace kestrova {

template <typename T, auto Close, T Invalid>
class UniqueResource {
 public:
  UniqueResource() = default;
  explicit UniqueResource(T value) : value_(value) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueResource() { reset(); }

  T get() const { return value_; }
  explicit operator bool() const { return value_ != Invalid; }
  // Releases what is held and returns the address to fill.
  T* put() {
    reset();
    return &value_;
  }
  T release() { return std::exchange(value_, Invalid); }
  void reset(T value = Invalid) {
    const T old = std::exchange(value_, value);
    if (old != Invalid) {
      const DWORD saved = GetLastError();
      Close(old);
      SetLastError(saved);
    }
  }

 private:
  T value_ = Invalid;
};

namespace detail {
inline void CloseKernelHandle(HANDLE h) { CloseHandle(h); }
inline void CloseFind(HANDLE h) { FindClose(h); }
inline void CloseRegKey(HKEY k) { RegCloseKey(k); }
inline void FreeLocal(HLOCAL p) { LocalFree(p); }
}  // namespace detail

// Files and directories opened with CreateFileW (INVALID_HANDLE_VALUE when empty).
using FileHandle = UniqueResource<HANDLE, detail::CloseKernelHandle, INVALID_HANDLE_VALUE>;
// Processes, threads, mutexes, tokens and handles from NtCreateFile (null when empty).
using KernelHandle = UniqueResource<HANDLE, detail::CloseKernelHandle, nullptr>;
using FindHandle = UniqueResource<HANDLE, detail::CloseFind, INVALID_HANDLE_VALUE>;
using RegKey = UniqueResource<HKEY, detail::CloseRegKey, nullptr>;
// Memory the system allocated with LocalAlloc for us (converted SDDL, SID strings, FormatMessage texts).
using LocalMemory = UniqueResource<HLOCAL, detail::FreeLocal, nullptr>;

}  // namespace kestrova
