// The SHA-256 accumulator the archive code hashes entry content with: our own Sha256Engine in the native build
// and, where the processor has the SHA instructions, in the Windows build; CNG (bcrypt) on other processors. It owns the hash state and nothing else; comparing digests is the
// caller's business.
#pragma once

#include <cstddef>
#include <memory>

#include "payload/archive_format.h"

namespace kestrova::payload {

class Sha256 {
 public:
  // Opens the hash provider and creates the hash object. If either fails the accumulator is absent:
  // Add does nothing and Finish fails. The failure is not reported by itself.
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  bool present() const { return impl_ != nullptr; }

  // Adds `length` bytes (any length, including 0).
  void Add(const void* data, size_t length);

  // Stores the digest of everything added. False when the accumulator is absent or the provider fails;
  // *digest is then unchanged. Finishing makes the accumulator absent, so a second Finish fails.
  bool Finish(Sha256Digest* digest);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kestrova::payload
