#include "appdirswap/layout.h"

#include <algorithm>

namespace kestrova::appdirswap {
namespace {

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool IsAcceptableComponent(WideView component) {
  if (component.empty() || component == L"." || component == L"..") return false;
  // Windows drops a trailing dot or space when it opens a name, so such a name would reach another entry than the one
  // its text shows.
  if (component.back() == L'.' || component.back() == L' ') return false;
  return std::none_of(component.begin(), component.end(), [](wchar_t c) {
    return c < 0x20 || WideView(L":*?\"<>|").find(c) != WideView::npos;
  });
}

}  // namespace

const char* FolderStateName(FolderState state) {
  switch (state) {
    case FolderState::Absent: return "absent";
    case FolderState::Incomplete: return "incomplete";
    case FolderState::Complete: return "complete";
    case FolderState::ReparsePoint: return "reparse_point";
    case FolderState::NotADirectory: return "not_a_directory";
    case FolderState::Unreadable: return "unreadable";
  }
  return "unknown";
}

bool ParseAppdir(WideView path, LayoutPaths& paths) {
  WideString text(path);
  std::replace(text.begin(), text.end(), L'/', L'\\');
  if (text.compare(0, 4, L"\\\\?\\") == 0) text.erase(0, 4);
  while (!text.empty() && text.back() == L'\\') text.pop_back();
  if (text.size() < 4 || !IsAsciiLetter(text[0]) || text[1] != L':' || text[2] != L'\\') return false;

  size_t begin = 3;
  for (;;) {
    const size_t end = text.find(L'\\', begin);
    const WideView component = WideView(text).substr(begin, end == WideString::npos ? WideString::npos : end - begin);
    if (!IsAcceptableComponent(component)) return false;
    if (end == WideString::npos) break;
    begin = end + 1;
  }

  const size_t last = text.find_last_of(L'\\');
  paths.appdir = text;
  // The parent comes from the text, not from the system: "C:\Corvella" has "C:\", and "C:" would name the current
  // directory of drive C instead.
  paths.parent = last == 2 ? text.substr(0, 3) : text.substr(0, last);
  paths.staging = text + L".staging";
  paths.partial = text + L".staging.partial";
  paths.lkg = text + L".lkg";
  paths.rejected = text + L".rejected";
  paths.lock = text + L".swap.lock";
  return true;
}

bool ParseVersionMarker(std::string_view bytes, WideString& version) {
  version.clear();
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  while (!bytes.empty() && (bytes.back() == '\r' || bytes.back() == '\n')) bytes.remove_suffix(1);
  if (bytes.empty()) return false;

  size_t group = 0;
  size_t dots = 0;
  for (const char c : bytes) {
    if (c >= '0' && c <= '9') {
      if (++group > 9) return false;
    } else if (c == '.') {
      if (group == 0) return false;
      group = 0;
      ++dots;
    } else {
      return false;
    }
  }
  if (group == 0 || dots < 2 || dots > 3) return false;
  version.assign(bytes.begin(), bytes.end());
  return true;
}

FolderState ReadFolderState(IFileSystem& fs, const WideString& path, bool want_version, WideString& version) {
  version.clear();
  const PathInfo info = fs.GetPathInfo(path);
  if (info.kind == PathKind::Absent) return FolderState::Absent;
  if (info.kind == PathKind::Error) return FolderState::Unreadable;
  if (info.is_reparse_point) return FolderState::ReparsePoint;
  if (info.kind == PathKind::File) return FolderState::NotADirectory;

  const WideString marker = path + L"\\" + kMarkerName;
  const PathInfo marker_info = fs.GetPathInfo(marker);
  if (marker_info.kind != PathKind::File || marker_info.is_reparse_point) return FolderState::Incomplete;
  if (want_version) {
    std::string bytes;
    if (fs.ReadSmallFile(marker, kMarkerReadLimit, bytes)) ParseVersionMarker(bytes, version);
  }
  return FolderState::Complete;
}

LayoutSnapshot TakeSnapshot(WideView appdir, IFileSystem& fs) {
  LayoutSnapshot snapshot;
  LayoutPaths paths;
  if (!ParseAppdir(appdir, paths)) return snapshot;
  snapshot.valid = true;
  snapshot.paths = paths;

  const PathInfo parent = fs.GetPathInfo(paths.parent);
  snapshot.parent_kind = parent.kind;
  snapshot.parent_is_reparse_point = parent.is_reparse_point;

  WideString unused;
  snapshot.appdir_state = ReadFolderState(fs, paths.appdir, true, snapshot.appdir_version);
  snapshot.staging_state = ReadFolderState(fs, paths.staging, true, snapshot.staging_version);
  snapshot.partial_state = ReadFolderState(fs, paths.partial, false, unused);
  snapshot.lkg_state = ReadFolderState(fs, paths.lkg, true, snapshot.lkg_version);
  snapshot.rejected_state = ReadFolderState(fs, paths.rejected, false, unused);

  const auto judge = [&fs](FolderState state, const WideString& path) {
    return state == FolderState::Absent || state == FolderState::Unreadable ? std::string() : fs.AdminOnlyVerdict(path);
  };
  snapshot.appdir_verdict = judge(snapshot.appdir_state, paths.appdir);
  snapshot.staging_verdict = judge(snapshot.staging_state, paths.staging);
  snapshot.partial_verdict = judge(snapshot.partial_state, paths.partial);
  snapshot.lkg_verdict = judge(snapshot.lkg_state, paths.lkg);
  snapshot.rejected_verdict = judge(snapshot.rejected_state, paths.rejected);
  snapshot.staging_admin_owned = snapshot.staging_state == FolderState::Complete && snapshot.staging_verdict.empty();
  snapshot.lkg_admin_owned = snapshot.lkg_state == FolderState::Complete && snapshot.lkg_verdict.empty();
  return snapshot;
}

}  // namespace kestrova::appdirswap
