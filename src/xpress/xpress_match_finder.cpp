#include "xpress/xpress_match_finder.h"

#include <cstring>

namespace kestrova::xpress {

MatchFinder::MatchFinder()
    : rows_(std::make_unique<uint32_t[]>(kRowSize << kRowBits)),
      tags_(std::make_unique<uint8_t[]>(kRowSize << kRowBits)),
      newest_(std::make_unique<uint8_t[]>(1u << kRowBits)),
      head3_(std::make_unique<uint32_t[]>(1u << kHash3Bits)) {}

void MatchFinder::Begin(const uint8_t* in, size_t length) {
  // Moving the base a window past the previous stream's end invalidates every old entry without clearing.
  uint64_t next_base = static_cast<uint64_t>(base_) + length_ + kWindow;
  if (base_ == 0 || next_base + length + kWindow > 0xFFFFFFFFull) {
    std::memset(rows_.get(), 0, sizeof(uint32_t) * (kRowSize << kRowBits));
    std::memset(head3_.get(), 0, sizeof(uint32_t) << kHash3Bits);
    next_base = kWindow;
  }
  base_ = static_cast<uint32_t>(next_base);
  // Where each ring starts cannot change which positions a search sees, but a fresh start keeps that obvious.
  std::memset(newest_.get(), 0, 1u << kRowBits);
  in_ = in;
  length_ = length;
  hashable_end_ = length >= 4 ? length - 3 : 0;
}

}  // namespace kestrova::xpress
