// The native build's pack. The Windows build packs in pack_win32.cpp, so this file compiles to nothing there.
#if !defined(_WIN32)

#include "payload/pack_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/report.h"
#include "payload/archive_writer.h"
#include "payload/delta_pack.h"
#include "payload/sha256.h"

namespace kestrova::payload {
namespace {

constexpr double kBytesPerMegabyte = 1048576.0;
constexpr size_t kHashBufferLength = 1048576;
constexpr size_t kMaxBytesPerCall = 1073741824;

// Owns one descriptor; -1 while none is open.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // False when close reports an error: the kernel may have dropped data it still held.
  bool Close() {
    if (fd_ < 0) return true;
    const bool ok = close(fd_) == 0;
    fd_ = -1;
    return ok;
  }

 private:
  int fd_;
};

class DirectoryStream {
 public:
  explicit DirectoryStream(DIR* dir) : dir_(dir) {}
  ~DirectoryStream() {
    if (dir_) closedir(dir_);
  }
  DirectoryStream(const DirectoryStream&) = delete;
  DirectoryStream& operator=(const DirectoryStream&) = delete;
  DIR* get() const { return dir_; }

 private:
  DIR* dir_;
};

class PosixFolderLister final : public FolderLister {
 public:
  bool List(const WideString& folder, std::vector<ListedItem>* items, uint32_t* error) override {
    items->clear();
    const std::string path = WideToUtf8(folder);
    DirectoryStream dir(opendir(path.c_str()));
    if (!dir.get()) {
      *error = static_cast<uint32_t>(errno);
      return false;
    }
    while (true) {
      errno = 0;
      const dirent* entry = readdir(dir.get());
      if (!entry) {
        if (errno != 0) {
          *error = static_cast<uint32_t>(errno);
          return false;
        }
        return true;
      }
      const std::string_view name = entry->d_name;
      if (name == "." || name == "..") continue;
      if (!IsWellFormedUtf8(name)) {
        *error = EILSEQ;
        return false;
      }
      struct stat status;
      if (fstatat(dirfd(dir.get()), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        *error = static_cast<uint32_t>(errno);
        return false;
      }
      ListedItem item;
      item.name = Utf8ToWide(name);
      item.isFolder = S_ISDIR(status.st_mode);
      item.isLink = !item.isFolder && !S_ISREG(status.st_mode);
      items->push_back(std::move(item));
    }
  }
};

// Opens a file that the walk took as a regular file; O_NOFOLLOW refuses one that has become a link since.
int OpenForReading(const WideString& path) {
  return open(WideToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
}

// Reads up to `length` bytes, fewer only at the end of the file; false when a read fails.
bool ReadFully(int fd, void* into, size_t length, size_t* got) {
  uint8_t* buffer = static_cast<uint8_t*>(into);
  *got = 0;
  while (*got < length) {
    const size_t ask = length - *got < kMaxBytesPerCall ? length - *got : kMaxBytesPerCall;
    const ssize_t n = read(fd, buffer + *got, ask);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    *got += static_cast<size_t>(n);
  }
  return true;
}

class PosixFileSource final : public ByteSource {
 public:
  explicit PosixFileSource(int fd) : fd_(fd) {}
  bool Read(void* buffer, size_t length, size_t* bytesGot) override {
    return ReadFully(fd_.get(), buffer, length, bytesGot);
  }
  bool Rewind() override { return lseek(fd_.get(), 0, SEEK_SET) == 0; }

 private:
  Descriptor fd_;
};

class PosixFileSink final : public ByteSink {
 public:
  explicit PosixFileSink(int fd) : fd_(fd) {}
  bool Write(const void* from, size_t length) override {
    const uint8_t* data = static_cast<const uint8_t*>(from);
    while (length > 0) {
      const size_t ask = length < kMaxBytesPerCall ? length : kMaxBytesPerCall;
      const ssize_t n = write(fd_, data, ask);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      bytesWritten_ += static_cast<uint64_t>(n);
      data += n;
      length -= static_cast<size_t>(n);
    }
    return true;
  }
  uint64_t bytesWritten() const { return bytesWritten_; }

 private:
  int fd_;
  uint64_t bytesWritten_ = 0;
};

bool HashFile(const WideString& path, uint8_t* buffer, uint64_t* length, Sha256Digest* digest) {
  const Descriptor file(OpenForReading(path));
  if (!file) return false;
  Sha256 accumulator;
  *length = 0;
  while (true) {
    size_t got = 0;
    if (!ReadFully(file.get(), buffer, kHashBufferLength, &got)) return false;
    if (got == 0) break;
    accumulator.Add(buffer, got);
    *length += got;
  }
  return accumulator.Finish(digest);
}

bool WriteArchive(ByteSink& sink, const std::vector<PackItem>& files, uint64_t* inputBytes, std::string* error) {
  Writer writer(sink, CodecWorkers());
  const ZeroedBuffer hashBuffer = AllocateZeroed(kHashBufferLength);
  if (!writer.HasCompressor() || !hashBuffer) {
    *error = "could not create the XPRESS_HUFF compressor";
    return false;
  }
  if (!WriteArchiveHeader(sink)) {
    *error = "write failed";
    return false;
  }
  for (const PackItem& file : files) {
    // Hashed first because the digest stands ahead of the data; AddFile hashes again while packing and so proves
    // that the file did not change in between.
    uint64_t length = 0;
    Sha256Digest digest{};
    if (!HashFile(file.fullPath, hashBuffer.get(), &length, &digest)) {
      *error = "could not read " + WideToUtf8(file.fullPath);
      return false;
    }
    const int fd = OpenForReading(file.fullPath);
    if (fd < 0) {
      const int code = errno;
      *error = "could not open " + WideToUtf8(file.fullPath) + ": " + std::to_string(code);
      return false;
    }
    PosixFileSource content(fd);
    if (!writer.AddFile(file.relativePath, length, digest, content, error)) return false;
    *inputBytes += length;
  }
  if (!writer.Finish(error)) return false;
  if (!WriteEndRecord(sink, writer.entriesWritten())) {
    *error = "write failed";
    return false;
  }
  return true;
}

// The delta update of `files` against the archive at `base`: every file hashed first, since which base file a file
// is taken from or patched against is decided before the first record.
bool WriteDelta(ByteSink& sink, const std::vector<PackItem>& files, const std::string& base, uint64_t* inputBytes,
                DeltaCounts* counts, std::string* error) {
  const int baseFd = open(base.c_str(), O_RDONLY | O_CLOEXEC);
  if (baseFd < 0) {
    const int code = errno;
    *error = "could not open " + base + ": " + std::to_string(code);
    return false;
  }
  PosixFileSource baseSource(baseFd);
  const ZeroedBuffer hashBuffer = AllocateZeroed(kHashBufferLength);
  std::vector<Entry> entries;
  for (const PackItem& file : files) {
    Entry entry;
    entry.path = file.relativePath;
    if (!hashBuffer || !HashFile(file.fullPath, hashBuffer.get(), &entry.size, &entry.sha256)) {
      *error = "could not read " + WideToUtf8(file.fullPath);
      return false;
    }
    *inputBytes += entry.size;
    entries.push_back(std::move(entry));
  }
  const OpenContent openFile = [&files](size_t index, std::string* openError) -> std::unique_ptr<ByteSource> {
    const int fd = OpenForReading(files[index].fullPath);
    if (fd >= 0) return std::make_unique<PosixFileSource>(fd);
    const int code = errno;
    *openError = "could not open " + WideToUtf8(files[index].fullPath) + ": " + std::to_string(code);
    return nullptr;
  };
  return WriteDeltaArchive(sink, baseSource, entries, openFile, CodecWorkers(), counts, error);
}

uint64_t MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace

std::unique_ptr<FolderLister> CreatePosixFolderLister() { return std::make_unique<PosixFolderLister>(); }

int RunPackPosix(const std::string& src, const std::string& out, const std::vector<std::string>& excludes,
                 const std::string& base) {
  const uint64_t start = MonotonicMilliseconds();
  std::vector<PackItem> files;
  uint32_t walkError = ENOENT;
  const std::unique_ptr<FolderLister> lister = CreatePosixFolderLister();
  // A source that is not UTF-8 converts to the empty text, which names no folder.
  const WideString root = Utf8ToWide(src);
  if (root.empty() || !WalkTree(*lister, root, &files, &walkError, L'/')) {
    Report(kReportError, "pack: could not list %s: %s", src.c_str(), std::strerror(static_cast<int>(walkError)));
    return 1;
  }
  ApplyExclusions(&files, excludes);
  SortForArchive(&files);
  // Unpacked on NTFS, two spellings of one name would be one file (or one folder), the second overwriting the first.
  std::string first;
  std::string second;
  if (FindCaseClash(files, &first, &second)) {
    Report(kReportError, "pack failed: %s and %s differ only in case", QuotedPath(first).c_str(),
           QuotedPath(second).c_str());
    return 1;
  }

  Descriptor archive(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!archive) {
    const int code = errno;
    Report(kReportError, "pack: could not create %s: %lu", out.c_str(), static_cast<unsigned long>(code));
    return 1;
  }
  uint64_t inputBytes = 0;
  std::string error;
  PosixFileSink sink(archive.get());
  DeltaCounts counts;
  bool packed = base.empty() ? WriteArchive(sink, files, &inputBytes, &error)
                             : WriteDelta(sink, files, base, &inputBytes, &counts, &error);
  if (!archive.Close() && packed) {
    packed = false;
    error = "write failed";
  }
  if (!packed) {
    Report(kReportError, "pack failed: %s", error.c_str());
    unlink(out.c_str());
    return 1;
  }

  const double seconds = static_cast<double>(MonotonicMilliseconds() - start) / 1000.0;
  Report(kReportInfo, "packed %llu files, %.1f MB into %s (%.1f MB) in %.1fs",
         static_cast<unsigned long long>(files.size()), static_cast<double>(inputBytes) / kBytesPerMegabyte,
         out.c_str(), static_cast<double>(sink.bytesWritten()) / kBytesPerMegabyte, seconds);
  if (!base.empty()) {
    Report(kReportInfo, "delta against %s: %llu files taken from it, %llu patched, %llu whole", base.c_str(),
           static_cast<unsigned long long>(counts.references), static_cast<unsigned long long>(counts.patches),
           static_cast<unsigned long long>(counts.whole));
  }
  return 0;
}

}  // namespace kestrova::payload

#endif
