#include "payload/sha256_engine.h"

#include <cstring>

namespace kestrova::payload {
namespace detail {

const uint32_t kSha256RoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

namespace {

inline uint32_t RotateRight(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t LoadBigEndian32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

}  // namespace

void Sha256BlocksPortable(uint32_t state[8], const uint8_t* blocks, size_t count) {
  for (; count > 0; --count, blocks += 64) {
    uint32_t w[64];
    for (int t = 0; t < 16; ++t) w[t] = LoadBigEndian32(blocks + 4 * t);
    for (int t = 16; t < 64; ++t) {
      const uint32_t s0 = RotateRight(w[t - 15], 7) ^ RotateRight(w[t - 15], 18) ^ (w[t - 15] >> 3);
      const uint32_t s1 = RotateRight(w[t - 2], 17) ^ RotateRight(w[t - 2], 19) ^ (w[t - 2] >> 10);
      w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int t = 0; t < 64; ++t) {
      const uint32_t s1 = RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25);
      const uint32_t ch = (e & f) ^ (~e & g);
      const uint32_t t1 = h + s1 + ch + kSha256RoundConstants[t] + w[t];
      const uint32_t s0 = RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22);
      const uint32_t maj = (a & b) ^ (a & c) ^ (b & c);
      const uint32_t t2 = s0 + maj;
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

}  // namespace detail

Sha256Variant BestSha256Variant() {
  return CpuHasShaExtensions() ? Sha256Variant::kShaExtensions : Sha256Variant::kPortable;
}

Sha256Engine::Sha256Engine(Sha256Variant variant) {
  if (variant == Sha256Variant::kShaExtensions && CpuHasShaExtensions()) {
    variant_ = Sha256Variant::kShaExtensions;
    compress_ = detail::Sha256BlocksShaExtensions;
  } else {
    variant_ = Sha256Variant::kPortable;
    compress_ = detail::Sha256BlocksPortable;
  }
  Reset();
}

void Sha256Engine::Reset() {
  static constexpr uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                           0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::memcpy(state_, kInitial, sizeof state_);
  std::memset(pending_, 0, sizeof pending_);
  pendingLength_ = 0;
  totalLength_ = 0;
}

void Sha256Engine::Update(const void* data, size_t length) {
  if (length == 0) return;
  const uint8_t* in = static_cast<const uint8_t*>(data);
  totalLength_ += length;
  if (pendingLength_ > 0) {
    const size_t take = length < 64 - pendingLength_ ? length : 64 - pendingLength_;
    std::memcpy(pending_ + pendingLength_, in, take);
    pendingLength_ += take;
    in += take;
    length -= take;
    if (pendingLength_ < 64) return;
    compress_(state_, pending_, 1);
    pendingLength_ = 0;
  }
  // Whole blocks go straight from the caller's buffer; only a tail is copied.
  const size_t whole = length / 64;
  if (whole > 0) compress_(state_, in, whole);
  in += whole * 64;
  length -= whole * 64;
  std::memcpy(pending_, in, length);
  pendingLength_ = length;
}

Sha256Digest Sha256Engine::Finish() {
  const uint64_t bitLength = totalLength_ * 8;
  uint8_t tail[128] = {};
  std::memcpy(tail, pending_, pendingLength_);
  tail[pendingLength_] = 0x80;
  const size_t tailLength = pendingLength_ + 1 + 8 <= 64 ? 64 : 128;
  for (size_t i = 0; i < 8; ++i) tail[tailLength - 1 - i] = static_cast<uint8_t>(bitLength >> (8 * i));
  compress_(state_, tail, tailLength / 64);

  Sha256Digest digest;
  for (size_t i = 0; i < 8; ++i) {
    digest[4 * i] = static_cast<uint8_t>(state_[i] >> 24);
    digest[4 * i + 1] = static_cast<uint8_t>(state_[i] >> 16);
    digest[4 * i + 2] = static_cast<uint8_t>(state_[i] >> 8);
    digest[4 * i + 3] = static_cast<uint8_t>(state_[i]);
  }
  Reset();
  return digest;
}

}  // namespace kestrova::payload
