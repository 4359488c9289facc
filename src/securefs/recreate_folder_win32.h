// The Windows file operations of a recreation (recreate_folder.h): the old folder and the new one are each opened once
// without following reparse points and held, with DELETE access and without delete sharing, so no one else can rename
// or replace them meanwhile; every entry is opened relative to its folder's handle and moved by handle. Windows only.
// The order of the steps and every way back belong to RecreateFolder; who may recreate a folder to the callers.
#pragma once

#include <windows.h>

#include "core/text.h"
#include "core/unique_handle_win32.h"
#include "securefs/folder_handle_win32.h"
#include "securefs/recreate_folder.h"

namespace kestrova::securefs {

// The product's IRecreateFileOps. Codes are Win32 errors (NT statuses converted with RtlNtStatusToDosError); a
// folder that is a reparse point is refused with ERROR_REPARSE_POINT_ENCOUNTERED (4395), a file with ERROR_DIRECTORY
// (267). The new folder is created with kSharedFolderSddl. The handles are closed when the object ends.
class Win32RecreateFileOps : public IRecreateFileOps {
 public:
  uint32_t OpenOld(const WideString& path) override;
  bool CreateNew(const WideString& path) override;
  bool ListEntries(FolderRole folder, std::vector<WideString>& names, uint32_t& error) override;
  uint32_t MoveEntry(FolderRole from, FolderRole to, const WideString& name) override;
  uint32_t RenameFolder(FolderRole folder, const WideString& path) override;
  uint32_t RemoveEmptyFolder(FolderRole folder) override;

 private:
  FileHandle& Held(FolderRole folder) { return folder == FolderRole::Old ? old_ : new_; }

  FileHandle old_;
  FileHandle new_;
  ListingBuffer listing_;
};

}  // namespace kestrova::securefs
