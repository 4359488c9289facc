// The Windows file operations of a recreation (recreate_folder.h): the old folder and the new one are each opened once
// without following reparse points and held without delete sharing, so no one else can rename or replace them
// meanwhile; every entry is opened relative to its folder's handle and moved by handle. Windows only. The order of the
// steps and every way back belong to RecreateFolder; who may recreate a folder to the callers.
#pragma once

#include <windows.h>

#include "core/text.h"
#include "core/unique_handle_win32.h"
#include "securefs/folder_handle_win32.h"
#include "securefs/recreate_folder.h"

namespace kestrova::securefs {

// The product's IRecreateFileOps. Codes are Win32 errors (NT statuses converted with RtlNtStatusToDosError); a
// folder that is a reparse point is refused with ERROR_REPARSE_POINT_ENCOUNTERED (4395), a file with ERROR_DIRECTORY
// (267). The new folder is created with kSharedFolderSddl. The handles are closed when the object ends; until then
// nobody else can open either folder for DELETE, save for the instant in which a folder changes grip.
class Win32RecreateFileOps : public IRecreateFileOps {
 public:
  uint32_t OpenOld(const WideString& path) override;
  bool CreateNew(const WideString& path) override;
  bool ListEntries(FolderRole folder, std::vector<WideString>& names, uint32_t& error) override;
  uint32_t MoveEntry(FolderRole from, FolderRole to, const WideString& name) override;
  uint32_t RenameFolder(FolderRole folder, const WideString& path) override;
  uint32_t RemoveEmptyFolder(FolderRole folder) override;

 private:
  // How a folder is held. Renaming: with DELETE, so it can rename and remove itself. Receiving: without DELETE, so
  // entries can be moved into it (Windows before 11 22H2 opens the target folder of a rename sharing only read and
  // write, which fails against any handle with DELETE access). Passing: without DELETE and sharing delete, only for
  // the instant of changing between the other two. Renaming and Receiving share read and write, never delete.
  enum class Grip { Renaming, Receiving, Passing };
  struct HeldFolder {
    FileHandle handle;
    Grip grip = Grip::Passing;
  };
  HeldFolder& Held(FolderRole folder) { return folder == FolderRole::Old ? old_ : new_; }
  // Re-holds the folder as `wanted` through its own handle; 0 or the Win32 error, after which the folder is still held,
  // in its old grip or the passing one.
  static DWORD Regrip(HeldFolder& folder, Grip wanted);

  HeldFolder old_;
  HeldFolder new_;
  ListingBuffer listing_;
};

}  // namespace kestrova::securefs
