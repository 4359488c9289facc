#include "securefs/secure_folders.h"
#include "securefs/secure_create_win32.h"

#include <sddl.h>

#include "core/report.h"
#include "securefs/delete_tree.h"
#include "securefs/folders.h"
#include "securefs/parent_by_syntax.h"
#include "securefs/paths.h"
#include "securefs/system_folders.h"
#include "securefs/trust_evaluation.h"

namespace kestrova::securefs {
namespace {

class JudgedSteps : public SecureCreateSteps {
 public:
  explicit JudgedSteps(ParentJudge judge) : judge_(judge) {}
  std::string JudgeParent(const WideString& parent, WalkMode mode) override { return judge_(parent, mode); }

 private:
  ParentJudge judge_;
};

bool ParentIsAdminOnly(SecureCreateSteps& steps, const WideString& path, const WideString& parent, WalkMode mode) {
  const std::string verdict = steps.JudgeParent(parent, mode);
  if (verdict.empty()) return true;
  Report(kReportError, "%s cannot be secured: a folder above it is not admin-only: %s", WideToUtf8(path).c_str(),
         verdict.c_str());
  return false;
}

// A folder a non-administrator owns may hold anything that user planted; none of it is kept. Its whole tree goes,
// so a drive root, a system folder or a profile is never taken for one, whatever its owner.
bool ReplaceForeignFolder(const WideString& path) {
  const std::string refusal = RemovalRefusal(path);
  if (!refusal.empty()) {
    Report(kReportError, "not removing %s: %s", WideToUtf8(path).c_str(), refusal.c_str());
    return false;
  }
  std::string text;
  if (!RemoveTree(path, &text)) {
    Report(kReportError, "%s", text.c_str());
    return false;
  }
  return CreateFolderWithSddl(path, kAdminFolderSddl);
}

// What stands at the path once it is opened as itself; the owner is asked of, and the descriptor written to, that
// one object, so a junction swapped in at the name between the two is never followed.
struct OpenedFolder {
  FileHandle handle;
  bool plain = false;
};

OpenedFolder OpenFolder(SecureCreateSteps& steps, const WideString& longPath) {
  OpenedFolder folder;
  folder.handle = steps.Open(longPath);
  folder.plain = folder.handle && IsPlainFolderHandle(folder.handle.get());
  return folder;
}

}  // namespace

std::string SecureCreateSteps::JudgeParent(const WideString& parent, WalkMode mode) {
  return CheckPathAndParents(parent, mode);
}
FileHandle SecureCreateSteps::Open(const WideString& longPath) { return OpenForSecuring(longPath); }
bool SecureCreateSteps::OwnedByAdmins(HANDLE folder) { return IsOwnedByAdmins(folder); }
bool SecureCreateSteps::Secure(HANDLE folder, const WideString& path) {
  return ApplySddl(folder, path, kAdminFolderSddl);
}

bool SecureCreateFolder(const WideString& path) {
  SecureCreateSteps steps;
  return SecureCreateFolderWith(path, steps);
}

bool SecureCreateFolderWith(const WideString& path, ParentJudge judge) {
  JudgedSteps steps(judge);
  return SecureCreateFolderWith(path, steps);
}

bool SecureCreateFolderWith(const WideString& path, SecureCreateSteps& steps) {
  const std::string shown = WideToUtf8(path);
  const WideString parent = ParentBySyntax(path);
  if (!ParentIsAdminOnly(steps, path, parent, WalkMode::MissingAllowed)) return false;
  // Missing parents inherit from the folders above, which were just judged admin-only; whether they came into being
  // is decided by the judgement that follows, which no longer accepts a missing folder.
  CreateFolderTree(LongPath(parent));
  if (!ParentIsAdminOnly(steps, path, parent, WalkMode::ExistingOnly)) return false;

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
  if (attributes != INVALID_FILE_ATTRIBUTES && IsPlainFolder(attributes)) {
    OpenedFolder existing = OpenFolder(steps, longPath);
    // A folder that cannot be opened to have its owner read counts as a stranger's, as an unreadable owner does.
    if (existing.plain && steps.OwnedByAdmins(existing.handle.get())) {
      // Written again on every run: a folder that an administrator owns may still have had its DACL widened.
      return steps.Secure(existing.handle.get(), path);
    }
    existing.handle.reset();
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
  const bool created = CreateDirectoryW(longPath.c_str(), &security) != FALSE;
  const DWORD error = created ? ERROR_SUCCESS : GetLastError();
  if (created || error == ERROR_ALREADY_EXISTS) {
    OpenedFolder folder = OpenFolder(steps, longPath);
    const DWORD openError = folder.handle ? ERROR_SUCCESS : GetLastError();
    if (created && !folder.handle) {
      Report(kReportError, "could not open %s: %lu", shown.c_str(), openError);
      return false;
    }
    // The folder just made is ours whatever owner the token gave it; the descriptor below makes it Administrators.
    if (folder.plain && created) return steps.Secure(folder.handle.get(), path);
    if (folder.plain) {
      if (steps.OwnedByAdmins(folder.handle.get())) return steps.Secure(folder.handle.get(), path);
      folder.handle.reset();
      Report(kReportWarning, "%s appeared, not owned by SYSTEM or Administrators; recreating it", shown.c_str());
      return ReplaceForeignFolder(path);
    }
    if (created) {
      Report(kReportError, "%s is no longer a plain directory; not securing it", shown.c_str());
      return false;
    }
  }
  Report(kReportError, "could not create %s: %lu", shown.c_str(), error);
  return false;
}

}  // namespace kestrova::securefs
