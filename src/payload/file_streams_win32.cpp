#include "payload/file_streams.h"

#include <algorithm>

#include "core/unique_handle_win32.h"
#include "securefs/paths.h"

namespace kestrova::payload {

namespace {

class FileSource final : public ByteSource {
 public:
  explicit FileSource(FileHandle file) : file_(std::move(file)) {}

  bool Read(void* buffer, size_t length, size_t* bytesGot) override {
    *bytesGot = 0;
    while (*bytesGot < length) {
      // ReadFile counts in DWORDs; a larger request is served in pieces.
      const DWORD piece = static_cast<DWORD>(std::min(length - *bytesGot, kMaxBytesPerCall));
      DWORD got = 0;
      if (!ReadFile(file_.get(), static_cast<uint8_t*>(buffer) + *bytesGot, piece, &got, nullptr)) return false;
      *bytesGot += got;
      // A disk file reads short only at its end; asking again would only hear so.
      if (got < piece) break;
    }
    return true;
  }

  bool Rewind() override {
    LARGE_INTEGER start{};
    return SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN) != 0;
  }

 private:
  FileHandle file_;
};

class FileSink final : public CountingSink {
 public:
  explicit FileSink(HANDLE file) : file_(file) {}

  bool Write(const void* data, size_t length) override {
    const uint8_t* next = static_cast<const uint8_t*>(data);
    size_t remaining = length;
    while (remaining > 0) {
      const DWORD piece = static_cast<DWORD>(std::min(remaining, kMaxBytesPerCall));
      DWORD written = 0;
      // A short write means the volume is full or the handle was cut off; retrying would only hide that.
      if (!WriteFile(file_, next, piece, &written, nullptr) || written != piece) return false;
      bytesWritten_ += written;
      next += written;
      remaining -= written;
    }
    return true;
  }

  uint64_t bytesWritten() const override { return bytesWritten_; }

 private:
  HANDLE file_;
  uint64_t bytesWritten_ = 0;
};

}  // namespace

std::unique_ptr<ByteSource> OpenFileSource(const WideString& path, std::string* error) {
  FileHandle file(CreateFileW(securefs::LongPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) {
    const DWORD code = GetLastError();
    *error = "could not open " + WideToUtf8(path) + ": " + std::to_string(code);
    return nullptr;
  }
  return std::make_unique<FileSource>(std::move(file));
}

std::unique_ptr<CountingSink> CreateFileSink(HANDLE file) { return std::make_unique<FileSink>(file); }

}  // namespace kestrova::payload
