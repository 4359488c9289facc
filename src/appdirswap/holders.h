// Who holds files in a folder or holds one file: the processes the system names as their users, and the log lines
// that tell it when a rename or the swap lock stayed busy. The asking is IHolderFinder's (Win32HolderFinder through
// the Restart Manager, a double in tests); when to ask and at which level to log the lines is the caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/text.h"

namespace kestrova::appdirswap {

struct HolderInfo {
  uint32_t pid = 0;
  std::string image;  // UTF-8 base name of the executable, e.g. "corvella.exe"; empty when unknown
  std::string user;   // UTF-8 "DOMAIN\name" of the process's user; empty when unreadable
};

// At most this many holders get a line of their own; the count line still tells how many there are.
inline constexpr size_t kMaxHolderLines = 10;

class IHolderFinder {
 public:
  virtual ~IHolderFinder() = default;
  // `path` is a plain drive path ("C:\Corvella.staging") naming a folder or a file. `holders` is cleared, then holds
  // every process listed as using the file or files inside the folder; `error` is 0. False, with `error` the Win32
  // error and `holders` empty, when the question could not be asked (a missing path among those cases).
  virtual bool FindHolders(const WideString& path, std::vector<HolderInfo>& holders, uint32_t& error) = 0;
};

// Asks `finder` once and returns the log texts, without level, each beginning with "<prefix>: ", the path shown by
// securefs::DisplayPath:
//   asking failed  "<prefix>: could not ask who holds files in <path>: error <error>"
//   nobody         "<prefix>: no process is listed as holding files in <path>"
//   n holders      "<prefix>: <n> process(es) hold files in <path>", with "; the first 10 follow" when n > 10,
//                  then for each of the first 10, in the finder's order, "<prefix>: PID <pid> <image> (<user>)",
//                  " <image>" left out when the image is empty and " (<user>)" when the user is.
std::vector<std::string> HolderLines(std::string_view prefix, const WideString& path, IHolderFinder& finder);

#ifdef _WIN32
// Asks the Restart Manager in a session of its own, ended before returning on every path. A file is registered as
// itself. A folder is represented by the files below it, found depth-first by a listing that never follows a
// reparse point (a linked file or folder inside is passed over, a folder that is itself one gives no files) and
// stops at kMaxHolderFiles files; a subfolder that cannot be listed is passed over, the folder itself not listable
// is a failure. A folder without files has no holders to list. Each process comes with its image from its full
// image path, or the Restart Manager's application name when the process cannot be opened, and its user when its
// token can be read. Under Wine the Restart Manager lists no process, so an answer there is always "nobody".
class Win32HolderFinder : public IHolderFinder {
 public:
  static constexpr size_t kMaxHolderFiles = 1000;

  bool FindHolders(const WideString& path, std::vector<HolderInfo>& holders, uint32_t& error) override;
};

// HolderLines of each path through a Win32HolderFinder, logged with LogInfo.
void LogHolders(std::string_view prefix, const std::vector<WideString>& paths);
#endif

}  // namespace kestrova::appdirswap
