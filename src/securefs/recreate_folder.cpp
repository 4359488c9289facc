#include "securefs/recreate_folder.h"

#include <string>

#include "core/report.h"
#include "securefs/paths.h"

namespace kestrova::securefs {
namespace {

class Recreation {
 public:
  Recreation(IRecreateFileOps& ops, const WideString& path, const WideString& suffix)
      : ops_(ops),
        path_(path),
        fresh_(path + L".new-" + suffix),
        aside_(path + L".old-" + suffix),
        shownPath_(WideToUtf8(path_)),
        shownFresh_(WideToUtf8(fresh_)),
        shownAside_(WideToUtf8(aside_)) {}

  bool Run() {
    // Held before anything is made, so that every later step acts on the folder found here, wherever it is moved.
    uint32_t error = ops_.OpenOld(path_);
    if (error != 0) {
      ReportUnlisted(error);
      return false;
    }
    if (!ops_.CreateNew(fresh_)) return false;

    if (!ops_.ListEntries(FolderRole::Old, names_, error)) {
      // An incomplete listing would leave unnamed entries in the folder that is removed at the end, so nothing moves.
      ReportUnlisted(error);
      ops_.RemoveEmptyFolder(FolderRole::New);
      return false;
    }

    for (size_t index = 0; index < names_.size(); ++index) {
      error = ops_.MoveEntry(FolderRole::Old, FolderRole::New, names_[index]);
      if (error != 0) {
        Report(kReportWarning, "could not move %s out of %s (%lu); keeping it in place",
               WideToUtf8(names_[index]).c_str(), shownPath_.c_str(), static_cast<unsigned long>(error));
        MoveBack(index);
        return false;
      }
    }

    error = ops_.RenameFolder(FolderRole::Old, aside_);
    if (error != 0) {
      Report(kReportWarning, "could not move %s aside (%lu); keeping it in place", shownPath_.c_str(),
             static_cast<unsigned long>(error));
      MoveBack(names_.size());
      return false;
    }

    error = ops_.RenameFolder(FolderRole::New, path_);
    if (error != 0) {
      Report(kReportError, "could not move %s into place (%lu); restoring the old folder", shownFresh_.c_str(),
             static_cast<unsigned long>(error));
      const uint32_t restoreError = ops_.RenameFolder(FolderRole::Old, path_);
      if (restoreError == 0) {
        MoveBack(names_.size());
      } else {
        Report(kReportError, "could not restore %s from %s (%lu); its entries are in %s", shownPath_.c_str(),
               shownAside_.c_str(), static_cast<unsigned long>(restoreError), shownFresh_.c_str());
      }
      return false;
    }

    const size_t moved = names_.size() + MoveLateEntries();
    error = ops_.RemoveEmptyFolder(FolderRole::Old);
    if (error != 0) {
      const std::string text = "could not remove " + shownAside_ + ": " + std::to_string(error);
      Report(kReportWarning, "left %s behind: %s", shownAside_.c_str(), text.c_str());
    }
    // mingw-w64 checks Report's format against the old msvcrt rules, which lack "z"; the formatting itself runs
    // through libstdc++'s vsnprintf, which mingw-w64 maps to its own C99 printf, so %zu is printed right.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-extra-args"
#endif
    Report(kReportInfo, "%s recreated admin-only with its %zu entries moved over", shownPath_.c_str(), moved);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    return true;
  }

 private:
  // Puts the first `count` listed entries back where they came from, in order, stopping at the first failure; the
  // new folder is removed only when every one of them went back (and then only if nothing else appeared in it).
  void MoveBack(size_t count) {
    for (size_t index = 0; index < count; ++index) {
      if (ops_.MoveEntry(FolderRole::New, FolderRole::Old, names_[index]) != 0) {
        Report(kReportError, "could not move every entry back from %s to %s", shownFresh_.c_str(),
               shownPath_.c_str());
        return;
      }
    }
    ops_.RemoveEmptyFolder(FolderRole::New);
  }

  void ReportUnlisted(uint32_t error) {
    Report(kReportWarning, "could not list the entries of %s (%lu); keeping it in place", shownPath_.c_str(),
           static_cast<unsigned long>(error));
  }

  // Entries created in the folder after it was listed went aside with it. They join the others in the new folder;
  // one that cannot move (its name now taken, or held open) stays in the old folder, which is then left behind.
  size_t MoveLateEntries() {
    std::vector<WideString> late;
    uint32_t error = 0;
    if (!ops_.ListEntries(FolderRole::Old, late, error)) return 0;
    size_t moved = 0;
    for (const WideString& name : late) {
      if (ops_.MoveEntry(FolderRole::Old, FolderRole::New, name) == 0) ++moved;
    }
    return moved;
  }

  IRecreateFileOps& ops_;
  const WideString path_;
  const WideString fresh_;
  const WideString aside_;
  const std::string shownPath_;
  const std::string shownFresh_;
  const std::string shownAside_;
  std::vector<WideString> names_;
};

}  // namespace

WideString RecreateSuffix(uint32_t processId, uint64_t ticks) {
  return Utf8ToWide(std::to_string(processId) + "-" + std::to_string(ticks));
}

bool RecreateFolder(IRecreateFileOps& ops, const WideString& path, const WideString& suffix) {
  // With a trailing separator the temporary names would fall inside the folder itself ("C:\x\.new-..."), and the
  // new folder would be listed and moved into itself.
  return Recreation(ops, TrimTrailingSeparators(path), suffix).Run();
}

}  // namespace kestrova::securefs
