// The floor of a tree's file I/O under the same system: how long creating and writing, or opening and reading, the
// files of a listing takes with nothing else done, one call each (CreateFileW, WriteFile or ReadFile, CloseHandle)
// and a CreateDirectoryW per folder. The payload benchmark divides pack and extract by these.
//   floor_io write <listing> <root>    the listing's lines are "<size> <relative path with \>"
//   floor_io read <listing> <root>
//   floor_io walk <root>               lists the tree as pack does (FindFirstFileExW, basic info, large fetch), no I/O
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

unsigned long Walk(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                 FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) return 0;
  unsigned long files = 0;
  do {
    if (std::wcscmp(found.cFileName, L".") == 0 || std::wcscmp(found.cFileName, L"..") == 0) continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      files += Walk(folder + L"\\" + found.cFileName);
    } else {
      ++files;
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return files;
}

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wcscmp(argv[1], L"walk") == 0) {
    std::printf("%lu files\n", Walk(argv[2]));
    return 0;
  }
  if (argc != 4) return 2;
  const bool writing = std::wcscmp(argv[1], L"write") == 0;
  FILE* listing = _wfopen(argv[2], L"rb");
  if (!listing) return 1;
  const std::wstring root = argv[3];
  std::vector<char> buffer(64u << 20, 'k');
  std::wstring lastFolder;
  unsigned long long size = 0;
  char path[2048];
  unsigned long files = 0;
  while (std::fscanf(listing, "%llu %2047[^\n]\n", &size, path) == 2) {
    wchar_t wide[2048];
    MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, 2048);
    const std::wstring full = root + L"\\" + wide;
    if (writing) {
      const std::wstring folder = full.substr(0, full.find_last_of(L'\\'));
      if (folder != lastFolder) {
        for (size_t at = root.size() + 1; at != std::wstring::npos; at = folder.find(L'\\', at + 1)) {
          CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
        }
        CreateDirectoryW(folder.c_str(), nullptr);
        lastFolder = folder;
      }
    }
    HANDLE file = CreateFileW(full.c_str(), writing ? GENERIC_WRITE : GENERIC_READ, 0, nullptr,
                              writing ? CREATE_ALWAYS : OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD done = 0;
    const DWORD length = static_cast<DWORD>(size < buffer.size() ? size : buffer.size());
    const BOOL ok = writing ? WriteFile(file, buffer.data(), length, &done, nullptr)
                            : ReadFile(file, buffer.data(), length, &done, nullptr);
    CloseHandle(file);
    if (!ok) return 1;
    ++files;
  }
  std::fclose(listing);
  std::printf("%lu files\n", files);
  return 0;
}
