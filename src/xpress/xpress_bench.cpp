// Speed and ratio of our XPRESS Huffman codec against wimlib's XPRESS on a folder of files (Windows DLLs by
// default), single-threaded,
// timed in thread CPU time. Usage: xpress_bench [folder] [max-megabytes]
#include <wimlib.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "xpress/xpress_huff.h"

namespace {

using Bytes = std::vector<uint8_t>;

// CPU time of this thread: the build machines are shared, and wall time mostly measures the neighbours.
double ThreadSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Unit {
  size_t offset;
  size_t length;
  size_t packed;  // 0 when stored
};

Bytes ReadFolder(const std::string& folder, size_t limit) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (entry.is_regular_file(ec)) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  Bytes all;
  for (const auto& f : files) {
    std::ifstream in(f, std::ios::binary);
    Bytes data((std::istreambuf_iterator<char>(in)), {});
    all.insert(all.end(), data.begin(), data.end());
    if (all.size() >= limit) break;
  }
  if (all.size() > limit) all.resize(limit);
  return all;
}

// Compresses every unit into its own slot of `packed`, then decodes them all back and checks the bytes.
// encode returns the packed size (0 = keep stored); decode returns success.
void Run(const char* name, const char* unit_name, const Bytes& data, size_t unit,
         const std::function<size_t(const uint8_t*, size_t, uint8_t*, size_t)>& encode,
         const std::function<bool(const uint8_t*, size_t, uint8_t*, size_t)>& decode) {
  const size_t slot = unit + unit / 8 + 4096;
  std::vector<Unit> units;
  for (size_t at = 0; at < data.size(); at += unit) units.push_back({at, std::min(unit, data.size() - at), 0});
  Bytes packed(units.size() * slot);
  Bytes out(data.size(), 1);  // touched before timing: page faults are not the codec's cost
  double t0 = ThreadSeconds();
  for (size_t i = 0; i < units.size(); ++i) {
    Unit& u = units[i];
    size_t n = encode(data.data() + u.offset, u.length, packed.data() + i * slot, slot);
    u.packed = n != 0 && n < u.length ? n : 0;
  }
  double t1 = ThreadSeconds();
  bool ok = true;
  for (size_t i = 0; i < units.size(); ++i) {
    const Unit& u = units[i];
    if (u.packed == 0) {
      std::memcpy(out.data() + u.offset, data.data() + u.offset, u.length);
    } else {
      ok = decode(packed.data() + i * slot, u.packed, out.data() + u.offset, u.length) && ok;
    }
  }
  double t2 = ThreadSeconds();
  ok = ok && out == data;
  size_t total = 0;
  for (const Unit& u : units) total += u.packed != 0 ? u.packed : u.length;
  double enc = t1 - t0;
  double dec = t2 - t1;
  std::printf("codec %s %s ratio %.2f%% encode %.1f MB/s decode %.1f MB/s%s\n", name, unit_name,
              100.0 * static_cast<double>(total) / static_cast<double>(data.size()), data.size() / enc / 1e6,
              data.size() / dec / 1e6, ok ? "" : "  MISMATCH");
  std::fflush(stdout);
}

// The machine's load average, printed beside the figures: on a shared machine they mean little without it.
std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder = argc > 1 ? argv[1] : "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
  size_t limit = argc > 2 ? static_cast<size_t>(std::atol(argv[2])) << 20 : SIZE_MAX;
  Bytes data = ReadFolder(folder, limit);
  if (data.empty()) {
    std::fprintf(stderr, "no data in %s\n", folder.c_str());
    return 1;
  }
  std::printf("data %s: %.1f MB, load %s\n", folder.c_str(), data.size() / 1e6, LoadAverage().c_str());
  kestrova::xpress::XpressHuffEncoder encoder;
  kestrova::xpress::XpressHuffDecoder decoder;

  Run("ours", "4MiB", data, 4u << 20,
      [&](const uint8_t* in, size_t n, uint8_t* out, size_t cap) { return encoder.Compress(in, n, out, cap); },
      [&](const uint8_t* in, size_t n, uint8_t* out, size_t expected) {
        size_t produced = 0;
        return decoder.Decompress(in, n, out, expected, &produced) && produced == expected;
      });
  if (argc > 3) return 0;  // a third argument: only the first row, for quick tuning runs
  Run("ours", "64KiB", data, 65536,
      [&](const uint8_t* in, size_t n, uint8_t* out, size_t cap) { return encoder.CompressRaw(in, n, out, cap); },
      [&](const uint8_t* in, size_t n, uint8_t* out, size_t expected) {
        return decoder.DecompressRaw(in, n, out, expected);
      });
  wimlib_decompressor* wd = nullptr;
  if (wimlib_create_decompressor(WIMLIB_COMPRESSION_TYPE_XPRESS, 65536, &wd) != 0) return 1;
  for (unsigned level : {10u, 50u}) {
    wimlib_compressor* wc = nullptr;
    if (wimlib_create_compressor(WIMLIB_COMPRESSION_TYPE_XPRESS, 65536, level, &wc) != 0) return 1;
    std::string name = "wimlib-" + std::to_string(level);
    Run(name.c_str(), "64KiB", data, 65536,
        [&](const uint8_t* in, size_t n, uint8_t* out, size_t cap) {
          return wimlib_compress(in, n, out, std::min(cap, n - 1 > 0 ? n - 1 : n), wc);
        },
        [&](const uint8_t* in, size_t n, uint8_t* out, size_t expected) {
          return wimlib_decompress(in, n, out, expected, wd) == 0;
        });
    wimlib_free_compressor(wc);
  }
  wimlib_free_decompressor(wd);
  std::printf("load %s\n", LoadAverage().c_str());
  return 0;
}
