// The recreation of a folder as a new folder object: its entries move into a fresh sibling, the emptied folder is
// moved aside and the fresh one takes its name, so handles opened on the old object lose their grip. This module owns
// the order of the moves and every way back; it reaches the disk only through IRecreateFileOps. Who may recreate a
// folder, the lock that serialises recreations and the descriptor of the fresh folder are decided by the callers.
#pragma once

#include <cstdint>
#include <vector>

#include "core/text.h"

namespace kestrova::securefs {

// The file operations a recreation needs. Paths are those the recreation was given, extended by "\" and a name;
// the implementation turns them into whatever form its file calls take. Codes are Win32 error codes, 0 for success.
class IRecreateFileOps {
 public:
  virtual ~IRecreateFileOps() = default;
  // The names directly inside `folder`, without "." and "..", in listing order. False with `error` set when the
  // listing could not be completed; `names` is then incomplete and must not be used.
  virtual bool ListEntries(const WideString& folder, std::vector<WideString>& names, uint32_t& error) = 0;
  // Creates a folder that must not exist yet, admin-only with room for users to add entries. On false it has
  // reported why.
  virtual bool CreateSharedFolder(const WideString& path) = 0;
  // Renames an entry within one volume, never replacing an existing entry and never copying.
  virtual uint32_t Move(const WideString& from, const WideString& to) = 0;
  // Removes a folder only when it is empty (ERROR_DIR_NOT_EMPTY, 145, otherwise).
  virtual uint32_t RemoveEmptyFolder(const WideString& path) = 0;
};

// The suffix of one recreation's temporary names: the process id in decimal, "-" and the milliseconds since start-up.
WideString RecreateSuffix(uint32_t processId, uint64_t ticks);

// Replaces the folder at `path` by a new folder holding all its entries, the new one named path + ".new-" + suffix
// until it takes the old one's place, the old one moved aside to path + ".old-" + suffix and then removed once empty.
// True when the new folder stands at `path`; every step is reported through Report. Trailing separators of `path` are
// dropped first (TrimTrailingSeparators), also in the messages.
//
// Nothing is ever lost and nothing that holds an entry is removed:
// - a listing that fails moves nothing ("could not list the entries of <path> (<code>); keeping it in place");
// - any failure before the new folder stands in place moves the entries back into `path`, or, where that fails,
//   reports the folder that still holds them ("could not move every entry back from <new> to <path>" or
//   "could not restore <path> from <old> (<code>); its entries are in <new>");
// - entries that appear in the folder after the listing are moved over once the swap is done; the old folder is
//   removed only when empty, otherwise "left <old> behind: could not remove <old>: <code>" says where the rest are.
bool RecreateFolder(IRecreateFileOps& ops, const WideString& path, const WideString& suffix);

}  // namespace kestrova::securefs
