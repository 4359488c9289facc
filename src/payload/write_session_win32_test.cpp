#include "payload/write_session.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "payload/command_test_support_win32.h"
#include "securefs/paths.h"

namespace kestrova::payload {
namespace {

using test::Bytes;

// Files 0..count-1 written and queued; the one at `wrong` holds other bytes than its entry, or is missing.
struct Outcome {
  bool finished = false;
  uint64_t before = 0;
  std::string error, wrongPath;
};
Outcome ProveFiles(int count, int wrong, bool missing) {
  test::ScratchFolder scratch;
  Outcome outcome;
  WriteSession session;
  for (int i = 0; i < count; ++i) {
    const Bytes content = test::Incompressible(100 + 70000 * (i % 3), i);
    const WideString path = scratch / (L"f" + std::to_wstring(i));
    Entry entry{"f", content.size(), test::DigestOf(content)};
    if (i == wrong) {
      outcome.wrongPath = WideToUtf8(securefs::DisplayPath(path));
      entry.sha256[0] ^= missing ? 0 : 1;
    }
    EXPECT_TRUE((i == wrong && missing) || test::WriteBytes(path, content));
    session.Prove(path, entry);
  }
  outcome.finished = session.Finish(&outcome.before, &outcome.error);
  return outcome;
}

TEST(WriteSessionTest, TheFirstFileThatFailsItsProofIsNamedWithTheCountBeforeIt) {
  const struct {
    int count, wrong;
    bool missing;
  } rows[] = {{1, 0, false}, {200, 0, false}, {200, 199, true}, {200, 137, false}};
  for (const auto& row : rows) {
    const Outcome outcome = ProveFiles(row.count, row.wrong, row.missing);
    EXPECT_FALSE(outcome.finished) << row.wrong;
    EXPECT_EQ(outcome.before, static_cast<uint64_t>(row.wrong));
    EXPECT_EQ(outcome.error, outcome.wrongPath + " does not match the archive after writing");
  }
  // More files than may wait at once, all sound.
  EXPECT_TRUE(ProveFiles(static_cast<int>(WriteSession::kMaxWaiting) * 3, -1, false).finished);
}

}  // namespace
}  // namespace kestrova::payload
