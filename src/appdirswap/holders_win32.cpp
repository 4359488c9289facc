#include "appdirswap/holders.h"

#include <windows.h>

#include <restartmanager.h>

#include <algorithm>

#include "appdirswap/file_system.h"
#include "core/log.h"
#include "core/unique_handle_win32.h"
#include "securefs/paths.h"

namespace kestrova::appdirswap {
namespace {

// Every RmRegisterResources call writes the session's state to the registry, so files go in a few large calls
// rather than one each.
constexpr size_t kRegisterBatch = 250;
// RmGetList reports the size it needed; more processes may open the files before the next call, so it is asked again
// a few times before giving up.
constexpr int kListAttempts = 4;

// Depth-first from `folder` (long-path form, no trailing separator). Reparse points are skipped by their own
// attributes, as the listing reports them, so neither a linked file nor anything behind a junction is ever reached.
bool ListFiles(const WideString& folder, std::vector<WideString>& files, uint32_t& error) {
  std::vector<WideString> pending{folder};
  bool top = true;
  while (!pending.empty() && files.size() < Win32HolderFinder::kMaxHolderFiles) {
    const WideString current = std::move(pending.back());
    pending.pop_back();
    WIN32_FIND_DATAW found;
    FindHandle find(FindFirstFileExW((current + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                     nullptr, FIND_FIRST_EX_LARGE_FETCH));
    const DWORD code = find ? ERROR_SUCCESS : GetLastError();
    // A drive root has no "." entry, so an empty one answers "not found" rather than listing nothing.
    if (!find && top && code != ERROR_FILE_NOT_FOUND) {
      error = code;
      return false;
    }
    top = false;
    if (!find) continue;
    do {
      const WideView name = found.cFileName;
      if (name == L"." || name == L".." || (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
      WideString entry = current + L"\\" + found.cFileName;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        pending.push_back(std::move(entry));
      } else {
        files.push_back(std::move(entry));
        if (files.size() == Win32HolderFinder::kMaxHolderFiles) break;
      }
    } while (FindNextFileW(find.get(), &found));
  }
  return true;
}

// The Restart Manager documents full paths and compares them with what processes opened; the long form is handed to
// it only where the plain form cannot name the file.
WideString RegisteredName(const WideString& long_path) {
  WideString plain = securefs::DisplayPath(long_path);
  return plain.size() < MAX_PATH ? plain : long_path;
}

std::string BaseName(WideView path) { return WideToUtf8(path.substr(path.find_last_of(L"\\/") + 1)); }

std::string UserOf(HANDLE process) {
  KernelHandle token;
  if (!OpenProcessToken(process, TOKEN_QUERY, token.put())) return {};
  DWORD bytes = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &bytes);
  if (bytes < sizeof(TOKEN_USER)) return {};
  std::vector<unsigned char> buffer(bytes);
  if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), bytes, &bytes)) return {};
  const PSID sid = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
  DWORD name_length = 0;
  DWORD domain_length = 0;
  SID_NAME_USE use;
  LookupAccountSidW(nullptr, sid, nullptr, &name_length, nullptr, &domain_length, &use);
  if (name_length == 0) return {};
  WideString name(name_length, L'\0');
  WideString domain(std::max<DWORD>(domain_length, 1), L'\0');
  if (!LookupAccountSidW(nullptr, sid, name.data(), &name_length, domain.data(), &domain_length, &use)) return {};
  name.resize(name_length);
  domain.resize(domain_length);
  return WideToUtf8(domain.empty() ? name : domain + L"\\" + name);
}

HolderInfo Describe(const RM_PROCESS_INFO& listed) {
  HolderInfo holder;
  holder.pid = listed.Process.dwProcessId;
  holder.image = WideToUtf8(listed.strAppName);
  KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, listed.Process.dwProcessId));
  if (!process) return holder;
  // The holder may have exited since RmGetList and its number gone to another process; only the process started
  // at the listed time is described from its own image and token.
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process.get(), &created, &exited, &kernel, &user) ||
      CompareFileTime(&created, &listed.Process.ProcessStartTime) != 0) {
    return holder;
  }
  WideString image(32768, L'\0');
  DWORD length = static_cast<DWORD>(image.size());
  if (QueryFullProcessImageNameW(process.get(), 0, image.data(), &length)) {
    image.resize(length);
    holder.image = BaseName(image);
  }
  holder.user = UserOf(process.get());
  return holder;
}

}  // namespace

bool Win32HolderFinder::FindHolders(const WideString& path, std::vector<HolderInfo>& holders, uint32_t& error) {
  holders.clear();
  error = 0;
  const WideString long_path = securefs::TrimTrailingSeparators(ToLongPathForm(path));
  const DWORD attributes = GetFileAttributesW(long_path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = GetLastError();
    return false;
  }
  std::vector<WideString> files;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    files.push_back(long_path);
  } else if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !ListFiles(long_path, files, error)) {
    return false;
  }
  if (files.empty()) return true;

  std::vector<WideString> names;
  names.reserve(files.size());
  for (const WideString& file : files) names.push_back(RegisteredName(file));
  std::vector<LPCWSTR> name_pointers;
  for (const WideString& name : names) name_pointers.push_back(name.c_str());

  RmSession session;
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  DWORD status = RmStartSession(session.put(), 0, key);
  if (status != ERROR_SUCCESS) {
    session.release();  // nothing was started, whatever the call left in the number
    error = status;
    return false;
  }
  for (size_t first = 0; first < name_pointers.size(); first += kRegisterBatch) {
    const UINT count = static_cast<UINT>(std::min(kRegisterBatch, name_pointers.size() - first));
    status = RmRegisterResources(session.get(), count, name_pointers.data() + first, 0, nullptr, 0, nullptr);
    if (status != ERROR_SUCCESS) {
      error = status;
      return false;
    }
  }

  std::vector<RM_PROCESS_INFO> listed(8);
  for (int attempt = 1;; ++attempt) {
    UINT needed = 0;
    UINT count = static_cast<UINT>(listed.size());
    DWORD reasons = 0;
    status = RmGetList(session.get(), &needed, &count, listed.data(), &reasons);
    if (status == ERROR_SUCCESS) {
      listed.resize(count);
      break;
    }
    if (status != ERROR_MORE_DATA || attempt == kListAttempts) {
      error = status;
      return false;
    }
    listed.resize(needed + 4);
  }
  for (const RM_PROCESS_INFO& process : listed) holders.push_back(Describe(process));
  return true;
}

void LogHolders(std::string_view prefix, const std::vector<WideString>& paths) {
  Win32HolderFinder finder;
  for (const WideString& path : paths) {
    for (const std::string& line : HolderLines(prefix, path, finder)) LogInfo("%s", line.c_str());
  }
}

}  // namespace kestrova::appdirswap
