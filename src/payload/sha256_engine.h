// Our own SHA-256: the hash behind Sha256 in the native build, and available in both builds so the tests can
// check each block function directly. Two block functions exist: portable C++ and one on the x86 SHA
// extensions (SHA-NI), picked at run time from CPUID. This module does not know about CNG or archives.
#pragma once

#include <cstddef>
#include <cstdint>

#include "payload/archive_format.h"

namespace kestrova::payload {

enum class Sha256Variant : int {
  kPortable = 0,
  kShaExtensions = 1,
};

// True when the CPU offers SHA, SSSE3 and SSE4.1 (CPUID), i.e. the kShaExtensions block function can run.
bool CpuHasShaExtensions();

// kShaExtensions when the CPU has them, kPortable otherwise.
Sha256Variant BestSha256Variant();

// Incremental SHA-256. Update any number of times with pieces of any length (including 0), then Finish once;
// Finish leaves the engine reset to the empty message, ready for a new one.
class Sha256Engine {
 public:
  // Requesting kShaExtensions on a CPU without them gives the portable block function.
  explicit Sha256Engine(Sha256Variant variant = BestSha256Variant());

  Sha256Variant variant() const { return variant_; }
  void Update(const void* data, size_t length);
  Sha256Digest Finish();
  void Reset();

 private:
  using BlockFunction = void (*)(uint32_t state[8], const uint8_t* blocks, size_t count);

  Sha256Variant variant_;
  BlockFunction compress_;
  uint32_t state_[8];
  uint8_t pending_[64];
  size_t pendingLength_ = 0;
  uint64_t totalLength_ = 0;
};

namespace detail {
// Processes `count` 64-byte blocks into `state`. The SHA-NI one may only run when CpuHasShaExtensions().
void Sha256BlocksPortable(uint32_t state[8], const uint8_t* blocks, size_t count);
void Sha256BlocksShaExtensions(uint32_t state[8], const uint8_t* blocks, size_t count);
extern const uint32_t kSha256RoundConstants[64];
}  // namespace detail

}  // namespace kestrova::payload
