#include "cli/options.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace kestrova {
namespace {

// Parses a command line given without the program path.
bool Parse(std::initializer_list<const wchar_t*> args, Options& options) {
  std::vector<const wchar_t*> argv{L"KestrovaPayload.exe"};
  argv.insert(argv.end(), args.begin(), args.end());
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data(), options);
}

TEST(ParseCommandLineTest, RejectsAMissingCommand) {
  Options options;
  EXPECT_FALSE(Parse({}, options));
}

TEST(ParseCommandLineTest, AcceptsACommandAloneWhateverItLooksLike) {
  Options options;
  ASSERT_TRUE(Parse({L"--weird"}, options));
  EXPECT_EQ(options.command, "--weird");
  EXPECT_TRUE(options.values.empty());
}

TEST(ParseCommandLineTest, KeepsExcludesInOrderWithDuplicates) {
  Options options;
  ASSERT_TRUE(Parse({L"pack", L"--exclude", L"a", L"--exclude", L"b", L"--exclude", L"a", L"--exclude", L""},
                    options));
  EXPECT_EQ(options.excludes, (std::vector<std::string>{"a", "b", "a", ""}));
  EXPECT_FALSE(options.HasOption("--exclude"));
}

TEST(ParseCommandLineTest, ANameFollowedByAnotherNameHasTheEmptyValue) {
  Options options;
  ASSERT_TRUE(Parse({L"install-vdd", L"--hwid", L"--inf-dir", L"D"}, options));
  EXPECT_TRUE(options.HasOption("--hwid"));
  EXPECT_EQ(options.GetOption("--hwid"), "");
  EXPECT_EQ(options.GetOption("--inf-dir"), "D");
}

TEST(ParseCommandLineTest, ShortAndSingleDashTextsAreValues) {
  Options options;
  ASSERT_TRUE(Parse({L"x", L"--a", L"-", L"--b", L"-x", L"--c", L"", L"--d", L"--"}, options));
  EXPECT_EQ(options.GetOption("--a"), "-");
  EXPECT_EQ(options.GetOption("--b"), "-x");
  EXPECT_TRUE(options.HasOption("--c"));
  EXPECT_EQ(options.GetOption("--c"), "");
  // "--" begins with two dashes, so it is the next name, not --d's value.
  EXPECT_EQ(options.GetOption("--d"), "");
  EXPECT_TRUE(options.HasOption("--"));
}

TEST(ParseCommandLineTest, RepairIsAFlagThatNeverTakesAValue) {
  Options options;
  EXPECT_FALSE(Parse({L"verify", L"--dir", L"D", L"--repair", L"extra"}, options));
  Options flagged;
  ASSERT_TRUE(Parse({L"verify", L"--repair", L"--dir", L"D"}, flagged));
  EXPECT_EQ(flagged.flags.count("--repair"), 1u);
  EXPECT_FALSE(flagged.HasOption("--repair"));
  EXPECT_EQ(flagged.GetOption("--dir"), "D");
}

TEST(ParseCommandLineTest, RejectsNamesThatDoNotStartWithTwoDashes) {
  Options a, b, c;
  EXPECT_FALSE(Parse({L"x", L"-a"}, a));
  EXPECT_FALSE(Parse({L"x", L"-"}, b));
  EXPECT_FALSE(Parse({L"x", L"--a", L"v", L"stray"}, c));
}

TEST(ParseCommandLineTest, LastOccurrenceWinsAndNamesAreCaseSensitive) {
  Options options;
  ASSERT_TRUE(Parse({L"x", L"--src", L"one", L"--SRC", L"upper", L"--src", L"two"}, options));
  EXPECT_EQ(options.GetOption("--src"), "two");
  EXPECT_EQ(options.GetOption("--SRC"), "upper");
  EXPECT_EQ(options.values.size(), 2u);
}

TEST(ParseCommandLineTest, ConvertsValuesToUtf8AndBack) {
  Options options;
  ASSERT_TRUE(Parse({L"x", L"--out", L"C:\\Caf\u00e9\\\u6f22"}, options));
  EXPECT_EQ(options.GetOption("--out"), "C:\\Caf\xc3\xa9\\\xe6\xbc\xa2");
  EXPECT_EQ(options.GetOptionWide("--out"), L"C:\\Caf\u00e9\\\u6f22");
  EXPECT_EQ(options.GetOptionWide("--absent"), L"");
}

TEST(NormalizeFolderArgumentTest, FollowsTheCleanUpRules) {
  EXPECT_EQ(NormalizeFolderArgument(L"C:\\"), L"C:\\");
  EXPECT_EQ(NormalizeFolderArgument(L"C:\\dir\\\\"), L"C:\\dir");
  EXPECT_EQ(NormalizeFolderArgument(L"C:\\dir\\."), L"C:\\dir");
  EXPECT_EQ(NormalizeFolderArgument(L"D:\\data\\."), L"D:\\data");
  EXPECT_EQ(NormalizeFolderArgument(L"C:\\dir/"), L"C:\\dir");
  EXPECT_EQ(NormalizeFolderArgument(L"C:\\."), L"C:\\");
  EXPECT_EQ(NormalizeFolderArgument(L"C:\\Program Files\\Corvella\\"), L"C:\\Program Files\\Corvella");
  // Only one final dot goes, and only after a separator.
  EXPECT_EQ(NormalizeFolderArgument(L"C:\\dir.."), L"C:\\dir..");
  EXPECT_EQ(NormalizeFolderArgument(L"C:\\dir\\.\\"), L"C:\\dir\\.");
  EXPECT_EQ(NormalizeFolderArgument(L"\\."), L"\\");
  EXPECT_EQ(NormalizeFolderArgument(L""), L"");
  // Three characters are never shortened, separators or not.
  EXPECT_EQ(NormalizeFolderArgument(L"a\\\\\\"), L"a\\\\");
}

TEST(UsageTextTest, ListsEveryCommandOnItsOwnIndentedLine) {
  const std::string usage = UsageText();
  EXPECT_EQ(usage.rfind("usage:\n  KestrovaPayload pack --src <dir>", 0), 0u);
  size_t lines = 0;
  for (size_t at = usage.find("\n  KestrovaPayload "); at != std::string::npos;
       at = usage.find("\n  KestrovaPayload ", at + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, 19u);
  EXPECT_NE(usage.find("  KestrovaPayload check-appdir --appdir <APPDIR>\n"
                       "every command but pack also takes [--log <file>] [--updates-dir <dir>];\n"
                       "record-managed, uninstall and release-ports take [--state-root hkcu] [--state-key <key>] for "
                       "tests\n"),
            std::string::npos);
  EXPECT_EQ(usage.find('\r'), std::string::npos);
}

}  // namespace
}  // namespace kestrova
