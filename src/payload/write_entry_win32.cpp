#include "payload/write_entry.h"

#include <windows.h>

#include "core/unique_handle_win32.h"
#include "payload/file_streams.h"
#include "securefs/folders.h"
#include "securefs/paths.h"

namespace kestrova::payload {

namespace {

// With a session, the folder is the one it knows when it can be, and the written file is handed to it to prove;
// without one, `hasher` proves it before this returns.
bool WriteProduced(const ContentProducer& produce, const Entry& entry, const WideString& target, FileHasher* hasher,
                   std::string* error, bool flush, WriteSession* session) {
  WideString* knownFolder = session ? &session->folder : nullptr;
  const auto shown = [&target] { return WideToUtf8(securefs::DisplayPath(target)); };
  const size_t last = target.find_last_of(L'\\');
  if (last != WideString::npos) {
    const WideView folder(target.data(), last);
    if (!knownFolder || WideView(*knownFolder) != folder) {
      if (!securefs::CreateFolderTree(WideString(folder))) {
        const DWORD code = GetLastError();
        if (error) *error = "could not create the directory of " + shown() + ": " + std::to_string(code);
        return false;
      }
      if (knownFolder) knownFolder->assign(folder);
    }
  }

  bool written = false;
  {
    FileHandle file(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!file) {
      const DWORD code = GetLastError();
      if (error) *error = "could not create " + shown() + ": " + std::to_string(code);
      return false;
    }
    const std::unique_ptr<CountingSink> sink = CreateFileSink(file.get());
    written = produce([&](const uint8_t* data, size_t length) { return sink->Write(data, length); }, error);
    if (written && flush && !FlushFileBuffers(file.get())) {
      const DWORD code = GetLastError();
      if (error) *error = "could not flush " + shown() + ": " + std::to_string(code);
      return false;
    }
  }
  if (!written) return false;

  // The data was proven while it streamed through; reading the closed file back proves what reached the disk. The
  // name is the file just created: opening it answers whether it is still a file, with no query beforehand.
  if (session) {
    session->Prove(target, entry);
    return true;
  }
  uint64_t length = 0;
  Sha256Digest digest{};
  if (!hasher->Hash(target, &length, &digest, entry.size) || length != entry.size || digest != entry.sha256) {
    if (error) *error = shown() + " does not match the archive after writing";
    return false;
  }
  return true;
}

}  // namespace

bool WriteEntry(Reader& reader, const Entry& entry, const WideString& target, FileHasher& hasher, std::string* error,
                bool flush) {
  const ContentProducer fromArchive = [&reader, &entry](const DataCallback& onData, std::string* readError) {
    return reader.ReadData(entry, onData, readError);
  };
  return WriteProduced(fromArchive, entry, target, &hasher, error, flush, nullptr);
}

bool WriteEntry(Reader& reader, const Entry& entry, const WideString& target, WriteSession& session,
                std::string* error) {
  const ContentProducer fromArchive = [&reader, &entry](const DataCallback& onData, std::string* readError) {
    return reader.ReadData(entry, onData, readError);
  };
  return WriteProduced(fromArchive, entry, target, nullptr, error, false, &session);
}

bool WriteEntryFrom(const ContentProducer& produce, const Entry& entry, const WideString& target,
                    WriteSession& session, std::string* error) {
  return WriteProduced(produce, entry, target, nullptr, error, false, &session);
}

bool WriteEntry(Reader& reader, const Entry& entry, const WideString& target, std::string* error) {
  FileHasher hasher;
  return WriteEntry(reader, entry, target, hasher, error);
}

bool FileMatchesEntry(const WideString& path, const Entry& entry, FileHasher& hasher) {
  const DWORD attributes = GetFileAttributesW(securefs::LongPath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  uint64_t length = 0;
  Sha256Digest digest{};
  if (!hasher.Hash(path, &length, &digest, entry.size)) return false;
  return length == entry.size && digest == entry.sha256;
}

WideString EntryFileKey(const std::string& entryPath) {
  WideString key = Utf8ToWide(entryPath);
  if (key.empty()) return key;
  // NTFS compares names through its upper-case table, which the invariant locale's upper-casing follows.
  WideString upper(key.size(), L'\0');
  const int length = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, key.c_str(), static_cast<int>(key.size()),
                                   upper.data(), static_cast<int>(upper.size()), nullptr, nullptr, 0);
  if (length == static_cast<int>(upper.size())) return upper;
  return key;
}

bool FileMatchesEntry(const WideString& path, const Entry& entry) {
  FileHasher hasher;
  return FileMatchesEntry(path, entry, hasher);
}

}  // namespace kestrova::payload
