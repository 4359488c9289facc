#include "securefs/secure_folders.h"

#include <shlobj.h>

#include "core/report.h"
#include "securefs/parent_by_syntax.h"
#include "securefs/paths.h"
#include "securefs/system_folders.h"
#include "securefs/trust_evaluation.h"

namespace kestrova::securefs {
namespace {

constexpr wchar_t kFallbackUpdatesFolder[] = L"C:\\ProgramData\\Kestrova\\Updates";

bool SameFolderText(const WideString& a, const WideString& b) {
  const WideString left = TrimTrailingSeparators(a);
  const WideString right = TrimTrailingSeparators(b);
  return CompareStringOrdinal(left.data(), static_cast<int>(left.size()), right.data(), static_cast<int>(right.size()),
                              TRUE) == CSTR_EQUAL;
}

}  // namespace

WideString DefaultUpdatesFolder() {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
    return kFallbackUpdatesFolder;
  }
  return WideString(folder) + L"\\Kestrova\\Updates";
}

bool SecureUpdatesParent(const WideString& updates) {
  const WideString defaultFolder = DefaultUpdatesFolder();
  // A trailing separator names the same folder; it must not be a way around securing the maker's folder.
  if (!SameFolderText(DisplayPath(LongPath(updates)), defaultFolder)) return true;

  const WideString maker = ParentFolderOf(defaultFolder);
  const WideString above = ParentBySyntax(maker);
  const std::string verdict = CheckPathAndParents(above, WalkMode::ExistingOnly);
  if (!verdict.empty()) {
    Report(kReportError, "%s cannot be repaired: a folder above it is not admin-only: %s", WideToUtf8(maker).c_str(),
           verdict.c_str());
  } else if (TakeBackFolder(maker)) {
    return true;
  }
  // An error line in the run's log like those of the command handlers: the log's report sink writes level 2 through
  // LogError, which this library cannot call itself, as the log lives above it.
  Report(kReportError,
         "recovery: SECURITY: %s stays writable by standard users, so a planted Updates\\%s could run as SYSTEM; not "
         "registering the recovery task (KVRN-11940)",
         WideToUtf8(DisplayPath(maker)).c_str(), "recover.ps1");
  return false;
}

bool SecureUpdatesFolder(const WideString& updates) {
  // Securing removes a folder a stranger owns with its whole tree and rewrites the descriptor of what it keeps, so a
  // mistyped --updates-dir must never reach it with a drive, a system folder or a profile.
  const std::string refusal = RemovalRefusal(updates);
  if (!refusal.empty()) {
    Report(kReportError, "%s cannot be the updates folder: %s", WideToUtf8(updates).c_str(), refusal.c_str());
    return false;
  }
  return SecureUpdatesParent(updates) && SecureCreateFolder(updates) && SecureCreateFolder(updates + L"\\logs");
}

}  // namespace kestrova::securefs
