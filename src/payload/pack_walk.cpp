#include "payload/pack_walk.h"

#include <algorithm>
#include <cwctype>
#include <unordered_map>
#include <utility>

namespace kestrova::payload {

namespace {

struct PendingFolder {
  WideString fullPath;
  std::string relativePath;  // empty for the root
};

WideString JoinFull(const WideString& folder, const WideString& name, wchar_t separator) {
  WideString path = folder;
  if (path.empty() || path.back() != separator) path.push_back(separator);
  path += name;
  return path;
}

std::string JoinRelative(const std::string& folder, const WideString& name) {
  const std::string utf8 = WideToUtf8(name);
  if (folder.empty()) return utf8;
  return folder + "/" + utf8;
}

}  // namespace

bool WalkTree(FolderLister& lister, const WideString& root, std::vector<PackItem>* files, uint32_t* error,
              wchar_t separator) {
  // An explicit stack instead of recursion: a tree tens of thousands of folders deep must not exhaust the thread's
  // stack. The order of the walk does not matter, since the list is sorted before anything is written.
  std::vector<PendingFolder> pending;
  pending.push_back({root, {}});
  std::vector<ListedItem> items;
  while (!pending.empty()) {
    const PendingFolder folder = std::move(pending.back());
    pending.pop_back();
    if (!lister.List(folder.fullPath, &items, error)) return false;
    for (const ListedItem& item : items) {
      if (item.isLink) continue;
      PackItem next{JoinRelative(folder.relativePath, item.name), JoinFull(folder.fullPath, item.name, separator),
                    item.size};
      if (item.isFolder) {
        pending.push_back({std::move(next.fullPath), std::move(next.relativePath)});
      } else {
        files->push_back(std::move(next));
      }
    }
  }
  return true;
}

bool IsExcluded(std::string_view relativePath, const std::vector<std::string>& excludes) {
  for (const std::string& exclude : excludes) {
    if (relativePath.size() < exclude.size() || relativePath.compare(0, exclude.size(), exclude) != 0) continue;
    if (relativePath.size() == exclude.size() || relativePath[exclude.size()] == '/') return true;
  }
  return false;
}

void ApplyExclusions(std::vector<PackItem>* files, const std::vector<std::string>& excludes) {
  if (excludes.empty()) return;
  std::erase_if(*files, [&](const PackItem& item) { return IsExcluded(item.relativePath, excludes); });
}

bool FindCaseClash(const std::vector<PackItem>& files, std::string* first, std::string* second) {
  // Keyed by the upper-cased text of every folder prefix and of every whole path, mapping to the first spelling met:
  // a second spelling of the same key is a second name where NTFS would have one.
  std::unordered_map<WideString, WideString> spellings;
  for (const PackItem& file : files) {
    const WideString path = Utf8ToWide(file.relativePath);
    WideString folded = path;
    for (wchar_t& c : folded) {
      // Surrogate halves stay as they are: the upper case of a character outside the BMP is not asked for here.
      if (c < 0xD800 || c > 0xDFFF) c = static_cast<wchar_t>(std::towupper(static_cast<std::wint_t>(c)));
    }
    for (size_t end = 0; end <= path.size(); ++end) {
      if (end < path.size() && path[end] != L'/') continue;
      const auto [it, added] = spellings.try_emplace(folded.substr(0, end), path.substr(0, end));
      if (!added && it->second != path.substr(0, end)) {
        *first = WideToUtf8(it->second);
        *second = WideToUtf8(path.substr(0, end));
        return true;
      }
    }
  }
  return false;
}

void SortForArchive(std::vector<PackItem>* files) {
  // std::string compares through char_traits<char>::compare, which orders as unsigned char, and a prefix first.
  std::sort(files->begin(), files->end(), [](const PackItem& a, const PackItem& b) {
    if (a.relativePath != b.relativePath) return a.relativePath < b.relativePath;
    return a.fullPath < b.fullPath;
  });
}

}  // namespace kestrova::payload
