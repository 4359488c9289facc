// Entries of APPDIR's family that are not admin-only belong, as far as the engine can tell, to a stranger: they are
// never used as a copy, never count as APPDIR, and are removed before a transaction decides anything, so that none
// can block a recovery or take APPDIR's place. Which entries go is decided here; removing them is the remover's.
#pragma once

#include "appdirswap/layout.h"
#include "appdirswap/transaction.h"

namespace kestrova::appdirswap {

inline constexpr char kForeignReason[] = "not_admin_only";

// A complete and admin-only .staging or .lkg waits to become APPDIR.
bool HasUsableCopy(const LayoutSnapshot& snapshot);

// The foreign entries of `snapshot` that may go, in the order .rejected, .staging.partial, .staging, .lkg, APPDIR,
// each as kForeignReason with its verdict:
//   a .lkg folder only while APPDIR is present: a last-known-good copy is never given up while APPDIR is missing or
//   foreign (a file or a link there is no copy and goes at any time);
//   APPDIR only when HasUsableCopy, so that something takes its place.
std::vector<GcItem> ForeignItems(const LayoutSnapshot& snapshot);

// Hands ForeignItems of result.snapshot to `remover`, in order; each failure is appended to result.foreign_left and
// does not stop the others. Returns whether any entry was handed over (the snapshot is then out of date). Without a
// remover nothing happens.
bool RemoveForeignEntries(const Remover& remover, SwapResult& result);

}  // namespace kestrova::appdirswap
