// The SHA-256 block function on the x86 SHA extensions. The file is built without -msha so the rest of the
// program runs on any x86-64 CPU; only the functions marked with the target attribute use the instructions,
// and they are reached only after CpuHasShaExtensions() said yes.
#include "payload/sha256_engine.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define KESTROVA_HAVE_SHA_EXTENSIONS 1
#endif

namespace kestrova::payload {

#if defined(KESTROVA_HAVE_SHA_EXTENSIONS)

bool CpuHasShaExtensions() {
  static const bool has = [] {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const bool ssse3 = (c & (1u << 9)) != 0;
    const bool sse41 = (c & (1u << 19)) != 0;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    const bool sha = (b & (1u << 29)) != 0;
    return ssse3 && sse41 && sha;
  }();
  return has;
}

namespace detail {
namespace {

// Four rounds. The SHA instructions keep the state as two registers, ABEF and CDGH; sha256rnds2 does two
// rounds with the low two words of `wk`, so the high half is moved down for the second call.
__attribute__((target("sha,sse4.1"), always_inline)) inline void FourRounds(__m128i& abef, __m128i& cdgh,
                                                                            __m128i w, int group) {
  const __m128i k = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&kSha256RoundConstants[4 * group]));
  __m128i wk = _mm_add_epi32(w, k);
  cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
  wk = _mm_shuffle_epi32(wk, 0x0E);
  abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);
}

// W[t..t+3] from the four previous groups: msg1 adds sigma0(W[t-15]) to W[t-16], the alignr supplies
// W[t-7], and msg2 adds sigma1(W[t-2]), which depends on words of this very group.
__attribute__((target("sha,sse4.1"), always_inline)) inline __m128i NextSchedule(__m128i w0, __m128i w1,
                                                                                 __m128i w2, __m128i w3) {
  __m128i t = _mm_sha256msg1_epu32(w0, w1);
  t = _mm_add_epi32(t, _mm_alignr_epi8(w3, w2, 4));
  return _mm_sha256msg2_epu32(t, w3);
}

}  // namespace

__attribute__((target("sha,sse4.1"))) void Sha256BlocksShaExtensions(uint32_t state[8], const uint8_t* blocks,
                                                                     size_t count) {
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);

  // state[0..3] = DCBA and state[4..7] = HGFE as lanes; rearrange into ABEF and CDGH.
  __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
  __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
  dcba = _mm_shuffle_epi32(dcba, 0xB1);                 // CDAB
  hgfe = _mm_shuffle_epi32(hgfe, 0x1B);                 // EFGH
  __m128i abef = _mm_alignr_epi8(dcba, hgfe, 8);        // ABEF
  __m128i cdgh = _mm_blend_epi16(hgfe, dcba, 0xF0);     // CDGH

  for (; count > 0; --count, blocks += 64) {
    const __m128i abefSaved = abef;
    const __m128i cdghSaved = cdgh;
    const __m128i* in = reinterpret_cast<const __m128i*>(blocks);
    __m128i w0 = _mm_shuffle_epi8(_mm_loadu_si128(in + 0), byteSwap);
    __m128i w1 = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), byteSwap);
    __m128i w2 = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), byteSwap);
    __m128i w3 = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), byteSwap);
    FourRounds(abef, cdgh, w0, 0);
    FourRounds(abef, cdgh, w1, 1);
    FourRounds(abef, cdgh, w2, 2);
    FourRounds(abef, cdgh, w3, 3);
    for (int group = 4; group < 16; group += 4) {
      w0 = NextSchedule(w0, w1, w2, w3);
      FourRounds(abef, cdgh, w0, group);
      w1 = NextSchedule(w1, w2, w3, w0);
      FourRounds(abef, cdgh, w1, group + 1);
      w2 = NextSchedule(w2, w3, w0, w1);
      FourRounds(abef, cdgh, w2, group + 2);
      w3 = NextSchedule(w3, w0, w1, w2);
      FourRounds(abef, cdgh, w3, group + 3);
    }
    abef = _mm_add_epi32(abef, abefSaved);
    cdgh = _mm_add_epi32(cdgh, cdghSaved);
  }

  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), _mm_blend_epi16(feba, dchg, 0xF0));  // DCBA
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), _mm_alignr_epi8(dchg, feba, 8));     // HGFE
}

}  // namespace detail

#else

bool CpuHasShaExtensions() { return false; }

namespace detail {
void Sha256BlocksShaExtensions(uint32_t state[8], const uint8_t* blocks, size_t count) {
  Sha256BlocksPortable(state, blocks, count);
}
}  // namespace detail

#endif

}  // namespace kestrova::payload
