// Ownership of Windows resources: one move-only template parameterised by how a value is released, and a named
// alias per kind. A raw handle appears elsewhere only as a non-owning parameter or on the line that fills an owner
// through put(). Releasing keeps GetLastError() as it was, so a failure can still be read after cleanup.
#pragma once

#include <windows.h>

#include <bcrypt.h>
#include <combaseapi.h>
#include <compressapi.h>
#include <msi.h>
#include <oleauto.h>
#include <restartmanager.h>
#include <setupapi.h>
#include <wincrypt.h>

#include <utility>

namespace kestrova {

// Traits give the held type, the empty value and the release call: INVALID_HANDLE_VALUE is a cast constant,
// which cannot be a template argument itself.
template <typename Traits>
class UniqueResource {
 public:
  using Type = typename Traits::Type;

  UniqueResource() = default;
  explicit UniqueResource(Type value) : value_(value) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueResource() { reset(); }

  Type get() const { return value_; }
  explicit operator bool() const { return value_ != Traits::Invalid(); }
  // Releases what is held and returns the address to fill.
  Type* put() {
    reset();
    return &value_;
  }
  Type release() { return std::exchange(value_, Traits::Invalid()); }
  void reset(Type value = Traits::Invalid()) {
    const Type old = std::exchange(value_, value);
    if (old != Traits::Invalid()) {
      const DWORD saved = GetLastError();
      Traits::Close(old);
      SetLastError(saved);
    }
  }

 private:
  Type value_ = Traits::Invalid();
};

namespace detail {
template <typename T, auto CloseFunction, auto InvalidValue>
struct SimpleTraits {
  using Type = T;
  static Type Invalid() { return (T)InvalidValue; }
  static void Close(Type value) { CloseFunction(value); }
};
struct FileTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type value) { CloseHandle(value); }
};
struct FindTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type value) { FindClose(value); }
};
struct DevInfoTraits {
  using Type = HDEVINFO;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type value) { SetupDiDestroyDeviceInfoList(value); }
};
struct InfTraits {
  using Type = HINF;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type value) { SetupCloseInfFile(value); }
};
inline void CloseCertStore(HCERTSTORE store) { CertCloseStore(store, 0); }
inline void CloseBCryptProvider(BCRYPT_ALG_HANDLE provider) { BCryptCloseAlgorithmProvider(provider, 0); }
inline void FreeTaskMemory(PWSTR text) { CoTaskMemFree(text); }
template <typename Interface>
struct ComTraits {
  using Type = Interface*;
  static Type Invalid() { return nullptr; }
  static void Close(Type value) { value->Release(); }
};
}  // namespace detail

// Files and directories opened with CreateFileW (INVALID_HANDLE_VALUE when empty).
using FileHandle = UniqueResource<detail::FileTraits>;
// Processes, threads, mutexes, tokens and handles from NtCreateFile (null when empty).
using KernelHandle = UniqueResource<detail::SimpleTraits<HANDLE, CloseHandle, 0>>;
using FindHandle = UniqueResource<detail::FindTraits>;
// A view of a file mapping, unmapped once (null when empty).
using MappedView = UniqueResource<detail::SimpleTraits<LPCVOID, UnmapViewOfFile, 0>>;
using RegKey = UniqueResource<detail::SimpleTraits<HKEY, RegCloseKey, 0>>;
// Memory the system allocated with LocalAlloc for us (converted SDDL, SID strings, FormatMessage texts).
using LocalMemory = UniqueResource<detail::SimpleTraits<HLOCAL, LocalFree, 0>>;
// Texts the shell allocates for the caller with CoTaskMemAlloc (known-folder paths; users link ole32).
using TaskMemory = UniqueResource<detail::SimpleTraits<PWSTR, detail::FreeTaskMemory, 0>>;
// Windows Installer databases, views and records (0 when empty; users link msi).
using MsiHandle = UniqueResource<detail::SimpleTraits<MSIHANDLE, MsiCloseHandle, 0>>;
// SetupAPI device-information lists and opened INF files (INVALID_HANDLE_VALUE when empty; users link setupapi).
using DevInfoList = UniqueResource<detail::DevInfoTraits>;
using InfFile = UniqueResource<detail::InfTraits>;
// CryptoAPI certificate stores and certificate contexts (users link crypt32).
using CertStore = UniqueResource<detail::SimpleTraits<HCERTSTORE, detail::CloseCertStore, 0>>;
using CertContext = UniqueResource<detail::SimpleTraits<PCCERT_CONTEXT, CertFreeCertificateContext, 0>>;
// CNG algorithm providers and hash objects (users link bcrypt).
using BCryptAlgorithm = UniqueResource<detail::SimpleTraits<BCRYPT_ALG_HANDLE, detail::CloseBCryptProvider, 0>>;
using BCryptHash = UniqueResource<detail::SimpleTraits<BCRYPT_HASH_HANDLE, BCryptDestroyHash, 0>>;
// Windows Compression API handles (users link cabinet).
using CompressorHandle = UniqueResource<detail::SimpleTraits<COMPRESSOR_HANDLE, CloseCompressor, 0>>;
using DecompressorHandle = UniqueResource<detail::SimpleTraits<DECOMPRESSOR_HANDLE, CloseDecompressor, 0>>;
// Restart Manager sessions, ended with RmEndSession (users link rstrtmgr). No session number is documented as
// invalid, so the empty value is all ones rather than 0.
using RmSession = UniqueResource<detail::SimpleTraits<DWORD, RmEndSession, 0xFFFFFFFFu>>;
// A COM interface pointer, released once (users link ole32). Fill it with reinterpret_cast<void**>(p.put()) where a
// call wants void**.
template <typename Interface>
using ComPtr = UniqueResource<detail::ComTraits<Interface>>;
// A BSTR allocated for or by us (SysAllocString; users link oleaut32). An empty owner is also the null BSTR.
using Bstr = UniqueResource<detail::SimpleTraits<BSTR, SysFreeString, 0>>;

// A VARIANT that starts empty (VT_EMPTY) and is cleared, with whatever it holds, when the scope ends. COM methods
// take VARIANTs by value without owning them, so get() is passed and this keeps the ownership.
class UniqueVariant {
 public:
  UniqueVariant() { VariantInit(&value_); }
  // Holds the text as a BSTR; stays empty (VT_EMPTY) when the text cannot be allocated.
  explicit UniqueVariant(const wchar_t* text) : UniqueVariant() {
    value_.bstrVal = SysAllocString(text);
    if (value_.bstrVal != nullptr) value_.vt = VT_BSTR;
  }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;
  ~UniqueVariant() {
    const DWORD saved = GetLastError();
    VariantClear(&value_);
    SetLastError(saved);
  }

  const VARIANT& get() const { return value_; }
  VARIANT* put() {
    VariantClear(&value_);
    return &value_;
  }

 private:
  VARIANT value_;
};

// CoInitializeEx for the calling thread while the scope lives, CoUninitialize at its end when the call succeeded
// (S_FALSE, already initialised in the same model, included). RPC_E_CHANGED_MODE means COM is usable in the model the
// caller chose earlier; it is left to that caller and not uninitialised here.
class ComApartment {
 public:
  explicit ComApartment(DWORD model) : result_(CoInitializeEx(nullptr, model)) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }

  HRESULT Result() const { return result_; }
  bool Usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT result_;
};

}  // namespace kestrova
