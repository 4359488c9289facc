#include <windows.h>

#include <set>
#include <vector>

#include "core/log.h"
#include "payload/archive_reader.h"
#include "payload/commands.h"
#include "payload/hash_file.h"
#include "payload/manifest.h"
#include "payload/write_entry.h"
#include "securefs/folders.h"
#include "securefs/paths.h"

namespace kestrova::payload {

namespace {

constexpr wchar_t kRepairSuffix[] = L".kvtmp";

}  // namespace

int RunVerify(ByteSource& source, const WideString& dir, bool repair) {
  const ULONGLONG start = GetTickCount64();
  const WideString folder = securefs::LongPath(dir);
  const std::string shown = WideToUtf8(securefs::DisplayPath(folder));

  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !securefs::IsPlainFolder(attributes)) {
    if (!repair) {
      LogError("verify: %s is not a directory", shown.c_str());
      return 1;
    }
    // Creation fails on an existing file or reparse-point folder, so nothing is ever written through a link.
    if (!securefs::CreateFolderWithSddl(folder, kExtractedTreeDescriptor)) {
      LogError("verify: could not create %s", shown.c_str());
      return 1;
    }
  }

  Reader reader(source);
  std::string error;
  if (!reader.ReadHeader(&error)) {
    LogError("verify: %s", error.c_str());
    return 1;
  }
  // The archive's later entries are decoded and hashed while the installed files are read.
  reader.UseWorkers(CodecWorkers());

  FileHasher hasher;
  std::vector<Entry> entries;  // only kept for the manifest that a repair rewrites
  uint64_t damaged = 0;
  uint64_t repaired = 0;
  // With two entries for one file, the second repair would overwrite the first and the run would still end in
  // success; such an archive describes no tree, and is refused.
  std::set<WideString> seen;
  while (true) {
    Entry entry;
    const RecordOutcome outcome = reader.NextRecord(&entry, &error);
    if (outcome == RecordOutcome::kEnd) break;
    if (outcome != RecordOutcome::kEntry) {
      LogError("verify: %s", error.c_str());
      return 1;
    }
    if (!seen.insert(EntryFileKey(entry.path)).second) {
      LogError("verify: duplicate path %s", QuotedPath(entry.path).c_str());
      return 1;
    }
    const WideString target = EntryTargetPath(folder, entry.path);
    if (!FileMatchesEntry(target, entry, hasher)) {
      ++damaged;
      const std::string shownTarget = WideToUtf8(securefs::DisplayPath(target));
      if (repair) {
        // The repaired file reaches its name only once it is complete and proven, and the move replaces the damaged
        // one in a single step, so an interrupted repair never leaves a half-written file under the real name.
        const WideString repairFile = target + kRepairSuffix;
        std::string writeError;
        DWORD code = 0;
        bool done = WriteEntry(reader, entry, repairFile, hasher, &writeError, /*flush=*/true);
        if (!done) {
          code = GetLastError();
        } else if (!MoveFileExW(repairFile.c_str(), target.c_str(),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
          code = GetLastError();
          done = false;
        }
        if (!done) {
          LogError("verify: could not repair %s: %s (%lu)", shownTarget.c_str(), writeError.c_str(), code);
          DeleteFileW(repairFile.c_str());
          return 1;
        }
        LogInfo("verify: repaired %s", shownTarget.c_str());
        ++repaired;
        entries.push_back(std::move(entry));
        continue;
      }
      LogWarn("verify: %s is missing or damaged", shownTarget.c_str());
    }
    // The archive's own data for the entry is still read: it proves the archive and moves the stream on.
    if (!reader.ReadData(entry, DataCallback{}, &error)) {
      LogError("verify: %s", error.c_str());
      return 1;
    }
    if (repair) entries.push_back(std::move(entry));
  }

  if (repair && !WriteManifestFile(folder, entries)) {
    LogWarn("verify: could not rewrite %s\\manifest.json", shown.c_str());
  }
  const double seconds = static_cast<double>(GetTickCount64() - start) / 1000.0;
  LogInfo("verified %llu files in %s in %.1fs: %llu damaged, %llu repaired",
          static_cast<unsigned long long>(reader.entriesRead()), shown.c_str(), seconds,
          static_cast<unsigned long long>(damaged), static_cast<unsigned long long>(repaired));
  return damaged == repaired ? 0 : 1;
}

}  // namespace kestrova::payload
