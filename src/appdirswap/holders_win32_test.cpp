#include "appdirswap/holders.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "appdirswap/file_system.h"
#include "core/unique_handle_win32.h"
#include "support/scratch_folder_win32.h"

namespace kestrova::appdirswap {
namespace {

using kestrova::test::MakeFolder;
using kestrova::test::ScratchFolder;

// Under Wine the Restart Manager lists nobody, so a listed holder can only be asserted to be this process.
TEST(Win32HolderFinderTest, HeldFileItsFolderAnEmptyFolderAndMissingPaths) {
  ScratchFolder scratch;
  MakeFolder(scratch / L"held");
  MakeFolder(scratch / L"held\\bin");
  MakeFolder(scratch / L"empty");
  const WideString file = scratch / L"held\\bin\\core.dll";
  kestrova::test::WriteTextFile(file);
  FileHandle open(CreateFileW(ToLongPathForm(file).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(open) << GetLastError();

  const struct {
    WideString path;
    bool answer;
    uint32_t error;
  } rows[] = {{scratch / L"held", true, 0},
              {scratch / L"held\\", true, 0},
              {file, true, 0},
              {scratch / L"empty", true, 0},
              {scratch / L"missing", false, ERROR_FILE_NOT_FOUND},
              {scratch / L"missing\\below", false, ERROR_PATH_NOT_FOUND}};
  Win32HolderFinder finder;
  for (const auto& row : rows) {
    SCOPED_TRACE(WideToUtf8(row.path));
    std::vector<HolderInfo> holders{{1, "stale.exe", ""}};
    uint32_t error = 99;
    EXPECT_EQ(finder.FindHolders(row.path, holders, error), row.answer);
    EXPECT_EQ(error, row.error);
    if (!row.answer) {
      EXPECT_TRUE(holders.empty());
    }
    for (const HolderInfo& holder : holders) EXPECT_EQ(holder.pid, GetCurrentProcessId());
  }
}

}  // namespace
}  // namespace kestrova::appdirswap
