// libFuzzer target for the delta patch: any bytes applied as a patch must be refused or make exactly the target's
// size without reading outside the base, and any base and target split from the input must come back through
// MakePatch and PatchDecoder byte for byte.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "payload/delta_patch.h"

using kestrova::payload::MakePatch;
using kestrova::payload::PatchDecoder;

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "delta_patch_fuzz: %s\n", what);
    std::abort();
  }
}

// Applies `patch` in pieces of `piece` bytes; true when it made `targetSize` bytes, which land in *out.
bool Apply(const std::vector<uint8_t>& base, const uint8_t* patch, size_t length, uint64_t targetSize, size_t piece,
           std::vector<uint8_t>* out) {
  PatchDecoder decoder(
      [&base](uint64_t offset, uint8_t* buffer, size_t count) {
        Check(offset <= base.size() && count <= base.size() - offset, "read outside the base");
        std::copy(base.begin() + offset, base.begin() + offset + count, buffer);
        return true;
      },
      base.size(), targetSize,
      [out, targetSize](const uint8_t* data, size_t count) {
        out->insert(out->end(), data, data + count);
        Check(out->size() <= targetSize, "output past the target's size");
        return true;
      });
  std::string error;
  for (size_t at = 0; at < length; at += piece) {
    if (!decoder.Feed(patch + at, std::min(piece, length - at), &error)) return false;
  }
  if (!decoder.Finish(&error)) return false;
  Check(out->size() == targetSize, "finished short of the target's size");
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  // First byte: where base and target part; second: the target size for the raw patch; third: the piece size.
  const size_t split = size * data[0] / 256;
  const std::vector<uint8_t> base(data + 3, data + std::max<size_t>(3, split));
  const uint64_t targetSize = data[1] * 16u;
  const size_t piece = 1 + data[2] % 64;
  std::vector<uint8_t> out;
  Apply(base, data + 3, size - 3, targetSize, piece, &out);

  const std::vector<uint8_t> target(data + std::max<size_t>(3, split), data + size);
  const std::vector<uint8_t> patch = MakePatch(base.data(), base.size(), target.data(), target.size());
  out.clear();
  Check(Apply(base, patch.data(), patch.size(), target.size(), piece, &out), "own patch refused");
  Check(out == target, "own patch made other bytes");
  return 0;
}
