// A DLL the DLL-search tests plant beside a copy of KestrovaPayload.exe under the name of a DLL the exe uses
// (msi.dll, bcrypt.dll, ...). It exports nothing and does one thing: when loaded, DllMain leaves an empty file
// named after the DLL's own path with ".ran" appended, so a test can tell that the search reached the exe's folder.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 8];
  const DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcatW(path, L".ran");
  HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  // Loading goes on as an attacker's DLL would let it, so the exe gets as far as it can.
  return TRUE;
}
