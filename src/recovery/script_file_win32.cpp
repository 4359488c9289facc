#include "recovery/script_file.h"

#include <windows.h>

#include <sddl.h>

#include "core/unique_handle_win32.h"
#include "securefs/paths.h"

namespace kestrova::recovery {

bool ReadBoundedFile(const WideString& path, std::vector<unsigned char>* bytes, std::string* error) {
  FileHandle file(CreateFileW(securefs::LongPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) {
    *error = "open failed: " + std::to_string(GetLastError());
    return false;
  }
  // The caller looked at the name before; what counts is the object this handle holds. A link opened as itself
  // would read as the link's own (empty or meaningless) data stream.
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag, sizeof tag) ||
      (tag.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    *error = "not a regular file";
    return false;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) {
    *error = "size unreadable: " + std::to_string(GetLastError());
    return false;
  }
  const std::string problem = ScriptSizeProblem(static_cast<uint64_t>(size.QuadPart));
  if (!problem.empty()) {
    *error = problem;
    return false;
  }
  bytes->resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  const BOOL ok = ReadFile(file.get(), bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr);
  if (!ok || read != bytes->size()) {
    *error = "read failed: " + std::to_string(GetLastError());
    return false;
  }
  return true;
}

bool WriteFileAtomically(const WideString& path, const std::vector<unsigned char>& bytes) {
  const WideString target = securefs::LongPath(path);
  const WideString temp = target + L".new-" + std::to_wstring(GetCurrentProcessId());

  // DeleteFileW removes a link at that name itself, never its target.
  if (!DeleteFileW(temp.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) return false;

  LocalMemory descriptor;
  {
    PSECURITY_DESCRIPTOR converted = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kAdminFileSddl, SDDL_REVISION_1, &converted, nullptr)) {
      return false;
    }
    descriptor.reset(converted);
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  // CREATE_NEW: the temporary file is ours from its first byte. Opening an existing one for appending could leave a
  // stranger's bytes in front of the script, and a link that appeared since the deletion fails here instead of being
  // followed.
  FileHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE | DELETE, 0, &attributes, CREATE_NEW,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;

  DWORD written = 0;
  bool ok = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  if (ok && written != bytes.size()) {
    SetLastError(ERROR_WRITE_FAULT);
    ok = false;
  }
  // MOVEFILE_WRITE_THROUGH makes the rename durable, not the data: without the flush a power cut right after the
  // rename can leave the task pointing at an empty or torn script.
  ok = ok && FlushFileBuffers(file.get());
  if (ok) {
    file.reset();
    ok = MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  }
  if (ok) return true;
  const DWORD error = GetLastError();
  file.reset();
  DeleteFileW(temp.c_str());
  SetLastError(error);
  return false;
}

}  // namespace kestrova::recovery
