#include "payload/delta_apply.h"

#include <windows.h>

#include <cstring>
#include <thread>
#include <vector>

#include "core/unique_handle_win32.h"
#include "payload/chunk_pipeline.h"
#include "payload/delta_patch.h"
#include "payload/file_streams.h"
#include "payload/manifest.h"
#include "payload/sha256.h"

namespace kestrova::payload {
namespace {

constexpr size_t kCopyPiece = 1u << 20;

// Hands on what `onData` takes while hashing it, so the producer can prove the whole against the entry.
class HashingOutput {
 public:
  explicit HashingOutput(const DataCallback& onData) : onData_(onData) {}
  bool operator()(const uint8_t* data, size_t length) {
    hash_.Add(data, length);
    return onData_(data, length);
  }
  bool Proves(const Entry& entry, std::string* error) {
    Sha256Digest actual{};
    if (hash_.Finish(&actual) && actual == entry.sha256) return true;
    *error = "SHA-256 mismatch in " + QuotedPath(entry.path);
    return false;
  }

 private:
  const DataCallback& onData_;
  Sha256 hash_;
};

// The base file opened for reading, sharing read only: nobody writes it while the new file is made from it.
FileHandle OpenBase(const WideString& path) {
  return FileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// The whole base file mapped for reading: a patch's copies jump about it, and a read call for each would cost more
// than the copy. Patched files are at most kMaxPatchedFileBytes, so the view always fits. Empty for an empty file,
// from which no patch copies anything.
MappedView MapBase(HANDLE file, uint64_t size) {
  if (size == 0) return MappedView();
  const KernelHandle mapping(CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return MappedView();
  return MappedView(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
}

bool CannotReadBase(const Entry& entry, std::string* error) {
  const DWORD code = GetLastError();
  *error = "could not read the base of " + QuotedPath(entry.path) + ": " + std::to_string(code);
  return false;
}

}  // namespace

std::string MissingBase(const Reader& reader, const WideString& baseFolder) {
  // Every base file is read whole before anything is written; the files are shared out over the pack's workers,
  // each hashing with its own buffer, and the first failing file in archive order is the one named.
  const std::vector<BaseFile>& files = reader.baseFiles();
  const size_t workers = std::min<size_t>(CodecWorkers(), files.size());
  std::vector<std::string> reasons(files.size());
  const auto check = [&](size_t first) {
    FileHasher hasher;
    for (size_t i = first; i < files.size(); i += workers) {
      const WideString path = EntryTargetPath(baseFolder, files[i].path);
      const DWORD attributes = GetFileAttributesW(path.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        reasons[i] = QuotedPath(files[i].path) + " is missing";
      } else if (!FileMatchesEntry(path, files[i], hasher)) {
        reasons[i] = QuotedPath(files[i].path) + " differs from the version this update was made from";
      }
    }
  };
  std::vector<std::thread> threads;
  for (size_t w = 1; w < workers; ++w) threads.emplace_back(check, w);
  if (workers > 0) check(0);
  for (std::thread& thread : threads) thread.join();
  for (const std::string& reason : reasons) {
    if (!reason.empty()) return reason;
  }
  return {};
}

ContentProducer DeltaContent(Reader& reader, RecordOutcome outcome, const Entry& entry, const WideString& baseFolder,
                             std::vector<uint8_t>& buffer) {
  const BaseFile& base = reader.baseFiles()[reader.delta().baseIndex];
  const WideString basePath = EntryTargetPath(baseFolder, base.path);
  if (outcome == RecordOutcome::kReference) {
    return [&entry, basePath, &buffer](const DataCallback& onData, std::string* error) {
      const FileHandle file = OpenBase(basePath);
      if (!file) return CannotReadBase(entry, error);
      // No hash on the way: the base file was proven before anything was written and is held against writers
      // now, and the copy is read back and proven once written.
      if (buffer.size() < kCopyPiece) buffer.resize(kCopyPiece);
      for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
          return CannotReadBase(entry, error);
        }
        if (got == 0) return true;
        if (!onData(buffer.data(), got)) {
          *error = "could not write " + QuotedPath(entry.path);
          return false;
        }
      }
    };
  }
  return [&reader, &entry, basePath, baseSize = base.size](const DataCallback& onData, std::string* error) {
    const FileHandle file = OpenBase(basePath);
    if (!file) return CannotReadBase(entry, error);
    const MappedView view = MapBase(file.get(), baseSize);
    if (baseSize > 0 && !view) return CannotReadBase(entry, error);
    const uint8_t* bytes = static_cast<const uint8_t*>(view.get());
    HashingOutput output(onData);
    PatchDecoder decoder(
        [bytes](uint64_t offset, uint8_t* buffer, size_t length) {
          std::memcpy(buffer, bytes + offset, length);
          return true;
        },
        baseSize, entry.size, [&output](const uint8_t* data, size_t length) { return output(data, length); });
    std::string patchError;
    const DataCallback feed = [&decoder, &patchError](const uint8_t* data, size_t length) {
      return decoder.Feed(data, length, &patchError);
    };
    if (!reader.ReadPatch(entry, feed, error)) {
      if (!patchError.empty()) *error = patchError + " in " + QuotedPath(entry.path);
      return false;
    }
    if (!decoder.Finish(&patchError)) {
      *error = patchError + " in " + QuotedPath(entry.path);
      return false;
    }
    return output.Proves(entry, error);
  };
}

}  // namespace kestrova::payload
