#include <windows.h>

#include <algorithm>

#include "core/unique_handle_win32.h"
#include "payload/file_streams.h"
#include "payload/manifest.h"

namespace kestrova::payload {

bool WriteManifestFile(const WideString& folder, const std::vector<Entry>& entries) {
  const WideString target = folder + L"\\manifest.json";
  // Delete first and then create-new, rather than truncating in place: a file that someone holds open without
  // delete sharing makes the deletion fail, so we never half-overwrite a manifest another process is reading,
  // and a file that appears between the two calls makes the creation fail instead of being written through.
  if (!DeleteFileW(target.c_str())) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) return false;
  }
  FileHandle file(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;

  const std::string text = FormatManifest(entries);
  size_t offset = 0;
  while (offset < text.size()) {
    const DWORD piece = static_cast<DWORD>(std::min<size_t>(text.size() - offset, kMaxBytesPerCall));
    DWORD written = 0;
    if (!WriteFile(file.get(), text.data() + offset, piece, &written, nullptr) || written != piece) return false;
    offset += written;
  }
  return true;
}

}  // namespace kestrova::payload
