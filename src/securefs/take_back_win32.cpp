#include "core/report.h"
#include "securefs/folders.h"
#include "securefs/paths.h"
#include "securefs/secure_folders.h"
#include "securefs/trust_evaluation.h"

namespace kestrova::securefs {
namespace {

// Recreates the folder under the machine-wide lock. Another instance may have taken the folder back while this one
// waited, so it is judged again first and not recreated twice.
bool RecreateUnderLock(const WideString& path) {
  RecreateLock lock;
  if (!lock.Held()) {
    Report(kReportWarning, "could not take the recreate lock for %s", WideToUtf8(path).c_str());
    return false;
  }
  if (CheckFolder(path).empty()) return true;
  return RecreateAdminOnly(path);
}

}  // namespace

bool TakeBackFolder(const WideString& path) {
  const std::string shown = WideToUtf8(path);
  const WideString longPath = LongPath(path);
  // The judgement below decides; a folder that could not be made is reported by it.
  if (GetFileAttributesW(longPath.c_str()) == INVALID_FILE_ATTRIBUTES) CreateFolderWithSddl(path, kSharedFolderSddl);

  std::string verdict = CheckFolder(path);
  if (verdict.empty()) return true;
  Report(kReportWarning, "%s is not admin-only (%s); taking it back", shown.c_str(), verdict.c_str());

  const DWORD attributes = GetFileAttributesW(longPath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    // Missing again: the final judgement reports it.
  } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    if (!Unlink(longPath, attributes)) {
      const DWORD error = GetLastError();
      Report(kReportError, "could not unlink %s: %lu", shown.c_str(), error);
      return false;
    }
    CreateFolderWithSddl(path, kSharedFolderSddl);
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    // Read before anything changes: a recreation that fails half-way must not make a stranger's folder look ours.
    const bool ownedByAdmins = IsOwnedByAdmins(path);
    if (!RecreateUnderLock(path)) {
      if (!ownedByAdmins) {
        Report(kReportError, "%s is owned by a non-admin and could not be recreated; not adopting it", shown.c_str());
        return false;
      }
      Report(kReportError, "could not recreate %s; taking it back in place (a handle opened before keeps its rights)",
             shown.c_str());
      RepairInPlace(path);
    }
  }

  verdict = CheckFolder(path);
  if (!verdict.empty()) {
    Report(kReportError, "%s is still not admin-only: %s", shown.c_str(), verdict.c_str());
    return false;
  }
  Report(kReportInfo, "%s repaired: owner Administrators, protected DACL", shown.c_str());
  return true;
}

}  // namespace kestrova::securefs
