// libFuzzer target: any byte string read as an archive must end in "end" or a failure text, never in a crash,
// a read outside the buffers or a hang. Content goes to a callback that touches every byte it is given.
// One Reader serves every input (Restart between them): allocating its 8 MiB of buffers per input would cost
// milliseconds under ASan and cap the run at a few hundred inputs a second.
#include <cstddef>
#include <cstdint>
#include <string>

#include "payload/archive_reader.h"
#include "payload/memory_streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova::payload;
  static MemorySource source(nullptr, 0);
  static Reader reader(source);
  source.Reset(data, size);
  reader.Restart();
  reader.AcceptDelta();
  std::string error;
  if (!reader.ReadHeader(&error)) return 0;
  Entry entry;
  uint64_t checksum = 0;
  const DataCallback onData = [&](const uint8_t* bytes, size_t length) {
    for (size_t i = 0; i < length; ++i) checksum += bytes[i];
    return true;
  };
  for (RecordOutcome outcome; (outcome = reader.NextRecord(&entry, &error)) != RecordOutcome::kEnd &&
                               outcome != RecordOutcome::kFailure;) {
    if (outcome == RecordOutcome::kEntry && !reader.ReadData(entry, onData, &error)) break;
    if (outcome == RecordOutcome::kPatch && !reader.ReadPatch(entry, onData, &error)) break;
  }
  // Keeps the callback's reads from being optimised away.
  static volatile uint64_t keep;
  keep = keep + checksum;
  return 0;
}
