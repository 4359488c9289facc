#include "drivers/certificate.h"

#include <windows.h>

#include <wincrypt.h>

#include <string>

#include "core/log.h"
#include "core/unique_handle_win32.h"
#include "drivers/commands.h"
#include "drivers/trusted_source.h"

namespace kestrova::drivers {
namespace {

constexpr DWORD kSha1Length = 20;

// A certificate is a few KiB; this much is far more than any needs.
constexpr size_t kMaxCertificateBytes = 1u << 20;

// Reads at most kMaxCertificateBytes + 1 bytes, so a larger file shows as too large without ever being held whole.
// False when a read fails.
bool ReadCertificateFile(HANDLE file, std::string* data) {
  char chunk[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, chunk, sizeof chunk, &got, nullptr)) return false;
    if (got == 0 || data->size() > kMaxCertificateBytes) return true;
    data->append(chunk, got);
  }
}

// True when the certificate is in the named LocalMachine store afterwards, whether it was already there or added.
bool AddToLocalMachineStore(const char* name, PCCERT_CONTEXT certificate, const unsigned char* hash) {
  CertStore store(CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, name));
  if (!store) {
    const DWORD error = GetLastError();
    LogError("drivers: could not open the LocalMachine %s store: %lu", name, error);
    return false;
  }
  CRYPT_HASH_BLOB blob{kSha1Length, const_cast<BYTE*>(hash)};
  CertContext existing(
      CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr));
  if (existing) {
    LogInfo("drivers: the certificate is already in the LocalMachine %s store", name);
    return true;
  }
  if (!CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, certificate->pbCertEncoded,
                                        certificate->cbCertEncoded, CERT_STORE_ADD_USE_EXISTING, nullptr)) {
    const DWORD error = GetLastError();
    LogError("drivers: could not add the certificate to the LocalMachine %s store: 0x%08lx", name, error);
    return false;
  }
  LogInfo("drivers: added the certificate to the LocalMachine %s store", name);
  return true;
}

}  // namespace

int InstallCert(const WideString& path) {
  const std::string shown = WideToUtf8(path);
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  // A certificate that a standard user could swap would be added to the machine's trusted roots. The name is judged
  // while the file is open: in a folder that passes, no one else can have put another file under it since.
  if (file && RefusedSource(shown, TrustedSourceVerdict(path, true))) return 1;
  std::string bytes;
  if (!file || !ReadCertificateFile(file.get(), &bytes) || bytes.empty()) {
    LogError("drivers: could not read the certificate %s", shown.c_str());
    return 1;
  }
  if (bytes.size() > kMaxCertificateBytes) {
    LogError("drivers: %s is larger than 1.0 MB, which no certificate is; refusing it", shown.c_str());
    return 1;
  }
  CertContext certificate(CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                       reinterpret_cast<const BYTE*>(bytes.data()),
                                                       static_cast<DWORD>(bytes.size())));
  if (!certificate) {
    const DWORD error = GetLastError();
    LogError("drivers: %s is not a certificate: 0x%08lx", shown.c_str(), error);
    return 1;
  }
  unsigned char hash[kSha1Length];
  DWORD hashLength = sizeof hash;
  if (!CertGetCertificateContextProperty(certificate.get(), CERT_HASH_PROP_ID, hash, &hashLength) ||
      hashLength != kSha1Length) {
    const DWORD error = GetLastError();
    LogError("drivers: could not hash the certificate %s: 0x%08lx", shown.c_str(), error);
    return 1;
  }
  LogInfo("drivers: installing certificate %s (thumbprint %s)", shown.c_str(),
          ThumbprintText(hash, kSha1Length).c_str());
  const bool root = AddToLocalMachineStore("Root", certificate.get(), hash);
  const bool publisher = AddToLocalMachineStore("TrustedPublisher", certificate.get(), hash);
  return root && publisher ? 0 : 1;
}

}  // namespace kestrova::drivers
