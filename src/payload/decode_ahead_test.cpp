#include <gtest/gtest.h>

#include "payload/archive_test_support.h"
#include "payload/delta_archive.h"

namespace kestrova::payload {
namespace {

using test::Bytes;

// Everything a caller sees of one read: each record's outcome, entry and content, the counts, and the first failure.
struct Transcript {
  std::vector<std::string> lines;
  std::string error;
  bool operator==(const Transcript&) const = default;
};

// Reads `archive` through with `workers` decoding ahead (0: none); the callback refuses the `refuseAt`th delivery.
Transcript Read(const Bytes& archive, unsigned workers, int refuseAt = -1, size_t failReadsBeyond = 0) {
  Transcript t;
  MemorySource source(archive);
  if (failReadsBeyond) source.FailReadsBeyond(failReadsBeyond);
  Reader reader(source);
  reader.AcceptDelta();
  if (!reader.ReadHeader(&t.error)) return t;
  EXPECT_EQ(reader.UseWorkers(workers), workers > 0);
  int deliveries = 0;
  std::string content;
  const DataCallback onData = [&](const uint8_t* data, size_t length) {
    content.append(reinterpret_cast<const char*>(data), length);
    return deliveries++ != refuseAt;
  };
  while (true) {
    Entry entry;
    const RecordOutcome outcome = reader.NextRecord(&entry, &t.error);
    if (outcome == RecordOutcome::kEnd || outcome == RecordOutcome::kFailure) return t;
    content.clear();
    bool ok = true;
    if (outcome == RecordOutcome::kEntry) ok = reader.ReadData(entry, onData, &t.error);
    if (outcome == RecordOutcome::kPatch) ok = reader.ReadPatch(entry, onData, &t.error);
    t.lines.push_back(std::to_string(static_cast<int>(outcome)).append(" ").append(entry.path).append(" ")
                          .append(std::to_string(reader.entriesRead())).append(" ")
                          .append(std::to_string(reader.delta().baseIndex)).append(content));
    if (!ok) return t;
  }
}

// 300 files, more than the workers' slots and queue hold: compressed, stored and empty, and some on each side of
// the length decoded without a worker.
Bytes ManyFiles(std::vector<test::File>* files) {
  for (int i = 0; i < 300; ++i) {
    Bytes content = i % 3 == 0 ? test::Compressible(200 + i) : test::Incompressible(i % 7, i);
    if (i % 50 == 1) content = test::Compressible(65536 + (i / 50) % 2);
    if (i % 50 == 2) content = test::Incompressible(65536 + (i / 50) % 2, i);
    files->push_back({std::string("f").append(std::to_string(i)), content});
  }
  return test::WriteArchive(*files);
}

// A hand-made archive of `count` one-chunk stored files, then `tail` as the last record's bytes.
Bytes StoredFiles(int count, const Bytes& tail, uint64_t endCount) {
  Bytes out;
  test::PutHeader(out);
  for (int i = 0; i < count; ++i) {
    const Bytes content = test::Incompressible(1 + i % 5, i);
    test::PutRecord(out, std::string("s").append(std::to_string(i)), content.size(), test::DigestOf(content));
    test::PutStoredChunk(out, content);
  }
  out.insert(out.end(), tail.begin(), tail.end());
  test::PutEnd(out, endCount);
  return out;
}

Bytes Record(const std::string& path, const Bytes& content, const std::vector<Bytes>& chunks, uint8_t codec) {
  Bytes out;
  test::PutRecord(out, path, content.size(), test::DigestOf(content));
  for (const Bytes& chunk : chunks) {
    test::PutChunkHeader(out, static_cast<uint32_t>(codec == kCodecStored ? chunk.size() : content.size()),
                         static_cast<uint32_t>(chunk.size()), codec);
    out.insert(out.end(), chunk.begin(), chunk.end());
  }
  return out;
}

// A delta over base files "b0" and "b1": 280 references in a row, more than the queue holds, then 20 patches.
Bytes Delta() {
  Bytes out;
  test::PutHeader(out, kArchiveVersionDelta);
  out.push_back(kTagBase);
  out.insert(out.end(), 32, 0xAB);
  out.insert(out.end(), {2, 0, 0, 0, 2, 0, 'b', '0'});
  out.insert(out.end(), 40, 0);
  out.insert(out.end(), {2, 0, 'b', '1'});
  out.insert(out.end(), 40, 0);
  for (int i = 0; i < 300; ++i) {
    const size_t tag = out.size();
    test::PutRecord(out, {'r', static_cast<char>('a' + i % 26)}, 2, test::DigestOf({'x', static_cast<uint8_t>(i)}));
    out[tag] = i < 280 ? kTagReference : kTagPatch;
    test::Put(out, i % 2, 4);
    if (i >= 280) {
      test::Put(out, 3, 8);
      test::PutStoredChunk(out, {'p', 'q', static_cast<uint8_t>(i)});
    }
  }
  test::PutEnd(out, 300);
  return out;
}

TEST(DecodeAheadTest, WorkersReadEveryArchiveAsOneThreadDoes) {
  std::vector<test::File> files;
  const Bytes many = ManyFiles(&files);
  const Bytes split = test::Compressible(30);
  const Bytes splitRecord = Record("split", split, {Bytes(split.begin(), split.begin() + 10),
                                                   Bytes(split.begin() + 10, split.end())}, kCodecStored);
  Bytes wrongSplit = splitRecord;
  wrongSplit.back() ^= 1;
  const Bytes one = {'1', '2', '3'};
  const Bytes big = test::Compressible(65537);
  Bytes wrongOne = Record("one", one, {one}, kCodecStored);
  wrongOne.back() ^= 1;
  const struct {
    const char* name;
    Bytes archive;
    int refuseAt;
    size_t failReadsBeyond;
  } rows[] = {
      {"many files", many, -1, 0},
      {"refused far ahead", many, 250, 0},
      {"source fails far ahead", many, -1, many.size() - 40},
      {"one file split in chunks", StoredFiles(200, splitRecord, 201), -1, 0},
      {"split file's digest wrong", StoredFiles(200, wrongSplit, 201), -1, 0},
      {"one-chunk file's digest wrong", StoredFiles(200, wrongOne, 201), -1, 0},
      {"garbage compressed chunk far ahead", StoredFiles(200, Record("z", one, {Bytes(2, 0xFF)}, 1), 201), -1, 0},
      {"garbage compressed chunk for a worker", StoredFiles(200, Record("z", big, {Bytes(99, 0xFF)}, 1), 201), -1, 0},
      {"truncated chunk header", StoredFiles(200, {kTagFile, 1, 0, 't', 5, 0, 0, 0, 0, 0, 0, 0}, 201), -1, 0},
      {"end count one short", StoredFiles(200, {}, 199), -1, 0},
      {"end count one long", StoredFiles(200, {}, 201), -1, 0},
      {"a delta's references and patches", Delta(), -1, 0},
  };
  for (const auto& row : rows) {
    const Transcript alone = Read(row.archive, 0, row.refuseAt, row.failReadsBeyond);
    for (unsigned workers : {1u, 2u, 4u}) {
      EXPECT_EQ(Read(row.archive, workers, row.refuseAt, row.failReadsBeyond), alone)
          << row.name << " with " << workers << " workers";
    }
  }
  // The table compares like with like; these show it compares something.
  EXPECT_EQ(Read(many, 2).lines.size(), files.size());
  EXPECT_EQ(Read(StoredFiles(200, wrongSplit, 201), 2).error, "SHA-256 mismatch in 'split'");
  EXPECT_EQ(Read(Delta(), 2).lines.size(), 300u);
  EXPECT_EQ(Read(StoredFiles(200, Record("z", big, {Bytes(99, 0xFF)}, 1), 201), 2).error,
            "corrupt compressed chunk in 'z'");
}

}  // namespace
}  // namespace kestrova::payload
