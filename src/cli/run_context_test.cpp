#include "cli/run_context.h"

#include <gtest/gtest.h>

namespace kestrova {
namespace {

Options With(std::initializer_list<std::pair<const char*, const char*>> values) {
  Options options;
  options.command = "x";
  for (const auto& [name, value] : values) options.values[name] = value;
  return options;
}

TEST(RunContextTest, StateLocationDefaultsToTheMachineKey) {
  const StateLocation state = ResolveStateLocation(With({}));
  EXPECT_FALSE(state.current_user);
  EXPECT_EQ(state.key, "SOFTWARE\\Kestrova\\Corvella");
}

TEST(RunContextTest, StateRootIsComparedExactly) {
  EXPECT_TRUE(ResolveStateLocation(With({{"--state-root", "hkcu"}})).current_user);
  EXPECT_FALSE(ResolveStateLocation(With({{"--state-root", "HKCU"}})).current_user);
  EXPECT_FALSE(ResolveStateLocation(With({{"--state-root", "hkcu "}})).current_user);
  const StateLocation keyOnly = ResolveStateLocation(With({{"--state-key", "SOFTWARE\\Test"}}));
  EXPECT_FALSE(keyOnly.current_user);
  EXPECT_EQ(keyOnly.key, "SOFTWARE\\Test");
  EXPECT_EQ(ResolveStateLocation(With({{"--state-key", ""}})).key, "");
}

TEST(RunContextTest, PolicyLocation) {
  const PolicyLocation none = ResolvePolicyLocation(With({}));
  EXPECT_FALSE(none.current_user);
  EXPECT_EQ(none.key, L"");
  const PolicyLocation user = ResolvePolicyLocation(With({{"--policy-root", "hkcu"}, {"--policy-key", "S\\P"}}));
  EXPECT_TRUE(user.current_user);
  EXPECT_EQ(user.key, L"S\\P");
  EXPECT_FALSE(ResolvePolicyLocation(With({{"--policy-root", "HKCU"}})).current_user);
}

TEST(RunContextTest, UpdatesFolderFromTheOptionEvenWhenEmpty) {
  const WideString fallback = L"C:\\ProgramData\\Kestrova\\Updates";
  EXPECT_EQ(ResolveUpdatesFolder(With({}), fallback), fallback);
  EXPECT_EQ(ResolveUpdatesFolder(With({{"--updates-dir", "D:\\u\\"}}), fallback), L"D:\\u");
  EXPECT_EQ(ResolveUpdatesFolder(With({{"--updates-dir", ""}}), fallback), L"");
}

TEST(RunContextTest, InstallFolderParentKeepsTheRootBackslash) {
  EXPECT_EQ(InstallFolderParent(L"C:\\Corvella"), L"C:\\");
  EXPECT_EQ(InstallFolderParent(L"C:\\Program Files\\Corvella"), L"C:\\Program Files");
  EXPECT_EQ(InstallFolderParent(L"C:"), L"");
  EXPECT_EQ(InstallFolderParent(L"C:\\"), L"C:\\");
  EXPECT_EQ(InstallFolderParent(L"\\\\server\\share\\app"), L"\\\\server\\share");
  EXPECT_EQ(InstallFolderParent(L"\\x"), L"");
}

}  // namespace
}  // namespace kestrova
