#include <windows.h>

#include <bcrypt.h>

#include "core/unique_handle_win32.h"
#include "payload/sha256.h"
#include "payload/sha256_engine.h"

namespace kestrova::payload {

struct Sha256::Impl {
  // Member order matters: the hash object is destroyed before the provider it was created from is closed.
  BCryptAlgorithm provider;
  BCryptHash hash;
  // Used instead of CNG where the processor has the SHA instructions; see the constructor.
  std::unique_ptr<Sha256Engine> engine;
};

Sha256::Sha256() {
  auto impl = std::make_unique<Impl>();
  // With the SHA instructions our engine hashes as fast as CNG does on Windows and several times as fast as
  // Wine's CNG, through which pack, extract and verify under Wine spent most of their time.
  if (CpuHasShaExtensions()) {
    impl->engine = std::make_unique<Sha256Engine>();
    impl_ = std::move(impl);
    return;
  }
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(impl->provider.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return;
  }
  // With no object buffer CNG allocates the hash object itself (Windows 7 and later, and Wine).
  if (!BCRYPT_SUCCESS(BCryptCreateHash(impl->provider.get(), impl->hash.put(), nullptr, 0, nullptr, 0, 0))) {
    return;
  }
  impl_ = std::move(impl);
}

Sha256::~Sha256() = default;

void Sha256::Add(const void* data, size_t length) {
  if (!impl_) return;
  if (impl_->engine) {
    impl_->engine->Update(data, length);
    return;
  }
  // BCryptHashData takes a ULONG length; feed larger inputs in pieces of 1 GiB.
  const UCHAR* in = static_cast<const UCHAR*>(data);
  while (length > 0) {
    const ULONG piece = length > (1u << 30) ? (1u << 30) : static_cast<ULONG>(length);
    // CNG wants a non-const pointer but does not write through it.
    if (!BCRYPT_SUCCESS(BCryptHashData(impl_->hash.get(), const_cast<UCHAR*>(in), piece, 0))) {
      // A hash that missed data must never compare equal: drop it so Finish fails.
      impl_.reset();
      return;
    }
    in += piece;
    length -= piece;
  }
}

bool Sha256::Finish(Sha256Digest* digest) {
  if (!impl_) return false;
  if (impl_->engine) {
    *digest = impl_->engine->Finish();
    impl_.reset();
    return true;
  }
  Sha256Digest result;
  const NTSTATUS status = BCryptFinishHash(impl_->hash.get(), result.data(), static_cast<ULONG>(result.size()), 0);
  impl_.reset();
  if (!BCRYPT_SUCCESS(status)) return false;
  *digest = result;
  return true;
}

}  // namespace kestrova::payload
