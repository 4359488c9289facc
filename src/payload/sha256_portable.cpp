// The native build's Sha256: our engine, which cannot be absent. The Windows build has its own definition on
// CNG in sha256_win32.cpp, so this file compiles to nothing there.
#if !defined(_WIN32)

#include "payload/sha256.h"

#include "payload/sha256_engine.h"

namespace kestrova::payload {

struct Sha256::Impl {
  Sha256Engine engine;
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {}

Sha256::~Sha256() = default;

void Sha256::Add(const void* data, size_t length) {
  if (impl_) impl_->engine.Update(data, length);
}

bool Sha256::Finish(Sha256Digest* digest) {
  if (!impl_) return false;
  *digest = impl_->engine.Finish();
  impl_.reset();
  return true;
}

}  // namespace kestrova::payload

#endif
