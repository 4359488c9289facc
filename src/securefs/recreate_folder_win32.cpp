#include "securefs/recreate_folder.h"

#include "securefs/folders.h"
#include "securefs/paths.h"
#include "securefs/secure_folders.h"

namespace kestrova::securefs {
namespace {

// Every call takes the long-path form, so a folder deeper than MAX_PATH is recreated like any other.
class Win32RecreateFileOps : public IRecreateFileOps {
 public:
  bool ListEntries(const WideString& folder, std::vector<WideString>& names, uint32_t& error) override {
    names.clear();
    WIN32_FIND_DATAW found;
    FindHandle find(FindFirstFileExW((LongPath(folder) + L"\\*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0));
    if (!find) {
      error = GetLastError();
      // "\*" matches nothing at all only in an empty drive root, which has no "." entry.
      return error == ERROR_FILE_NOT_FOUND;
    }
    do {
      const WideString name = found.cFileName;
      if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find.get(), &found));
    error = GetLastError();
    // Anything but the normal end means entries may be missing from the list.
    return error == ERROR_NO_MORE_FILES;
  }

  bool CreateSharedFolder(const WideString& path) override { return CreateFolderWithSddl(path, kSharedFolderSddl); }

  uint32_t Move(const WideString& from, const WideString& to) override {
    if (MoveFileExW(LongPath(from).c_str(), LongPath(to).c_str(), 0)) return 0;
    return GetLastError();
  }

  uint32_t RemoveEmptyFolder(const WideString& path) override {
    // RemoveDirectoryW refuses a folder that still holds anything (145), which is the guarantee needed here.
    if (RemoveDirectoryW(LongPath(path).c_str())) return 0;
    return GetLastError();
  }
};

}  // namespace

bool RecreateAdminOnly(const WideString& path) {
  Win32RecreateFileOps ops;
  return RecreateFolder(ops, path, RecreateSuffix(GetCurrentProcessId(), GetTickCount64()));
}

RecreateLock::RecreateLock(DWORD waitMs) : mutex_(CreateMutexW(nullptr, FALSE, kRecreateLockName)) {
  if (!mutex_) return;
  // WAIT_ABANDONED hands over the lock of a holder that died; the folder is judged again under it anyway.
  const DWORD waited = WaitForSingleObject(mutex_.get(), waitMs);
  held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

RecreateLock::~RecreateLock() {
  if (held_) ReleaseMutex(mutex_.get());
}

}  // namespace kestrova::securefs
