// Huffman code construction for the XPRESS encoder: code lengths limited to 15 bits that always form a
// complete prefix code (the decoder side rejects anything else), and the canonical code values for them.
#pragma once

#include <cstdint>

namespace kestrova::xpress {

// Fills lengths[0, count) from freq[0, count). Every symbol with a non-zero frequency gets a length in
// [1, max_length]; unused symbols get 0. When fewer than two symbols are used, one or two dummy symbols are given
// length 1 so the result is still a complete code. count must be at most 512 and 2^max_length >= count.
void BuildLimitedLengths(const uint32_t* freq, int count, int max_length, uint8_t* lengths);

// Canonical code values (MSB-first, ordered by length then symbol) for a complete set of lengths.
void BuildCanonicalCodes(const uint8_t* lengths, int count, uint16_t* codes);

}  // namespace kestrova::xpress
