#include "payload/pack_walk.h"

#include <windows.h>

#include "core/unique_handle_win32.h"

namespace kestrova::payload {

namespace {

class Win32FolderLister final : public FolderLister {
 public:
  bool List(const WideString& folder, std::vector<ListedItem>* items, uint32_t* error) override {
    items->clear();
    WideString pattern = folder;
    if (pattern.empty() || pattern.back() != L'\\') pattern.push_back(L'\\');
    pattern.push_back(L'*');
    WIN32_FIND_DATAW found;
    // FindExInfoBasic skips the 8.3 name we never use; large fetch asks the file system for bigger batches.
    FindHandle find(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                     FIND_FIRST_EX_LARGE_FETCH));
    if (!find) {
      const DWORD code = GetLastError();
      // A drive root has no "." entry, so an empty one lists nothing at all and reports "file not found", which a
      // missing folder may report too: only the folder's own attributes tell the two apart.
      if (code == ERROR_FILE_NOT_FOUND) {
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
      }
      *error = code;
      return false;
    }
    do {
      const WideString name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      ListedItem item;
      item.name = name;
      item.isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      item.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
      // For a reparse point the listing carries the tag in dwReserved0, so links are known without opening them.
      if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        item.isLink = found.dwReserved0 == IO_REPARSE_TAG_SYMLINK || found.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT;
      }
      items->push_back(std::move(item));
    } while (FindNextFileW(find.get(), &found));
    const DWORD code = GetLastError();
    if (code != ERROR_NO_MORE_FILES) {
      *error = code;
      return false;
    }
    return true;
  }
};

}  // namespace

std::unique_ptr<FolderLister> CreateWin32FolderLister() { return std::make_unique<Win32FolderLister>(); }

}  // namespace kestrova::payload
