#include "cli/dispatch.h"

#include <cstdio>

#include "appdirswap/repair.h"
#include "appdirswap/staging_commands.h"
#include "appdirswap/staging_paths.h"
#include "appdirswap/swap.h"
#include "cli/install_folder_guard.h"
#include "cli/run_context.h"
#include "cli/run_log.h"
#include "core/log.h"
#include "drivers/commands.h"
#include "drivers/vdd_rules.h"
#include "machine/commands.h"
#include "payload/archive_source.h"
#include "payload/commands.h"
#include "recovery/recovery.h"
#include "securefs/delete_tree.h"
#include "securefs/paths.h"
#include "securefs/secure_folders.h"
#include "securefs/system_folders.h"

namespace kestrova {
namespace {

// A folder argument after clean-up; empty means the command line is unusable for that command.
WideString FolderOption(const Options& options, const char* name) {
  return NormalizeFolderArgument(options.GetOptionWide(name));
}

// The machine's recovery task and port exclusion go first, and only for the machine's own state location; an APPDIR
// that uninstall refuses stops everything before them.
int Uninstall(const Options& options) {
  const WideString appdir = FolderOption(options, "--appdir");
  if (appdir.empty()) return kExitUsage;
  if (machine::RefusesAppDir(appdir)) return 0;
  const StateLocation state = ResolveStateLocation(options);
  if (!state.current_user) {
    recovery::UnregisterRecovery();
    machine::ReleasePorts(state);
  }
  return machine::Uninstall(state, appdir, ResolveUpdatesFolder(options, securefs::DefaultUpdatesFolder()));
}

// The archive options as given: --from-file, or --db and --row, and the digest that pins the archive.
payload::ArchiveLocation ArchiveLocationOf(const Options& options) {
  return {options.HasOption("--from-file"),      options.GetOptionWide("--from-file"),
          options.HasOption("--db"),             options.GetOptionWide("--db"),
          options.HasOption("--row"),            options.GetOptionWide("--row"),
          options.HasOption("--archive-sha256"), options.GetOption("--archive-sha256")};
}

// The archive named by --from-file, or by --db and --row; logs "<command>: <reason>" when it cannot be opened.
std::unique_ptr<payload::ByteSource> OpenSource(const Options& options) {
  std::string error;
  auto source = payload::OpenArchiveSource(ArchiveLocationOf(options), &error);
  if (!source) LogError("%s: %s", options.command.c_str(), error.c_str());
  return source;
}

// --hwid when given, even empty; the product's own device otherwise.
std::string VddHardwareId(const Options& options) {
  return options.HasOption("--hwid") ? options.GetOption("--hwid") : std::string(drivers::kDefaultVddHardwareId);
}

int Rollback(const Options& options) {
  const WideString folder = options.HasOption("--appdir")
                                ? appdirswap::PartialStagingPath(FolderOption(options, "--appdir"))
                                : FolderOption(options, "--dir");
  if (folder.empty()) return kExitUsage;
  const std::string shown = WideToUtf8(folder);
  // One mistyped argument must not wipe a drive or a system folder.
  const std::string refusal = securefs::RemovalRefusal(folder);
  if (!refusal.empty()) {
    LogError("rollback: refusing to remove %s: %s", shown.c_str(), refusal.c_str());
    return kExitSuccess;
  }
  std::string error;
  if (securefs::RemoveTree(securefs::LongPath(folder), &error)) {
    LogInfo("rollback: removed %s", shown.c_str());
  } else {
    LogError("rollback: %s", error.c_str());
  }
  return kExitSuccess;
}

int CheckAppdir(const WideString& appdir) {
  const std::string shown = WideToUtf8(appdir);
  const std::string reason = InstallFolderProblem(appdir);
  if (!reason.empty()) {
    LogError(
        "check-appdir: %s cannot be the install folder: %s. Install Corvella under Program Files or a folder only "
        "administrators can change",
        shown.c_str(), reason.c_str());
    return kExitFailure;
  }
  LogInfo("check-appdir: every folder above %s is admin-only", shown.c_str());
  const std::string createRights = InstallFolderCreateRights(appdir);
  if (!createRights.empty()) LogWarn("check-appdir: %s; updates will not swap there", createRights.c_str());
  return kExitSuccess;
}

}  // namespace

int Dispatch(const Options& options) {
  const std::string& command = options.command;
  if (command == "pack") {
    if (!options.HasOption("--src") || !options.HasOption("--out")) return kExitUsage;
    if (options.HasOption("--base") && options.GetOptionWide("--base").empty()) return kExitUsage;
    return payload::RunPack(FolderOption(options, "--src"), options.GetOptionWide("--out"), options.excludes,
                            options.GetOptionWide("--base"));
  }

  if (!OpenRunLog(options)) std::fputs("warning: could not open the log file; logging to stdout only\n", stderr);
  LogInfo("KestrovaPayload %s", command.c_str());

  const auto lacks = [&](const char* name) { return !options.HasOption(name); };

  if (command == "extract") {
    const WideString out = FolderOption(options, "--out");
    if (out.empty()) return kExitUsage;
    if (!GuardInstallFolder("extract", out)) return kExitFailure;
    const auto source = OpenSource(options);
    return source ? payload::RunExtract(*source, out) : kExitFailure;
  }
  if (command == "verify") {
    const WideString dir = FolderOption(options, "--dir");
    if (dir.empty()) return kExitUsage;
    const bool repair = options.flags.count("--repair") != 0;
    if (repair && !GuardInstallFolder("verify", dir)) return kExitFailure;
    const auto source = OpenSource(options);
    return source ? payload::RunVerify(*source, dir, repair) : kExitFailure;
  }
  if (command == "rollback") return Rollback(options);
  if (command == "stage") {
    const WideString appdir = FolderOption(options, "--appdir");
    if (appdir.empty() || (lacks("--from-file") && (lacks("--db") || lacks("--row")))) return kExitUsage;
    return appdirswap::Stage({ArchiveLocationOf(options), options.GetOption("--reinstall")}, appdir,
                             GuardInstallFolder);
  }
  if (command == "commit-staging") {
    const WideString appdir = FolderOption(options, "--appdir");
    if (appdir.empty()) return kExitUsage;
    if (!GuardInstallFolder("commit-staging", appdir)) return kExitFailure;
    return appdirswap::CommitStaging(appdir, options.GetOption("--version"));
  }
  if (command == "check-appdir") {
    const WideString appdir = FolderOption(options, "--appdir");
    if (appdir.empty()) return kExitUsage;
    return CheckAppdir(appdir);
  }
  if (command == "repair") {
    const WideString appdir = FolderOption(options, "--appdir");
    if (appdir.empty()) return kExitUsage;
    return appdirswap::RunRepair(appdir);
  }
  if (command == "uninstall") return Uninstall(options);
  if (command == "swap") {
    const WideString appdir = FolderOption(options, "--appdir");
    if (appdir.empty()) return kExitUsage;
    return appdirswap::Swap::Run(appdir);
  }
  if (command == "register-recovery") {
    if (lacks("--script")) return kExitUsage;
    return recovery::RegisterRecovery(options.GetOptionWide("--script"),
                                      ResolveUpdatesFolder(options, securefs::DefaultUpdatesFolder()),
                                      ResolvePolicyLocation(options));
  }
  if (command == "install-vdd") {
    if (lacks("--inf-dir")) return kExitUsage;
    return drivers::InstallVdd(WideToUtf8(FolderOption(options, "--inf-dir")), VddHardwareId(options));
  }
  if (command == "remove-vdd") return drivers::RemoveVdd(VddHardwareId(options));
  if (command == "install-npu") {
    if (lacks("--inf")) return kExitUsage;
    return drivers::InstallNpu(options.GetOption("--inf"));
  }
  if (command == "install-cert") {
    if (lacks("--cer")) return kExitUsage;
    return drivers::InstallCert(options.GetOptionWide("--cer"));
  }
  if (command == "unregister-recovery") return recovery::UnregisterRecovery();
  if (command == "reserve-ports") return machine::ReservePorts(StateLocation{});
  if (command == "release-ports") return machine::ReleasePorts(ResolveStateLocation(options));
  if (command == "record-managed") {
    return machine::RecordManaged(ResolveStateLocation(options), options.GetOption("--uilevel"),
                                  options.GetOption("--autoupdate"), options.GetOption("--reinstall"),
                                  options.GetOption("--selfupdate"));
  }
  return kExitUsage;
}

}  // namespace kestrova
