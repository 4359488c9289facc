#include "payload/archive_source.h"

#include <windows.h>

#include "core/unique_handle_win32.h"
#include "payload/archive_pin.h"
#include "payload/file_streams.h"
#include "securefs/paths.h"

namespace kestrova::payload {
namespace {

std::unique_ptr<ByteSource> OpenUnpinned(const ArchiveLocation& location, std::string* error) {
  if (location.hasFromFile) return OpenFileSource(location.fromFile, error);
  if (location.hasDb && location.hasRow) return OpenMsiRowSource(location.db, location.row, error);
  *error = "give --db and --row, or --from-file";
  return nullptr;
}

// The archive read through `inner` while `guard` keeps every writer, and every rename or deletion, off the file it
// lies in.
class PinnedSource final : public ByteSource {
 public:
  PinnedSource(FileHandle guard, std::unique_ptr<ByteSource> inner)
      : guard_(std::move(guard)), inner_(std::move(inner)) {}

  bool Read(void* buffer, size_t length, size_t* bytesGot) override { return inner_->Read(buffer, length, bytesGot); }
  bool Rewind() override { return inner_->Rewind(); }

 private:
  FileHandle guard_;
  std::unique_ptr<ByteSource> inner_;
};

}  // namespace

std::unique_ptr<ByteSource> OpenArchiveSource(const ArchiveLocation& location, std::string* error) {
  if (!location.hasDigest) return OpenUnpinned(location, error);
  const std::optional<std::string> digest = ParseArchiveDigest(location.digest);
  if (!digest) {
    *error = "--archive-sha256 '" + location.digest + "' is not a SHA-256 digest (64 hexadecimal digits)";
    return nullptr;
  }
  if (!location.hasFromFile && !(location.hasDb && location.hasRow)) return OpenUnpinned(location, error);

  // The installer and the file source open the file by its name; this handle, taken first and kept to the end,
  // makes sure that no one holds it for writing meanwhile and that the name cannot be given to another file.
  const WideString& file = location.hasFromFile ? location.fromFile : location.db;
  const std::string shown = WideToUtf8(file);
  FileHandle guard(CreateFileW(securefs::LongPath(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!guard) {
    const DWORD code = GetLastError();
    *error = code == ERROR_SHARING_VIOLATION
                 ? shown + " is open for writing by another process; not reading an archive that could change"
                 : "could not open " + shown + ": " + std::to_string(code);
    return nullptr;
  }
  std::unique_ptr<ByteSource> inner = OpenUnpinned(location, error);
  if (!inner) return nullptr;
  *error = CheckPinnedArchive(*inner, *digest, shown);
  if (!error->empty()) return nullptr;
  return std::make_unique<PinnedSource>(std::move(guard), std::move(inner));
}

}  // namespace kestrova::payload
