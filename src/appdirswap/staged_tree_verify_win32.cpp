#include "appdirswap/staged_tree_verify.h"

#include <windows.h>

#include <vector>

#include "appdirswap/file_system.h"
#include "core/log.h"
#include "core/unique_handle_win32.h"
#include "payload/manifest.h"
#include "payload/sha256.h"
#include "securefs/paths.h"

namespace kestrova::appdirswap {
namespace {

constexpr char kManifestUnreadable[] = "manifest.json is missing or unreadable";

bool IsPlainFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return false;
  return (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

// The whole manifest, read with one call; false for a link, an empty file or one above the cap.
bool ReadManifest(const WideString& path, std::string& text) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file || !IsPlainFile(file.get())) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 1 ||
      static_cast<uint64_t>(size.QuadPart) > kMaxManifestBytes) {
    return false;
  }
  text.resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  return ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr) && read == text.size();
}

// Whether the file is a regular file (opened as itself) of exactly the listed length and digest.
bool FileMatches(const WideString& path, const payload::Entry& entry, std::vector<uint8_t>& buffer) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file || !IsPlainFile(file.get())) return false;
  payload::Sha256 hash;
  if (!hash.present()) return false;
  uint64_t length = 0;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer.data(), kVerifyChunkBytes, &read, nullptr)) return false;
    if (read == 0) break;
    hash.Add(buffer.data(), read);
    length += read;
  }
  payload::Sha256Digest digest{};
  return hash.Finish(&digest) && length == entry.size && digest == entry.sha256;
}

}  // namespace

VerifyResult VerifyStagedTree(const WideString& folder) {
  VerifyResult result;
  std::string text;
  if (!ReadManifest(ToLongPathForm(folder + L"\\manifest.json"), text)) {
    result.detail = kManifestUnreadable;
    return result;
  }
  std::vector<payload::Entry> entries;
  std::string error;
  if (!payload::ParseManifest(text, &entries, &error)) {
    result.detail = "manifest.json: " + error;
    return result;
  }
  result.parsed = true;
  result.files = entries.size();
  if (entries.empty()) {
    result.detail = "manifest.json lists no files";
    return result;
  }

  std::vector<uint8_t> buffer(kVerifyChunkBytes);
  for (const payload::Entry& entry : entries) {
    const WideString path = ToLongPathForm(payload::EntryTargetPath(folder, entry.path));
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
      ++result.missing;
    } else if (!FileMatches(path, entry, buffer)) {
      ++result.damaged;
    } else {
      continue;
    }
    if (result.missing + result.damaged == 1) result.detail = entry.path;
  }
  return result;
}

bool VerifyAndLog(const WideString& folder) {
  const ULONGLONG started = GetTickCount64();
  const VerifyResult result = VerifyStagedTree(folder);
  const double seconds = static_cast<double>(GetTickCount64() - started) / 1000.0;
  const std::string shown = WideToUtf8(securefs::DisplayPath(folder));
  const bool has_detail = !result.detail.empty();
  // The log's formatter takes the C runtime's conversions, which know %llu but not the %zu the text would suggest.
  LogInfo("swap: verified %llu files of %s in %.1fs: %llu missing, %llu damaged%s%s",
          static_cast<unsigned long long>(result.files), shown.c_str(), seconds,
          static_cast<unsigned long long>(result.missing), static_cast<unsigned long long>(result.damaged),
          has_detail ? "; first: " : "", result.detail.c_str());
  return result.parsed && result.files > 0 && result.missing == 0 && result.damaged == 0;
}

}  // namespace kestrova::appdirswap
