// The recreation of a folder as a new folder object: its entries move into a fresh sibling, the emptied folder is
// moved aside and the fresh one takes its name, so handles opened on the old object lose their grip. This module owns
// the order of the moves and every way back; it reaches the disk only through IRecreateFileOps. Who may recreate a
// folder, the lock that serialises recreations and the descriptor of the fresh folder are decided by the callers.
#pragma once

#include <cstdint>
#include <vector>

#include "core/text.h"

namespace kestrova::securefs {

// The two folder objects of a recreation: the one being replaced (which later stands aside and is removed) and the
// new one (which takes its place). An implementation holds each from the moment it has it until the recreation ends
// and acts on that object wherever it stands, never again by the name it was found under.
enum class FolderRole { Old, New };

// The file operations a recreation needs. Codes are Win32 error codes, 0 for success. Entries are named by their bare
// names inside the folder that holds them; paths are those the recreation was given, and the implementation turns
// them into whatever form its file calls take.
class IRecreateFileOps {
 public:
  virtual ~IRecreateFileOps() = default;
  // Takes hold of the folder at `path` as the old folder, refusing anything but a plain folder (a reparse point is
  // never followed). The hold keeps others from renaming or replacing it while the recreation runs.
  virtual uint32_t OpenOld(const WideString& path) = 0;
  // Creates the new folder at `path`, which must not exist yet, admin-only with room for users to add entries, and
  // takes hold of it in the same way. On false it has reported why and left nothing behind that it made.
  virtual bool CreateNew(const WideString& path) = 0;
  // The names directly inside the folder, without "." and "..", in listing order. False with `error` set when the
  // listing could not be completed; `names` is then incomplete and must not be used.
  virtual bool ListEntries(FolderRole folder, std::vector<WideString>& names, uint32_t& error) = 0;
  // Moves the entry `name` out of one folder into the other under the same name, never replacing an existing entry,
  // never copying and never following a link (a link moves as itself).
  virtual uint32_t MoveEntry(FolderRole from, FolderRole to, const WideString& name) = 0;
  // Renames the folder itself to `path`, beside where it stands, never replacing an existing entry.
  virtual uint32_t RenameFolder(FolderRole folder, const WideString& path) = 0;
  // Removes the folder only when it is empty (ERROR_DIR_NOT_EMPTY, 145, otherwise) and then lets go of it.
  virtual uint32_t RemoveEmptyFolder(FolderRole folder) = 0;
};

// The suffix of one recreation's temporary names: the process id in decimal, "-" and the milliseconds since start-up.
WideString RecreateSuffix(uint32_t processId, uint64_t ticks);

// Replaces the folder at `path` by a new folder holding all its entries, the new one named path + ".new-" + suffix
// until it takes the old one's place, the old one moved aside to path + ".old-" + suffix and then removed once empty.
// True when the new folder stands at `path`; every step is reported through Report. Trailing separators of `path` are
// dropped first (TrimTrailingSeparators), also in the messages.
//
// The old folder is taken hold of first, then the new one is made; from then on every step goes through the two held
// folder objects, so a folder put in the place of `path` meanwhile is never emptied or filled.
//
// Nothing is ever lost and nothing that holds an entry is removed:
// - a folder that cannot be taken hold of or listed moves nothing
//   ("could not list the entries of <path> (<code>); keeping it in place");
// - any failure before the new folder stands in place moves the entries back into the old folder, or, where that fails,
//   reports the folder that still holds them ("could not move every entry back from <new> to <path>" or
//   "could not restore <path> from <old> (<code>); its entries are in <new>");
// - entries that appear in the folder after the listing are moved over once the swap is done; the old folder is
//   removed only when empty, otherwise "left <old> behind: could not remove <old>: <code>" says where the rest are.
bool RecreateFolder(IRecreateFileOps& ops, const WideString& path, const WideString& suffix);

}  // namespace kestrova::securefs
