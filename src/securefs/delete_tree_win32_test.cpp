#include "securefs/delete_tree.h"

#include <gtest/gtest.h>

#include "core/unique_handle_win32.h"
#include "support/scratch_folder_win32.h"

namespace kestrova::securefs {
namespace {

using kestrova::test::Exists;
using kestrova::test::ScratchFolder;

// Holds a file open the way another program might: sharing read and write but not delete, so that nobody can
// delete it (or even open it for deletion) while this lives.
FileHandle HoldWithoutDeleteSharing(const WideString& path) {
  FileHandle held(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_TRUE(held) << "cannot hold " << WideToUtf8(path) << ": " << GetLastError();
  return held;
}

// root\d\d\...\d, `levels` folders below the root, and the deepest folder's path.
WideString MakeChain(const WideString& root, unsigned levels) {
  WideString path = root;
  for (unsigned i = 0; i < levels; ++i) {
    path += L"\\d";
    kestrova::test::MakeFolder(path);
  }
  return path;
}

TEST(DeleteTreeByHandleTest, MissingPathCountsAsRemoved) {
  ScratchFolder scratch;
  DWORD code = 99;
  EXPECT_TRUE(DeleteTreeByHandle(scratch / L"missing", code));
  EXPECT_EQ(code, 0u);
  code = 99;
  EXPECT_TRUE(DeleteTreeByHandle(scratch / L"missing\\below", code));
  EXPECT_EQ(code, 0u);
}

TEST(DeleteTreeByHandleTest, RemovesNestedTreeWithReadOnlyEntries) {
  ScratchFolder scratch;
  const WideString root = scratch / L"tree";
  kestrova::test::MakeFolder(root);
  kestrova::test::MakeFolder(root + L"\\a");
  kestrova::test::MakeFolder(root + L"\\a\\b");
  kestrova::test::MakeFolder(root + L"\\empty");
  kestrova::test::WriteTextFile(root + L"\\top.txt");
  kestrova::test::WriteTextFile(root + L"\\a\\ro.txt");
  kestrova::test::WriteTextFile(root + L"\\a\\b\\deep-ro.txt");
  kestrova::test::MakeReadOnly(root + L"\\a\\ro.txt");
  kestrova::test::MakeReadOnly(root + L"\\a\\b\\deep-ro.txt");
  kestrova::test::MakeReadOnly(root + L"\\a\\b");
  DWORD code = 99;
  EXPECT_TRUE(DeleteTreeByHandle(root, code));
  EXPECT_EQ(code, 0u);
  EXPECT_FALSE(Exists(root));
  EXPECT_TRUE(Exists(scratch.Path())) << "only the given path goes";
}

TEST(DeleteTreeByHandleTest, RemovesAFolderWithManyEntriesOverSeveralListingBatches) {
  ScratchFolder scratch;
  const WideString root = scratch / L"wide";
  kestrova::test::MakeFolder(root);
  // Each record takes about 104 bytes plus the name; 1500 long names need more than one 64 KiB batch.
  for (int i = 0; i < 1500; ++i) {
    kestrova::test::WriteTextFile(root + L"\\entry-with-a-rather-long-name-to-fill-the-listing-buffer-" + std::to_wstring(i));
  }
  DWORD code = 99;
  EXPECT_TRUE(DeleteTreeByHandle(root, code));
  EXPECT_EQ(code, 0u);
  EXPECT_FALSE(Exists(root));
}

TEST(DeleteTreeByHandleTest, RemovesAHundredNestedLevels) {
  ScratchFolder scratch;
  const WideString root = scratch / L"deep";
  kestrova::test::MakeFolder(root);
  const WideString deepest = MakeChain(root, 100);
  kestrova::test::WriteTextFile(deepest + L"\\leaf.txt");
  kestrova::test::MakeReadOnly(deepest + L"\\leaf.txt");
  DWORD code = 99;
  EXPECT_TRUE(DeleteTreeByHandle(root, code));
  EXPECT_EQ(code, 0u);
  EXPECT_FALSE(Exists(root));
}

TEST(DeleteTreeByHandleTest, DeletesTheFirstNamedEntryBeforeAnyOther) {
  ScratchFolder scratch;
  const WideString root = scratch / L"tree";
  kestrova::test::MakeFolder(root);
  kestrova::test::WriteTextFile(root + L"\\a.txt");
  kestrova::test::WriteTextFile(root + L"\\b.txt");
  // Named to come last in any sorted listing, so only its being named first can take it before the others.
  kestrova::test::MakeFolder(root + L"\\zz-marker");
  kestrova::test::WriteTextFile(root + L"\\zz-marker\\inside.txt");
  const FileHandle heldA = HoldWithoutDeleteSharing(root + L"\\a.txt");
  const FileHandle heldB = HoldWithoutDeleteSharing(root + L"\\b.txt");
  DWORD code = 0;
  EXPECT_FALSE(DeleteTreeByHandle(root, code, L"zz-marker"));
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(Exists(root + L"\\zz-marker"));
  EXPECT_TRUE(Exists(root + L"\\a.txt"));
  EXPECT_TRUE(Exists(root + L"\\b.txt"));
}

TEST(DeleteTreeByHandleTest, AnEntryHeldWithoutDeleteSharingStopsTheRemoval) {
  ScratchFolder scratch;
  const WideString root = scratch / L"tree";
  kestrova::test::MakeFolder(root);
  kestrova::test::WriteTextFile(root + L"\\only.txt");
  const FileHandle held = HoldWithoutDeleteSharing(root + L"\\only.txt");
  DWORD code = 0;
  EXPECT_FALSE(DeleteTreeByHandle(root, code));
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(Exists(root + L"\\only.txt"));
  EXPECT_TRUE(Exists(root));
}

TEST(DeleteTreeByHandleTest, AMissingFirstNameDoesNotStopTheRemoval) {
  ScratchFolder scratch;
  const WideString root = scratch / L"tree";
  kestrova::test::MakeFolder(root);
  kestrova::test::WriteTextFile(root + L"\\x.txt");
  DWORD code = 99;
  EXPECT_TRUE(DeleteTreeByHandle(root, code, L".complete"));
  EXPECT_EQ(code, 0u);
  EXPECT_FALSE(Exists(root));
}

TEST(DeleteTreeByHandleTest, StopsAtTheDepthLimitKeepingWhatItDeleted) {
  ScratchFolder scratch;
  const WideString root = scratch / L"chain";
  kestrova::test::MakeFolder(root);
  kestrova::test::WriteTextFile(root + L"\\marker");
  const WideString deepest = MakeChain(root, kMaxDeleteDepth);
  DWORD code = 0;
  EXPECT_FALSE(DeleteTreeByHandle(root, code, L"marker"));
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
  EXPECT_FALSE(Exists(root + L"\\marker")) << "what was deleted before the limit stays deleted";
  EXPECT_TRUE(Exists(deepest)) << "the folder at the limit is never entered";
  // Seen from one level down the same chain is within the limit.
  code = 99;
  EXPECT_TRUE(DeleteTreeByHandle(root + L"\\d", code));
  EXPECT_EQ(code, 0u);
}

TEST(DeleteTreeByHandleTest, RemovesAChainJustWithinTheLimitIncludingFilesBelowIt) {
  ScratchFolder scratch;
  const WideString root = scratch / L"chain";
  kestrova::test::MakeFolder(root);
  const WideString deepest = MakeChain(root, kMaxDeleteDepth - 1);
  kestrova::test::WriteTextFile(deepest + L"\\file-at-the-limit");
  DWORD code = 99;
  EXPECT_TRUE(DeleteTreeByHandle(root, code));
  EXPECT_EQ(code, 0u);
  EXPECT_FALSE(Exists(root));
}

TEST(DeleteTreeByHandleTest, OpensARootHeldWithoutReadSharingWithoutListingAccess) {
  ScratchFolder scratch;
  const WideString file = scratch / L"file.txt";
  kestrova::test::WriteTextFile(file);
  {
    FileHandle held(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held) << GetLastError();
    DWORD code = 99;
    EXPECT_TRUE(DeleteTreeByHandle(file, code));
    EXPECT_EQ(code, 0u);
  }
  // With the classic disposition the name goes when the last handle closes.
  EXPECT_FALSE(Exists(file));
}

TEST(DeleteTreeByHandleTest, DeletesAnEntryHeldWithoutReadSharing) {
  ScratchFolder scratch;
  const WideString root = scratch / L"tree";
  kestrova::test::MakeFolder(root);
  kestrova::test::WriteTextFile(root + L"\\held.txt");
  DWORD code = 99;
  {
    FileHandle held(CreateFileW((root + L"\\held.txt").c_str(), GENERIC_READ, FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held) << GetLastError();
    DeleteTreeByHandle(root, code);
  }
  // With POSIX semantics the whole tree goes at once; with the classic disposition (Wine) the held file's name stays
  // until its holder closes, so the folder may still be there. Either way the file itself was opened and deleted.
  EXPECT_NE(code, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(Exists(root + L"\\held.txt"));
}

TEST(RemoveTreeTest, RemovesASingleFile) {
  ScratchFolder scratch;
  kestrova::test::WriteTextFile(scratch / L"single.txt");
  kestrova::test::MakeReadOnly(scratch / L"single.txt");
  std::string text = "unchanged";
  EXPECT_TRUE(RemoveTree(scratch / L"single.txt", &text));
  EXPECT_EQ(text, "unchanged");
  EXPECT_FALSE(Exists(scratch / L"single.txt"));
}

TEST(RemoveTreeTest, NamesThePathAndTheCodeOnFailure) {
  ScratchFolder scratch;
  const WideString root = scratch / L"tree";
  kestrova::test::MakeFolder(root);
  kestrova::test::WriteTextFile(root + L"\\held.txt");
  const FileHandle held = HoldWithoutDeleteSharing(root + L"\\held.txt");
  std::string text;
  EXPECT_FALSE(RemoveTree(root, &text));
  EXPECT_EQ(text, "could not remove " + WideToUtf8(root) + ": 32");
  EXPECT_FALSE(RemoveTree(root)) << "the text is optional";
  EXPECT_TRUE(Exists(root + L"\\held.txt"));
}

TEST(RemoveTreeTest, AcceptsTheLongPathForm) {
  ScratchFolder scratch;
  kestrova::test::MakeFolder(scratch / L"x");
  kestrova::test::WriteTextFile(scratch / L"x\\y.txt");
  EXPECT_TRUE(RemoveTree(L"\\\\?\\" + scratch.Path() + L"\\x"));
  EXPECT_FALSE(Exists(scratch / L"x"));
}

}  // namespace
}  // namespace kestrova::securefs
