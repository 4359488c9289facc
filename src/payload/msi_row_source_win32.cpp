#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <algorithm>

#include "core/unique_handle_win32.h"
#include "payload/archive_source.h"
#include "payload/file_streams.h"

namespace kestrova::payload {

namespace {

// Members are destroyed in reverse order of declaration, so the record closes first, then the view, then the
// database: a half-opened source is cleaned up by its destructor alone.
class MsiRowSource final : public ByteSource {
 public:
  bool Open(const WideString& package, const WideString& row, std::string* error) {
    // MSIDBOPEN_READONLY is persist mode 0 cast to a string pointer. The path goes to the installer as the user
    // gave it, not in long-path form, so the installer resolves it exactly as msiexec would and messages match.
    UINT result = MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, database_.put());
    if (result != ERROR_SUCCESS) {
      *error = "MsiOpenDatabase(" + WideToUtf8(package) + ") failed: " + std::to_string(result);
      return false;
    }
    result = MsiDatabaseOpenViewW(database_.get(), L"SELECT `Data` FROM `Binary` WHERE `Name`=?", view_.put());
    if (result != ERROR_SUCCESS) {
      *error = "MsiDatabaseOpenView failed: " + std::to_string(result);
      return false;
    }
    row_ = row;
    result = FetchRow();
    if (result != ERROR_SUCCESS) {
      *error = "Binary row '" + WideToUtf8(row) + "' not found in " + WideToUtf8(package) + ": " +
               std::to_string(result);
      return false;
    }
    return true;
  }

  // The row is fetched anew from the database opened once, so a second pass reads the very file the first one did.
  bool Rewind() override {
    record_.reset();
    MsiViewClose(view_.get());
    return FetchRow() == ERROR_SUCCESS;
  }

  bool Read(void* buffer, size_t length, size_t* bytesGot) override {
    *bytesGot = 0;
    while (*bytesGot < length) {
      // The count is in and out: it asks for up to `piece` bytes and returns how many came; 0 at the stream's end.
      DWORD piece = static_cast<DWORD>(std::min(length - *bytesGot, kMaxBytesPerCall));
      if (MsiRecordReadStream(record_.get(), 1, static_cast<char*>(buffer) + *bytesGot, &piece) != ERROR_SUCCESS) {
        return false;
      }
      if (piece == 0) break;
      *bytesGot += piece;
    }
    return true;
  }

 private:
  UINT FetchRow() {
    UINT result = ERROR_SUCCESS;
    {
      // The parameter record is needed only for the execution; the fetched row does not refer to it.
      MsiHandle parameters(MsiCreateRecord(1));
      MsiRecordSetStringW(parameters.get(), 1, row_.c_str());
      result = MsiViewExecute(view_.get(), parameters.get());
    }
    if (result == ERROR_SUCCESS) result = MsiViewFetch(view_.get(), record_.put());
    return result;
  }

  WideString row_;
  MsiHandle database_;
  MsiHandle view_;
  MsiHandle record_;
};

}  // namespace

std::unique_ptr<ByteSource> OpenMsiRowSource(const WideString& package, const WideString& row, std::string* error) {
  auto source = std::make_unique<MsiRowSource>();
  if (!source->Open(package, row, error)) return nullptr;
  return source;
}

}  // namespace kestrova::payload
