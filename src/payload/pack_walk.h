// The file list of the pack command: a depth-first walk of the source tree through a FolderLister that never enters
// or takes a link, the --exclude rule, and the byte-wise order entries are written in. Listing a real folder is the
// Windows lister's job (pack_walk_win32.cpp); hashing files and writing the archive belong to the pack command.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/text.h"

namespace kestrova::payload {

// One entry of a folder listing, "." and ".." never among them.
struct ListedItem {
  WideString name;
  bool isFolder = false;
  // A symbolic link or a junction (whether it points at a folder or a file): neither entered nor taken. Other
  // reparse points count by their folder or file attribute.
  bool isLink = false;
  // A file's length as the listing saw it: a hint for sizing reads, never taken for the file's length.
  uint64_t size = 0;
};

class FolderLister {
 public:
  virtual ~FolderLister() = default;
  // Replaces *items with the entries of `folder`. An existing empty folder lists nothing and succeeds. On failure
  // (a missing folder, a file, access denied, a listing cut short) returns false with the Win32 code in *error.
  virtual bool List(const WideString& folder, std::vector<ListedItem>* items, uint32_t* error) = 0;
};

// One regular file to pack: its path below the root in UTF-8 with "/" separators, and its full path.
struct PackItem {
  std::string relativePath;
  WideString fullPath;
  uint64_t sizeHint = 0;  // the listing's length (ListedItem::size)
};

// Walks every folder below `root` (the root included, whatever it is reached through), collecting every item that is
// neither a folder nor a link, in no particular order. Full paths are `root` + `separator` + names (no doubled
// separator after a root ending in one): "\" for Windows paths, "/" for POSIX ones. Relative paths join the UTF-8
// names with "/" either way. Stops at the first listing failure: false with its code in *error, *files then
// incomplete.
bool WalkTree(FolderLister& lister, const WideString& root, std::vector<PackItem>* files, uint32_t* error,
              wchar_t separator = L'\\');

// Whether `relativePath` equals one of the exclusions or lies below one ("X" followed by "/"), compared byte for byte
// and case-sensitively: "logs" excludes "logs/a.txt" but not "logs2/c.txt" or "Logs/d.txt"; "logs/" excludes nothing.
bool IsExcluded(std::string_view relativePath, const std::vector<std::string>& excludes);

// Drops every excluded item, keeping the order of the rest.
void ApplyExclusions(std::vector<PackItem>* files, const std::vector<std::string>& excludes);

// Two paths of the list, or two folders above them, whose names differ only in case ("Dir/a" and "dir/b", "A.txt"
// and "a.txt"): one file, or one folder, on a case-insensitive file system such as NTFS. Letters are compared by
// their simple Unicode upper case where the C library knows it, else by ASCII. False when there is no such pair;
// otherwise true with the two paths (the clashing prefixes) in the list's order.
bool FindCaseClash(const std::vector<PackItem>& files, std::string* first, std::string* second);

// Sorts by relative path as unsigned bytes, a string before any longer string it begins ("a.txt" < "a/x" < "b", since
// "." is 0x2E and "/" 0x2F); ties by full path.
void SortForArchive(std::vector<PackItem>* files);

#ifdef _WIN32
// The lister of real folders: FindFirstFileExW on `folder` + "\*"; a symbolic link or a junction is recognised by the
// reparse tag the listing reports.
std::unique_ptr<FolderLister> CreateWin32FolderLister();
#endif

}  // namespace kestrova::payload
