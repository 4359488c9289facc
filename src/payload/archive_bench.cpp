// Writer and Reader end to end over memory on a real folder (by default Wine's x86-64 DLLs), plus SHA-256 by
// block function. Prints throughput (MB of content per CPU second) and what the heap held at its peak while the Writer and Reader ran, for a
// small and the full input, to show their memory does not grow with the input.
//   archive_bench [folder]
#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "payload/archive_reader.h"
#include "payload/archive_writer.h"
#include "payload/memory_streams.h"
#include "payload/sha256.h"
#include "payload/sha256_engine.h"

// Heap accounting: every malloc-family call in the process goes through these, so live and peak bytes cover
// operator new, calloc and the codec's own allocations alike.
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void __libc_free(void*);

namespace {
std::atomic<size_t> gLive{0}, gPeak{0}, gCalls{0};
void Account(void* p) {
  if (!p) return;
  const size_t now = gLive += malloc_usable_size(p);
  ++gCalls;
  size_t peak = gPeak.load();
  while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
  }
}
}  // namespace

extern "C" void* malloc(size_t n) {
  void* p = __libc_malloc(n);
  Account(p);
  return p;
}
extern "C" void* calloc(size_t n, size_t m) {
  void* p = __libc_calloc(n, m);
  Account(p);
  return p;
}
extern "C" void* realloc(void* old, size_t n) {
  if (old) gLive -= malloc_usable_size(old);
  void* p = __libc_realloc(old, n);
  if (p) {
    Account(p);
  } else if (old) {
    gLive += malloc_usable_size(old);
  }
  return p;
}
extern "C" void free(void* p) {
  if (p) gLive -= malloc_usable_size(p);
  __libc_free(p);
}

namespace {

using namespace kestrova::payload;
// Throughput is measured in this thread's CPU time: the machines this runs on are shared, and wall time there
// mostly measures the neighbours.
struct Clock {
  using time_point = double;
  static double now() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
  }
};

struct InputFile {
  std::string path;
  std::vector<uint8_t> content;
  Sha256Digest sha256;
};

double Seconds(Clock::time_point since) { return Clock::now() - since; }
double Mb(uint64_t bytes) { return bytes / 1048576.0; }

struct Phase {
  size_t baseline;
  size_t callsBefore;
  Clock::time_point start;
};

Phase Begin() {
  gPeak = gLive.load();
  return Phase{gLive.load(), gCalls.load(), Clock::now()};
}

struct Result {
  double seconds;
  size_t peakAboveBaseline;
  size_t allocations;
};

Result End(const Phase& phase) {
  return Result{Seconds(phase.start), gPeak.load() - phase.baseline, gCalls.load() - phase.callsBefore};
}

void RunArchive(const char* label, const std::vector<InputFile>& files) {
  uint64_t total = 0, chunks = 0;
  for (const InputFile& f : files) {
    total += f.content.size();
    chunks += (f.content.size() + kMaxChunkLength - 1) / kMaxChunkLength;
  }
  MemorySink sink;
  sink.bytes().reserve(total + files.size() * (kRecordHeaderFixedLength + kMaxPathLength) +
                       chunks * kChunkHeaderLength + 64);

  const Phase writePhase = Begin();
  {
    Writer writer(sink);
    if (!writer.HasCompressor() || !WriteArchiveHeader(sink)) std::abort();
    for (const InputFile& f : files) {
      MemorySource source(f.content);
      std::string error;
      if (!writer.AddFile(f.path, f.content.size(), f.sha256, source, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
      }
    }
    if (!writer.Finish(nullptr) || !WriteEndRecord(sink, writer.entriesWritten())) std::abort();
  }
  const Result written = End(writePhase);

  uint64_t delivered = 0;
  const Phase readPhase = Begin();
  {
    MemorySource source(sink.bytes());
    Reader reader(source);
    std::string error;
    if (!reader.ReadHeader(&error)) std::abort();
    Entry entry;
    entry.path.reserve(kMaxPathLength);
    const DataCallback onData = [&](const uint8_t*, size_t n) {
      delivered += n;
      return true;
    };
    RecordOutcome outcome;
    while ((outcome = reader.NextRecord(&entry, &error)) == RecordOutcome::kEntry) {
      if (!reader.ReadData(entry, onData, &error)) break;
    }
    if (outcome != RecordOutcome::kEnd) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::exit(1);
    }
  }
  const Result read = End(readPhase);
  if (delivered != total) std::abort();

  std::printf("%s: %zu files, %.1f MB -> archive %.1f MB (%.1f%%)\n", label, files.size(), Mb(total),
              Mb(sink.bytes().size()), 100.0 * sink.bytes().size() / std::max<uint64_t>(total, 1));
  std::printf("  write %7.1f MB/s  heap peak above start %.2f MiB in %zu allocations\n", Mb(total) / written.seconds,
              Mb(written.peakAboveBaseline), written.allocations);
  std::printf("  read  %7.1f MB/s  heap peak above start %.2f MiB in %zu allocations\n", Mb(total) / read.seconds,
              Mb(read.peakAboveBaseline), read.allocations);
}

void BenchSha256() {
  std::vector<uint8_t> data(256u << 20);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
  for (const Sha256Variant variant : {Sha256Variant::kPortable, Sha256Variant::kShaExtensions}) {
    Sha256Engine engine(variant);
    if (engine.variant() != variant) {
      std::printf("sha256 SHA-NI: not available on this CPU\n");
      continue;
    }
    const auto start = Clock::now();
    engine.Update(data.data(), data.size());
    volatile uint8_t keep = engine.Finish()[0];
    (void)keep;
    std::printf("sha256 %-8s %7.1f MB/s\n", variant == Sha256Variant::kPortable ? "portable" : "SHA-NI",
                Mb(data.size()) / Seconds(start));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path folder = argc > 1 ? argv[1] : "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
  std::vector<InputFile> files;
  for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
    if (!item.is_regular_file()) continue;
    InputFile f;
    f.path = std::filesystem::relative(item.path(), folder).generic_string();
    std::ifstream in(item.path(), std::ios::binary);
    f.content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    files.push_back(std::move(f));
  }
  std::sort(files.begin(), files.end(), [](const InputFile& a, const InputFile& b) { return a.path < b.path; });

  uint64_t total = 0;
  const auto hashStart = Clock::now();
  for (InputFile& f : files) {
    Sha256 hash;
    hash.Add(f.content.data(), f.content.size());
    if (!hash.Finish(&f.sha256)) std::abort();
    total += f.content.size();
  }
  std::printf("hash before packing (Sha256, %s): %.1f MB/s\n",
              BestSha256Variant() == Sha256Variant::kShaExtensions ? "SHA-NI" : "portable",
              Mb(total) / Seconds(hashStart));

  std::vector<InputFile> small;
  uint64_t smallTotal = 0;
  for (const InputFile& f : files) {
    if (smallTotal >= (8u << 20)) break;
    small.push_back(f);
    smallTotal += f.content.size();
  }
  RunArchive("small", small);
  RunArchive("full", files);
  BenchSha256();
  return 0;
}
