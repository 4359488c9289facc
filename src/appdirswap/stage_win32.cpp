#include "appdirswap/staging_commands.h"

#include <windows.h>

#include "appdirswap/cleanup.h"
#include "appdirswap/holders.h"
#include "appdirswap/layout.h"
#include "appdirswap/staging_moves.h"
#include "appdirswap/staging_paths.h"
#include "appdirswap/win32_file_system.h"
#include "core/log.h"
#include "payload/commands.h"
#include "securefs/paths.h"

namespace kestrova::appdirswap {
namespace {

bool IsPlainDirectory(const WideString& path) {
  const DWORD attributes = GetFileAttributesW(securefs::LongPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

std::unique_ptr<payload::ByteSource> OpenPayload(const StageRequest& request) {
  std::string error;
  auto source = payload::OpenArchiveSource(request.archive, &error);
  if (!source) LogError("stage: %s", error.c_str());
  return source;
}

// A reinstall that finds APPDIR healthy must not have it replaced by an older staged tree waiting beside it.
int DeleteStaleStaging(const WideString& appdir, const LayoutSnapshot& snapshot) {
  const std::string shown = WideToUtf8(snapshot.paths.staging);
  const std::string version = WideToUtf8(snapshot.staging_version);
  uint32_t removal_error = 0;
  const Remover remover = [&removal_error](const GcItem& item) {
    if (!item.verdict.empty()) return LoggingRemover("stage")(item);
    return RemoveGcItem(item, removal_error);
  };
  Win32FileSystem fs;
  const StagingMoveResult result = DeleteStaleStagingUnderLock(appdir, fs, RetryBudgets{}, remover);
  if (result.step == StagingStep::Done) {
    LogInfo("stage: deleted the stale %s (version '%s')", shown.c_str(), version.c_str());
    return 0;
  }
  const uint32_t lock_error = result.step == StagingStep::LockNotTaken ? result.error : 0;
  if (lock_error == kErrorSharingViolation) LogHolders("stage", {snapshot.paths.lock});
  LogError("stage: could not delete the stale %s (version '%s'): lock error %u, error %u", shown.c_str(),
           version.c_str(), lock_error, removal_error);
  return 1;
}

}  // namespace

int Stage(const StageRequest& request, const WideString& appdir, const InstallFolderGuardFn& guard) {
  if (!guard || !guard("stage", appdir)) return 1;
  // A drive root, a share or a relative path has no sibling folders; "C:\" would otherwise stage into
  // "C:\.staging.partial".
  LayoutPaths paths;
  if (!ParseAppdir(appdir, paths)) {
    LogError("stage: %s is not a usable APPDIR", WideToUtf8(securefs::DisplayPath(appdir)).c_str());
    return 1;
  }

  bool healthy = false;
  if (!request.reinstall.empty() && IsPlainDirectory(appdir)) {
    const auto source = OpenPayload(request);
    if (!source) return 1;
    healthy = payload::RunVerify(*source, appdir, /*repair=*/false) == 0;
    LogInfo("stage: repair found %s %s", WideToUtf8(appdir).c_str(),
            healthy ? "healthy; nothing to stage" : "damaged; staging a fresh copy");
  }

  Win32FileSystem fs;
  const LayoutSnapshot snapshot = TakeSnapshot(appdir, fs);
  if (healthy && snapshot.staging_state != FolderState::Absent) return DeleteStaleStaging(appdir, snapshot);
  if (healthy) return 0;

  const auto source = OpenPayload(request);
  if (!source) return 1;
  return payload::RunExtract(*source, PartialStagingPath(appdir), appdir);
}

}  // namespace kestrova::appdirswap
