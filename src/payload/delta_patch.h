// The patch of one file of a delta update: how its new content is made from an older file (the base) by copies out
// of the base and new bytes. MakePatch writes one, PatchDecoder applies one in pieces of any size as the archive
// delivers them. Compressing the patch stream and naming the base are the archive's business.
//
// A patch is a sequence of operations, each starting with a varint v (LEB128, at most 10 bytes) whose low two bits
// name the operation and whose other bits give its length n = v >> 2:
//   0 ADD   the n bytes that follow the varint;
//   1 COPY  n bytes of the base from offset (end of the previous COPY or DIFF, 0 at first) + d, where a zigzag
//           varint d follows;
//   2 DIFF  as COPY, each base byte plus (modulo 256) one of the n bytes that follow d: a run that differs from the
//           base in scattered bytes (moved code whose addresses changed) costs mostly zeros, which compress well.
// Every length is at least 1; kind 3 is corrupt. A patch is exactly as long as its operations and makes exactly the
// target's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestrova::payload {

// Shorter common runs than this are left as new bytes: a COPY costs a few bytes before compression.
inline constexpr size_t kMinPatchCopy = 16;

// The patch that makes `target` from `base`. Besides the two inputs it holds a table of at most 2^22 base
// positions (16 MiB) and the patch itself; each base position, at a stride that keeps within that table, is found
// by the 8 bytes starting there. Deterministic.
std::vector<uint8_t> MakePatch(const uint8_t* base, size_t baseSize, const uint8_t* target, size_t targetSize);

// Reads exactly `length` bytes of the base at `offset` into `buffer`; false when it cannot.
using BaseReader = std::function<bool(uint64_t offset, uint8_t* buffer, size_t length)>;
// Receives the next piece of the output; false stops the patch.
using PatchOutput = std::function<bool(const uint8_t* data, size_t length)>;

// Applies one patch whose bytes arrive through Feed in pieces of any size. It holds a window of up to 1 MiB of the
// base, read a little ahead so that many small operations in a row cost no read each, a 1 MiB output buffer handed on when full and at Finish,
// and a few bytes of an operation header split between two pieces. It never asks the base for a byte outside
// [0, baseSize) and never emits more than targetSize bytes.
class PatchDecoder {
 public:
  PatchDecoder(BaseReader base, uint64_t baseSize, uint64_t targetSize, PatchOutput output);

  // False with *error on the first fault: "corrupt patch: <what>" (a varint longer than 10 bytes or beyond 64 bits,
  // a zero length, output past the target's size, a copy outside the base), "could not read the base" or
  // "could not write the output"; "corrupt patch: operation kind 3". Once false, every later call is false too.
  bool Feed(const uint8_t* data, size_t length, std::string* error);
  // After the last piece: false with "corrupt patch: it ends inside an operation" or "corrupt patch: it makes <n>
  // bytes, not <size>".
  bool Finish(std::string* error);

  uint64_t produced() const { return produced_; }

 private:
  bool Fail(std::string* error, const std::string& text);
  // Decodes the operation header gathered in header_, when it is complete; false on a fault.
  bool TakeHeader(bool* complete, std::string* error);
  bool Copy(uint64_t offset, uint64_t length, std::string* error);
  bool Diff(const uint8_t* data, size_t length, std::string* error);
  // The base from `offset` on, as far as the window holds it (at least one byte), refilled for `wanted` bytes when
  // it does not hold `offset`; null when it cannot be read.
  const uint8_t* Base(uint64_t offset, uint64_t wanted, size_t* available);
  // Makes room for at least one byte in the output buffer, handing it on when full.
  bool Room(std::string* error);

  BaseReader base_;
  uint64_t baseSize_;
  uint64_t targetSize_;
  PatchOutput output_;
  std::vector<uint8_t> window_;
  uint64_t windowStart_ = 0;
  size_t windowLength_ = 0;
  std::vector<uint8_t> pending_;
  size_t pendingLength_ = 0;
  uint8_t header_[20] = {};
  size_t headerLength_ = 0;
  uint64_t literalsLeft_ = 0;
  uint64_t diffLeft_ = 0;
  uint64_t diffOffset_ = 0;
  uint64_t copyEnd_ = 0;
  uint64_t produced_ = 0;
  bool failed_ = false;
};

}  // namespace kestrova::payload
