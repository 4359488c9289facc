#include "payload/delta_patch.h"

#include <algorithm>
#include <cstring>

namespace kestrova::payload {
namespace {

constexpr size_t kWindowBytes = 1u << 20;
constexpr uint64_t kReadAhead = 4096;
constexpr size_t kMaxVarintBytes = 10;
constexpr size_t kKeyBytes = 8;
constexpr unsigned kMaxTableBits = 22;
constexpr uint64_t kOpAdd = 0;
constexpr uint64_t kOpCopy = 1;
constexpr uint64_t kOpDiff = 2;
// How far an approximate run is scanned past its best end before the scan gives up.
constexpr size_t kDiffLookahead = 128;
// An exact run this long is copied as it is: past it, one changed byte costs a new COPY of a few bytes, less than
// the zeros a DIFF would carry on over the next equal run.
constexpr size_t kExactEnough = 64;
// Inside a run against the base, this many equal bytes in a row end a DIFF and are copied.
constexpr uint64_t kEqualStretch = 32;

void PutVarint(std::vector<uint8_t>& out, uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<uint8_t>(value | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<uint8_t>(value));
}

// 1 complete, 0 more bytes needed, -1 corrupt (too long, or beyond 64 bits).
int GetVarint(const uint8_t* data, size_t length, size_t* position, uint64_t* value) {
  uint64_t result = 0;
  for (size_t i = 0; i < kMaxVarintBytes; ++i) {
    if (*position + i >= length) return 0;
    const uint8_t byte = data[*position + i];
    if (i == kMaxVarintBytes - 1 && byte > 1) return -1;
    result |= static_cast<uint64_t>(byte & 0x7F) << (7 * i);
    if (!(byte & 0x80)) {
      *position += i + 1;
      *value = result;
      return 1;
    }
  }
  return -1;
}

uint64_t LoadKey(const uint8_t* p) {
  uint64_t key;
  std::memcpy(&key, p, sizeof key);
  return key;
}

uint32_t HashKey(uint64_t key, unsigned bits) {
  return static_cast<uint32_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - bits));
}

class PatchWriter {
 public:
  explicit PatchWriter(std::vector<uint8_t>& out) : out_(out) {}

  void Add(const uint8_t* data, size_t length) {
    if (length == 0) return;
    PutVarint(out_, (static_cast<uint64_t>(length) << 2) | kOpAdd);
    out_.insert(out_.end(), data, data + length);
  }

  // A run against the base: its stretches of kEqualStretch or more equal bytes as COPY, the rest as DIFF. Each
  // follows on where the last ended, so its offset step costs one byte.
  void Copy(const uint8_t* base, uint64_t offset, const uint8_t* target, uint64_t length) {
    uint64_t done = 0;
    while (done < length) {
      uint64_t equal = 0;
      while (done + equal < length && target[done + equal] == base[offset + done + equal]) ++equal;
      if (equal >= kEqualStretch || done + equal == length) {
        if (equal > 0) Emit(kOpCopy, base, offset + done, target + done, equal);
        done += equal;
        continue;
      }
      // A difference: up to the next stretch of equal bytes long enough to be worth a COPY of its own.
      uint64_t end = done + equal;
      uint64_t run = 0;
      while (end + run < length && run < kEqualStretch) {
        run = target[end + run] == base[offset + end + run] ? run + 1 : 0;
        if (run == 0) ++end;
      }
      Emit(kOpDiff, base, offset + done, target + done, end - done);
      done = end;
    }
  }

  void Emit(uint64_t kind, const uint8_t* base, uint64_t offset, const uint8_t* target, uint64_t length) {
    PutVarint(out_, (length << 2) | kind);
    // Zigzag: a small step back or forth from where the last copy ended stays one or two bytes.
    const int64_t delta = static_cast<int64_t>(offset - copyEnd_);
    PutVarint(out_, (static_cast<uint64_t>(delta) << 1) ^ static_cast<uint64_t>(delta >> 63));
    if (kind == kOpDiff) {
      for (uint64_t k = 0; k < length; ++k) out_.push_back(static_cast<uint8_t>(target[k] - base[offset + k]));
    }
    copyEnd_ = offset + length;
  }

  uint64_t copyEnd() const { return copyEnd_; }

 private:
  std::vector<uint8_t>& out_;
  uint64_t copyEnd_ = 0;
};

size_t ForwardMatch(const uint8_t* a, const uint8_t* b, size_t limit) {
  size_t n = 0;
  while (n + 8 <= limit && LoadKey(a + n) == LoadKey(b + n)) n += 8;
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

// The length, from an exact start, up to which the two agree in more bytes than they differ (the end that makes
// the most of that), scanning at most kDiffLookahead bytes past the best end so far.
size_t ApproximateMatch(const uint8_t* a, const uint8_t* b, size_t limit) {
  int64_t score = 0;
  int64_t best = 0;
  size_t bestLength = 0;
  for (size_t k = 0; k < limit && k <= bestLength + kDiffLookahead; ++k) {
    score += a[k] == b[k] ? 1 : -1;
    if (score > best) {
      best = score;
      bestLength = k + 1;
    }
  }
  return bestLength;
}

}  // namespace

std::vector<uint8_t> MakePatch(const uint8_t* base, size_t baseSize, const uint8_t* target, size_t targetSize) {
  std::vector<uint8_t> patch;
  PatchWriter writer(patch);
  if (baseSize < kKeyBytes || targetSize < kMinPatchCopy) {
    writer.Add(target, targetSize);
    return patch;
  }
  // One slot per indexed base position, the latest position winning; a base too large for the table is indexed
  // at a stride, which still finds every common run of kMinPatchCopy + stride bytes.
  unsigned bits = 10;
  while (bits < kMaxTableBits && (size_t{1} << bits) < baseSize) ++bits;
  const size_t stride = std::max<size_t>(1, baseSize >> (bits - 1));
  std::vector<uint32_t> table(size_t{1} << bits, UINT32_MAX);
  const size_t lastKey = baseSize - kKeyBytes;
  for (size_t p = 0; p <= lastKey && p < UINT32_MAX; p += stride) table[HashKey(LoadKey(base + p), bits)] = uint32_t(p);

  size_t literalStart = 0;
  size_t i = 0;
  while (i + kKeyBytes <= targetSize) {
    const uint64_t key = LoadKey(target + i);
    // Two candidates: where the last copy would go on (an edit inside a run), and the table's.
    size_t bestLength = 0;
    size_t bestOffset = 0;
    const uint64_t expected = writer.copyEnd() + (i - literalStart);
    const uint32_t indexed = table[HashKey(key, bits)];
    const size_t candidates[2] = {expected <= lastKey ? size_t(expected) : SIZE_MAX,
                                  indexed != UINT32_MAX ? size_t{indexed} : SIZE_MAX};
    for (const size_t c : candidates) {
      if (c == SIZE_MAX || LoadKey(base + c) != key) continue;
      const size_t limit = std::min(baseSize - c, targetSize - i);
      const size_t exact = ForwardMatch(base + c, target + i, limit);
      const size_t length =
          exact >= kExactEnough ? exact : exact + ApproximateMatch(base + c + exact, target + i + exact, limit - exact);
      if (length > bestLength) {
        bestLength = length;
        bestOffset = c;
      }
    }
    // Grow the run backwards over the new bytes that precede it.
    size_t back = 0;
    while (bestLength > 0 && i - back > literalStart && back < bestOffset &&
           target[i - back - 1] == base[bestOffset - back - 1]) {
      ++back;
    }
    if (bestLength + back < kMinPatchCopy) {
      ++i;
      continue;
    }
    writer.Add(target + literalStart, i - back - literalStart);
    writer.Copy(base, bestOffset - back, target + i - back, bestLength + back);
    i += bestLength;
    literalStart = i;
  }
  writer.Add(target + literalStart, targetSize - literalStart);
  return patch;
}

PatchDecoder::PatchDecoder(BaseReader base, uint64_t baseSize, uint64_t targetSize, PatchOutput output)
    : base_(std::move(base)), baseSize_(baseSize), targetSize_(targetSize), output_(std::move(output)) {}

bool PatchDecoder::Fail(std::string* error, const std::string& text) {
  failed_ = true;
  if (error) *error = text;
  return false;
}

const uint8_t* PatchDecoder::Base(uint64_t offset, uint64_t wanted, size_t* available) {
  if (offset < windowStart_ || offset >= windowStart_ + windowLength_) {
    // A small base needs no more window than itself; most patched files are small.
    if (window_.empty()) window_.resize(static_cast<size_t>(std::min<uint64_t>(kWindowBytes, baseSize_)));
    // Copies jump about the base: each refill reads what is wanted now and a little more, never the whole window.
    const uint64_t ahead = std::min<uint64_t>(std::max(wanted, kReadAhead), window_.size());
    const size_t length = static_cast<size_t>(std::min<uint64_t>(ahead, baseSize_ - offset));
    if (!base_(offset, window_.data(), length)) return nullptr;
    windowStart_ = offset;
    windowLength_ = length;
  }
  *available = static_cast<size_t>(windowStart_ + windowLength_ - offset);
  return window_.data() + (offset - windowStart_);
}

bool PatchDecoder::Room(std::string* error) {
  if (pending_.empty()) pending_.resize(static_cast<size_t>(std::min<uint64_t>(kWindowBytes, targetSize_)));
  if (pendingLength_ < pending_.size()) return true;
  if (!output_(pending_.data(), pendingLength_)) return Fail(error, "could not write the output");
  pendingLength_ = 0;
  return true;
}

bool PatchDecoder::Copy(uint64_t offset, uint64_t length, std::string* error) {
  while (length > 0) {
    size_t available = 0;
    const uint8_t* from = Base(offset, length, &available);
    if (!from) return Fail(error, "could not read the base");
    if (!Room(error)) return false;
    const size_t piece = std::min({static_cast<size_t>(std::min<uint64_t>(length, available)),
                                   pending_.size() - pendingLength_});
    std::memcpy(pending_.data() + pendingLength_, from, piece);
    pendingLength_ += piece;
    offset += piece;
    length -= piece;
    produced_ += piece;
  }
  return true;
}

bool PatchDecoder::Diff(const uint8_t* data, size_t length, std::string* error) {
  while (length > 0) {
    size_t available = 0;
    const uint8_t* from = Base(diffOffset_, diffLeft_, &available);
    if (!from) return Fail(error, "could not read the base");
    if (!Room(error)) return false;
    const size_t piece = std::min({length, available, pending_.size() - pendingLength_});
    uint8_t* to = pending_.data() + pendingLength_;
    for (size_t k = 0; k < piece; ++k) to[k] = static_cast<uint8_t>(from[k] + data[k]);
    pendingLength_ += piece;
    data += piece;
    length -= piece;
    diffOffset_ += piece;
    diffLeft_ -= piece;
    produced_ += piece;
  }
  return true;
}

bool PatchDecoder::TakeHeader(bool* complete, std::string* error) {
  *complete = false;
  size_t position = 0;
  uint64_t op = 0;
  int state = GetVarint(header_, headerLength_, &position, &op);
  if (state < 0) return Fail(error, "corrupt patch: a varint longer than 10 bytes");
  if (state == 0) return true;
  const uint64_t kind = op & 3;
  const uint64_t length = op >> 2;
  if (kind == 3) return Fail(error, "corrupt patch: operation kind 3");
  if (length == 0) return Fail(error, "corrupt patch: an operation of length 0");
  if (length > targetSize_ - produced_) return Fail(error, "corrupt patch: output past the target's size");
  if (kind == kOpAdd) {
    literalsLeft_ = length;
    headerLength_ = 0;
    *complete = true;
    return true;
  }
  uint64_t zigzag = 0;
  state = GetVarint(header_, headerLength_, &position, &zigzag);
  if (state < 0) return Fail(error, "corrupt patch: a varint longer than 10 bytes");
  if (state == 0) return true;
  // The step's magnitude in unsigned arithmetic: a negative step of 2^63 must not overflow.
  const bool backwards = zigzag & 1;
  const uint64_t magnitude = backwards ? (zigzag >> 1) + 1 : zigzag >> 1;
  if (backwards ? magnitude > copyEnd_ : magnitude > baseSize_ - copyEnd_) {
    return Fail(error, "corrupt patch: a copy outside the base");
  }
  const uint64_t offset = backwards ? copyEnd_ - magnitude : copyEnd_ + magnitude;
  if (length > baseSize_ - offset) return Fail(error, "corrupt patch: a copy outside the base");
  headerLength_ = 0;
  *complete = true;
  copyEnd_ = offset + length;
  if (kind == kOpDiff) {
    diffLeft_ = length;
    diffOffset_ = offset;
    return true;
  }
  return Copy(offset, length, error);
}

bool PatchDecoder::Feed(const uint8_t* data, size_t length, std::string* error) {
  if (failed_) return Fail(error, "corrupt patch: already failed");
  size_t position = 0;
  while (position < length) {
    if (diffLeft_ > 0) {
      const size_t piece = static_cast<size_t>(std::min<uint64_t>(diffLeft_, length - position));
      if (!Diff(data + position, piece, error)) return false;
      position += piece;
      continue;
    }
    if (literalsLeft_ > 0) {
      if (!Room(error)) return false;
      const size_t piece = std::min({static_cast<size_t>(std::min<uint64_t>(literalsLeft_, length - position)),
                                     pending_.size() - pendingLength_});
      std::memcpy(pending_.data() + pendingLength_, data + position, piece);
      pendingLength_ += piece;
      literalsLeft_ -= piece;
      produced_ += piece;
      position += piece;
      continue;
    }
    // Two varints never take more than the header holds; a longer one was refused at its tenth byte.
    header_[headerLength_++] = data[position++];
    bool complete = false;
    if (!TakeHeader(&complete, error)) return false;
  }
  return true;
}

bool PatchDecoder::Finish(std::string* error) {
  if (failed_) return Fail(error, "corrupt patch: already failed");
  if (literalsLeft_ > 0 || diffLeft_ > 0 || headerLength_ > 0) {
    return Fail(error, "corrupt patch: it ends inside an operation");
  }
  if (produced_ != targetSize_) {
    return Fail(error, "corrupt patch: it makes " + std::to_string(produced_) + " bytes, not " +
                           std::to_string(targetSize_));
  }
  if (pendingLength_ > 0 && !output_(pending_.data(), pendingLength_)) return Fail(error, "could not write the output");
  pendingLength_ = 0;
  return true;
}

}  // namespace kestrova::payload
