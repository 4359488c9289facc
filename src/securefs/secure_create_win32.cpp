#include "securefs/secure_folders.h"
#include "securefs/secure_create_win32.h"

#include <sddl.h>

#include "core/report.h"
#include "securefs/delete_tree.h"
#include "securefs/folders.h"
#include "securefs/parent_by_syntax.h"
#include "securefs/paths.h"
#include "securefs/trust_evaluation.h"

namespace kestrova::securefs {
namespace {

bool ParentIsAdminOnly(ParentJudge judge, const WideString& path, const WideString& parent, WalkMode mode) {
  const std::string verdict = judge(parent, mode);
  if (verdict.empty()) return true;
  Report(kReportError, "%s cannot be secured: a folder above it is not admin-only: %s", WideToUtf8(path).c_str(),
         verdict.c_str());
  return false;
}

// A folder a non-administrator owns may hold anything that user planted; none of it is kept.
bool ReplaceForeignFolder(const WideString& path) {
  std::string text;
  if (!RemoveTree(path, &text)) {
    Report(kReportError, "%s", text.c_str());
    return false;
  }
  return CreateFolderWithSddl(path, kAdminFolderSddl);
}

}  // namespace

bool SecureCreateFolder(const WideString& path) { return SecureCreateFolderWith(path, &CheckPathAndParents); }

bool SecureCreateFolderWith(const WideString& path, ParentJudge judge) {
  const std::string shown = WideToUtf8(path);
  const WideString parent = ParentBySyntax(path);
  if (!ParentIsAdminOnly(judge, path, parent, WalkMode::MissingAllowed)) return false;
  // Missing parents inherit from the folders above, which were just judged admin-only; whether they came into being
  // is decided by the judgement that follows, which no longer accepts a missing folder.
  CreateFolderTree(LongPath(parent));
  if (!ParentIsAdminOnly(judge, path, parent, WalkMode::ExistingOnly)) return false;

  const WideString longPath = LongPath(path);
  DWORD attributes = GetFileAttributesW(longPath.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    Report(kReportWarning, "%s is a reparse point; removing the link", shown.c_str());
    if (!Unlink(longPath, attributes)) {
      const DWORD error = GetLastError();
      Report(kReportError, "could not unlink %s: %lu", shown.c_str(), error);
      return false;
    }
  }

  attributes = GetFileAttributesW(longPath.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && IsPlainFolder(attributes) && !IsOwnedByAdmins(path)) {
    Report(kReportWarning, "%s is not owned by SYSTEM or Administrators; recreating it", shown.c_str());
    return ReplaceForeignFolder(path);
  }

  LocalMemory descriptor;
  PSECURITY_DESCRIPTOR converted = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kAdminFolderSddl, SDDL_REVISION_1, &converted,
                                                            nullptr)) {
    Report(kReportError, "could not parse SDDL for %s", shown.c_str());
    return false;
  }
  descriptor.reset(converted);
  SECURITY_ATTRIBUTES security{sizeof security, descriptor.get(), FALSE};
  if (CreateDirectoryW(longPath.c_str(), &security)) return ApplySddl(nullptr, path, kAdminFolderSddl);
  const DWORD error = GetLastError();

  if (error == ERROR_ALREADY_EXISTS) {
    attributes = GetFileAttributesW(longPath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && IsPlainFolder(attributes)) {
      // Written again on every run: a folder that an administrator owns may still have had its DACL widened.
      if (IsOwnedByAdmins(path)) return ApplySddl(nullptr, path, kAdminFolderSddl);
      Report(kReportWarning, "%s appeared, not owned by SYSTEM or Administrators; recreating it", shown.c_str());
      return ReplaceForeignFolder(path);
    }
  }
  Report(kReportError, "could not create %s: %lu", shown.c_str(), error);
  return false;
}

}  // namespace kestrova::securefs
