#include <windows.h>

#include <memory>

#include "core/log.h"
#include "core/unique_handle_win32.h"
#include "payload/archive_writer.h"
#include "payload/buffered_sink.h"
#include "payload/delta_pack.h"
#include "payload/commands.h"
#include "payload/file_streams.h"
#include "payload/memory_streams.h"
#include "payload/sha256.h"
#include "payload/hash_file.h"
#include "payload/pack_walk.h"
#include "securefs/paths.h"

namespace kestrova::payload {

namespace {

constexpr double kBytesPerMegabyte = 1048576.0;

// The system's own words for a Win32 code, without the line break FormatMessageW ends them with.
std::string SystemMessage(DWORD code) {
  LocalMemory text;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
      reinterpret_cast<LPWSTR>(text.put()), 0, nullptr);
  if (length == 0 || !text) return "error " + std::to_string(code);
  WideString message(static_cast<const wchar_t*>(text.get()), length);
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' ')) {
    message.pop_back();
  }
  return WideToUtf8(message);
}

// Writes the whole archive into `sink`; false with the first failure's text.
bool WriteArchive(ByteSink& sink, const std::vector<PackItem>& files, uint64_t* inputBytes, std::string* error) {
  Writer writer(sink, CodecWorkers());
  if (!writer.HasCompressor()) {
    *error = "could not create the XPRESS_HUFF compressor";
    return false;
  }
  if (!WriteArchiveHeader(sink)) {
    *error = "write failed";
    return false;
  }
  // Each file is opened once. One that fits a chunk is read whole into memory, hashed there and packed from there;
  // a larger one is hashed through the handle, which then starts over for AddFile. AddFile hashes again while
  // packing, so a file that changed in between still fails.
  const ZeroedBuffer whole = AllocateZeroed(kMaxChunkLength);
  if (!whole) {
    *error = "could not create the XPRESS_HUFF compressor";
    return false;
  }
  for (const PackItem& file : files) {
    const auto unreadable = [&] { *error = "could not read " + WideToUtf8(securefs::DisplayPath(file.fullPath)); };
    const std::unique_ptr<ByteSource> content = OpenFileSource(file.fullPath, error);
    if (!content) {
      unreadable();
      return false;
    }
    size_t got = 0;
    if (!ReadSized(*content, whole.get(), kMaxChunkLength, file.sizeHint, &got)) {
      unreadable();
      return false;
    }
    Sha256 hash;
    hash.Add(whole.get(), got);
    uint64_t length = got;
    if (got == kMaxChunkLength) {
      for (size_t more = got; more == kMaxChunkLength; length += more) {
        if (!content->Read(whole.get(), kMaxChunkLength, &more)) {
          unreadable();
          return false;
        }
        hash.Add(whole.get(), more);
      }
    }
    Sha256Digest digest{};
    if (!hash.Finish(&digest)) {
      unreadable();
      return false;
    }
    if (length < kMaxChunkLength) {
      MemorySource inMemory(whole.get(), got);
      if (!writer.AddFile(file.relativePath, length, digest, inMemory, error)) return false;
    } else if (!content->Rewind()) {
      unreadable();
      return false;
    } else if (!writer.AddFile(file.relativePath, length, digest, *content, error)) {
      return false;
    }
    *inputBytes += length;
  }
  if (!writer.Finish(error)) return false;
  if (!WriteEndRecord(sink, writer.entriesWritten())) {
    *error = "write failed";
    return false;
  }
  return true;
}

// The delta update of `files` against the archive at `base`: every file hashed first, since which base file a file
// is taken from or patched against is decided before the first record.
bool WriteDelta(ByteSink& sink, const std::vector<PackItem>& files, const WideString& base, uint64_t* inputBytes,
                DeltaCounts* counts, std::string* error) {
  const std::unique_ptr<ByteSource> baseSource = OpenFileSource(base, error);
  if (!baseSource) return false;
  FileHasher hasher;
  std::vector<Entry> entries;
  for (const PackItem& file : files) {
    Entry entry;
    entry.path = file.relativePath;
    if (!hasher.Hash(file.fullPath, &entry.size, &entry.sha256, file.sizeHint)) {
      *error = "could not read " + WideToUtf8(securefs::DisplayPath(file.fullPath));
      return false;
    }
    *inputBytes += entry.size;
    entries.push_back(std::move(entry));
  }
  const OpenContent openFile = [&files](size_t index, std::string* openError) {
    return OpenFileSource(files[index].fullPath, openError);
  };
  return WriteDeltaArchive(sink, *baseSource, entries, openFile, CodecWorkers(), counts, error);
}

}  // namespace

int RunPack(const WideString& src, const WideString& out, const std::vector<std::string>& excludes,
            const WideString& base) {
  const ULONGLONG start = GetTickCount64();
  const std::string shownSource = WideToUtf8(src);
  const std::string shownOut = WideToUtf8(out);

  // Relative paths are built from the names the walk meets below the root rather than by resolving each file's
  // final path: the same text for every file the walk takes (it never enters a link), without opening each file
  // once more, and without a window in which a file swapped for a link would be mapped somewhere else.
  // An empty source would be listed as "\*", the root of the current drive; it names no folder, so it is missing.
  if (src.empty()) {
    LogError("pack: could not list %s: %s", shownSource.c_str(), SystemMessage(ERROR_PATH_NOT_FOUND).c_str());
    return 1;
  }
  std::vector<PackItem> files;
  uint32_t walkError = 0;
  const std::unique_ptr<FolderLister> lister = CreateWin32FolderLister();
  if (!WalkTree(*lister, securefs::LongPath(src), &files, &walkError)) {
    LogError("pack: could not list %s: %s", shownSource.c_str(), SystemMessage(walkError).c_str());
    return 1;
  }
  ApplyExclusions(&files, excludes);
  SortForArchive(&files);

  // The long-path form both creates and, after a failure, deletes the archive: deleting by the path as typed would
  // miss an output path longer than MAX_PATH and leave a partial archive behind.
  const WideString outLong = securefs::LongPath(out);
  FileHandle archive(
      CreateFileW(outLong.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!archive) {
    const DWORD code = GetLastError();
    LogError("pack: could not create %s: %lu", shownOut.c_str(), code);
    return 1;
  }

  uint64_t inputBytes = 0;
  uint64_t archiveBytes = 0;
  DeltaCounts counts;
  std::string error;
  bool packed = false;
  {
    const std::unique_ptr<CountingSink> file = CreateFileSink(archive.get());
    BufferedSink sink(*file, kMaxChunkLength);
    packed = base.empty() ? WriteArchive(sink, files, &inputBytes, &error)
                          : WriteDelta(sink, files, base, &inputBytes, &counts, &error);
    if (packed && !sink.Flush()) {
      packed = false;
      error = "write failed";
    }
    archiveBytes = file->bytesWritten();
  }
  // A close that fails may have lost data the cache still held; the archive is then not trustworthy.
  const bool closed = CloseHandle(archive.release()) != FALSE;
  if (packed && !closed) {
    packed = false;
    error = "write failed";
  }
  if (!packed) {
    LogError("pack failed: %s", error.c_str());
    DeleteFileW(outLong.c_str());
    return 1;
  }

  const double seconds = static_cast<double>(GetTickCount64() - start) / 1000.0;
  LogInfo("packed %llu files, %.1f MB into %s (%.1f MB) in %.1fs", static_cast<unsigned long long>(files.size()),
          static_cast<double>(inputBytes) / kBytesPerMegabyte, shownOut.c_str(),
          static_cast<double>(archiveBytes) / kBytesPerMegabyte, seconds);
  if (!base.empty()) {
    LogInfo("delta against %s: %llu files taken from it, %llu patched, %llu whole", WideToUtf8(base).c_str(),
            static_cast<unsigned long long>(counts.references), static_cast<unsigned long long>(counts.patches),
            static_cast<unsigned long long>(counts.whole));
  }
  return 0;
}

}  // namespace kestrova::payload
