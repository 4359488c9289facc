#include <windows.h>

#include <set>
#include <vector>

#include "core/log.h"
#include "payload/archive_reader.h"
#include "payload/commands.h"
#include "payload/delta_apply.h"
#include "payload/hash_file.h"
#include "payload/manifest.h"
#include "payload/write_entry.h"
#include "securefs/delete_tree.h"
#include "securefs/folders.h"
#include "securefs/paths.h"
#include "securefs/system_folders.h"

namespace kestrova::payload {

int RunExtract(ByteSource& source, const WideString& out, const WideString& base) {
  const ULONGLONG start = GetTickCount64();
  const WideString folder = securefs::LongPath(out);
  const std::string shown = WideToUtf8(securefs::DisplayPath(folder));

  // The header first: an archive that is not one, or a delta whose base is not here, must not cost the folder.
  Reader reader(source);
  if (!base.empty()) reader.AcceptDelta();
  std::string error;
  if (!reader.ReadHeader(&error)) {
    LogError("extract: %s", error.c_str());
    return 1;
  }
  WriteSession session;
  const WideString baseFolder = base.empty() ? WideString() : securefs::LongPath(base);
  if (reader.isDelta()) {
    const std::string missing = MissingBase(reader, baseFolder);
    if (!missing.empty()) {
      LogError("stage: %s does not hold the base of this update: %s; a full package is needed",
               WideToUtf8(securefs::DisplayPath(baseFolder)).c_str(), missing.c_str());
      return 1;
    }
  }

  // Later entries are decoded while earlier ones are written and read back.
  reader.UseWorkers(CodecWorkers());

  // Clearing is a recursive delete: one mistyped --out must not wipe a drive or a system folder.
  const std::string refusal = securefs::RemovalRefusal(out);
  if (!refusal.empty()) {
    LogError("extract: could not clear %s: %s", shown.c_str(), refusal.c_str());
    return 1;
  }
  std::string removeError;
  if (!securefs::RemoveTree(folder, &removeError)) {
    LogError("extract: could not clear %s: %s", shown.c_str(), removeError.c_str());
    return 1;
  }
  if (!securefs::CreateFolderWithSddl(folder, kExtractedTreeDescriptor)) {
    LogError("extract: could not create %s", shown.c_str());
    return 1;
  }

  std::vector<uint8_t> copyBuffer;
  std::vector<Entry> written;
  // A second entry for the same file would overwrite the first after it was proven, leaving a tree that no longer
  // matches its manifest while the run reports every file verified; such an archive is refused instead.
  std::set<WideString> seen;
  uint64_t totalBytes = 0;
  // The session proves files behind the writes: a file that failed its proof is reported as the first failure, with
  // the count of files before it, just as if the run had stopped there.
  const auto fail = [&session, &written](std::string error) {
    uint64_t before = written.size();
    session.Finish(&before, &error);
    LogError("extract failed after %llu files: %s", static_cast<unsigned long long>(before), error.c_str());
    return 1;
  };
  while (true) {
    Entry entry;
    const RecordOutcome outcome = reader.NextRecord(&entry, &error);
    if (outcome == RecordOutcome::kEnd) break;
    const bool fromBase = outcome == RecordOutcome::kReference || outcome == RecordOutcome::kPatch;
    if ((outcome == RecordOutcome::kEntry || fromBase) && !seen.insert(EntryFileKey(entry.path)).second) {
      error = "duplicate path " + QuotedPath(entry.path);
    } else if (outcome == RecordOutcome::kEntry
                   ? WriteEntry(reader, entry, EntryTargetPath(folder, entry.path), session, &error)
                   : fromBase && WriteEntryFrom(DeltaContent(reader, outcome, entry, baseFolder, copyBuffer), entry,
                                                EntryTargetPath(folder, entry.path), session, &error)) {
      totalBytes += entry.size;
      written.push_back(std::move(entry));
      uint64_t before = 0;
      if (session.Failed(&before, &error)) return fail(error);
      continue;
    }
    return fail(error);
  }
  uint64_t before = 0;
  if (!session.Finish(&before, &error)) return fail(error);

  if (!WriteManifestFile(folder, written)) {
    LogError("extract: could not write %s\\manifest.json", shown.c_str());
    return 1;
  }
  const double seconds = static_cast<double>(GetTickCount64() - start) / 1000.0;
  LogInfo("extracted and verified %llu files, %.1f MB into %s in %.1fs",
          static_cast<unsigned long long>(written.size()), static_cast<double>(totalBytes) / 1048576.0, shown.c_str(),
          seconds);
  return 0;
}

}  // namespace kestrova::payload
