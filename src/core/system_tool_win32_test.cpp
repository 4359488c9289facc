#include "core/system_tool.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/text.h"
#include "core/unique_handle_win32.h"
#include "support/fake_tool_win32.h"
#include "support/log_capture_win32.h"

namespace kestrova {
namespace {

using test::FakeSystemTool;
using test::LogCapture;
using Lines = std::vector<std::string>;

std::wstring UniqueToolName(const wchar_t* what) {
  return std::wstring(L"kestrova-fake-") + what + L"-" + std::to_wstring(GetCurrentProcessId());
}

class RunSystemToolTest : public ::testing::Test {
 protected:
  std::string Name(const std::wstring& wide) const { return WideToUtf8(wide); }
  LogCapture log_;
};

TEST_F(RunSystemToolTest, CollectsOutputLargerThanOneReadCompletelyAndReturnsTheExitCode) {
  const std::wstring name = UniqueToolName(L"large");
  // 1000 lines of 100 bytes: far beyond one 4096-byte read and beyond the pipe's own buffer.
  const std::string line = std::string(98, 'x') + "\r\n";
  FakeSystemTool fake(name, "exit=7\nout=" + std::string(98, 'x') + "\\r\\n\nrepeat=1000\n");
  std::string output = "stale";
  const long code = RunSystemTool("drivers", Name(name).c_str(), "/a \"b c\"", 60000, &output);
  EXPECT_EQ(code, 7);
  ASSERT_EQ(output.size(), 100000u);
  for (size_t i = 0; i < output.size(); i += line.size()) ASSERT_EQ(output.compare(i, line.size(), line), 0) << i;
  EXPECT_EQ(fake.Calls(), Lines{fake.QuotedProgram() + "/a \"b c\""});
  EXPECT_EQ(log_.Lines(), Lines{"INFO drivers: " + fake.QuotedProgram() + "/a \"b c\""});
}

TEST_F(RunSystemToolTest, PassesEveryExitCodeThrough) {
  const std::wstring name = UniqueToolName(L"codes");
  FakeSystemTool fake(name, "exit=0\n");
  for (const long expected : {0L, 1L, 259L, 3010L, 0x7FFFFFFFL}) {
    fake.SetScript("exit=" + std::to_string(expected) + "\n");
    std::string output;
    EXPECT_EQ(RunSystemTool("ports", Name(name).c_str(), "", 60000, &output), expected);
    EXPECT_EQ(output, "");
  }
  EXPECT_EQ(fake.Calls().size(), 5u);
}

TEST_F(RunSystemToolTest, StandardOutputAndErrorShareOnePipeInWriteOrder) {
  const std::wstring name = UniqueToolName(L"streams");
  FakeSystemTool fake(name, "out=one\\r\\n\nerr=two\\r\\n\nout=three\n");
  std::string output;
  EXPECT_EQ(RunSystemTool("drivers", Name(name).c_str(), "x", 60000, &output), 0);
  EXPECT_EQ(output, "one\r\ntwo\r\nthree");
}

TEST_F(RunSystemToolTest, KeepsRawBytesWithoutCodePageConversion) {
  const std::wstring name = UniqueToolName(L"raw");
  FakeSystemTool fake(name, "out=\\xff\\xfeA\\x00\\xe9\\r\\n\n");
  std::string output;
  EXPECT_EQ(RunSystemTool("drivers", Name(name).c_str(), "", 60000, &output), 0);
  EXPECT_EQ(output, std::string("\xff\xfe" "A\0\xe9\r\n", 7));
}

TEST_F(RunSystemToolTest, TerminatesAToolThatOutlivesItsLimitAndReturnsMinusOne) {
  const std::wstring name = UniqueToolName(L"slow");
  // The tool exits 0 if it is left alone; the runner must report -1, not the 1 it terminated it with.
  FakeSystemTool fake(name, "out=started\\r\\n\ndelay=30000\nexit=0\n");
  std::string output;
  const long code = RunSystemTool("ports", Name(name).c_str(), "show", 1500, &output);
  EXPECT_EQ(code, -1);
  EXPECT_EQ(output, "started\r\n");
  EXPECT_EQ(log_.Lines(), (Lines{"INFO ports: " + fake.QuotedProgram() + "show",
                                 "ERROR ports: " + Name(name) + " did not finish in 1 s (wait 258); terminating it"}));
}

TEST_F(RunSystemToolTest, AMissingToolCannotBeStartedWithTheSystemsCode) {
  const std::string name = Name(UniqueToolName(L"missing"));
  std::string output = "stale";
  EXPECT_EQ(RunSystemTool("drivers", name.c_str(), "/enum-drivers", 60000, &output), -1);
  EXPECT_EQ(output, "");
  const Lines lines = log_.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "ERROR drivers: could not start " + name + ": 2");
}

TEST_F(RunSystemToolTest, DoesNotWaitForAGrandchildThatKeepsThePipeOpen) {
  const std::wstring name = UniqueToolName(L"parent");
  // The grandchild inherits the write end and sleeps far longer than the runner waits for its reader.
  FakeSystemTool fake(name, "out=parent done\\r\\n\ngrandchild=15000\nexit=3\n");
  std::string output;
  const ULONGLONG started = GetTickCount64();
  EXPECT_EQ(RunSystemTool("drivers", Name(name).c_str(), "", 60000, &output), 3);
  EXPECT_LT(GetTickCount64() - started, 12000u);
  EXPECT_EQ(output, "parent done\r\n");
}

// The stand-in keeps state between calls the way netsh keeps its exclusions: "show" prints a state file and
// "add" replaces it, so a caller's show-add-show sequence sees the change.
TEST_F(RunSystemToolTest, StandInRulesSelectByArgumentsAndRewriteAStateFile) {
  const std::wstring name = UniqueToolName(L"state");
  wchar_t temp[MAX_PATH];
  const std::string folder = WideToUtf8(std::wstring(temp, GetTempPathW(MAX_PATH, temp)));
  const std::string state = folder + "kestrova-state-" + std::to_string(GetCurrentProcessId()) + ".txt";
  const std::string after = state + ".after";
  ASSERT_TRUE(test::WriteBytes(Utf8ToWide(state), "no ranges\r\n"));
  ASSERT_TRUE(test::WriteBytes(Utf8ToWide(after), "50990 50999\r\n"));
  FakeSystemTool fake(name, "exit=1\nout=unknown\n"
                            "when=show excludedportrange\nout-file=" + state + "\n"
                            "when=add excludedportrange\nout=Ok.\\r\\n\ncopy=" + after + "|" + state + "\n");
  std::string output;
  EXPECT_EQ(RunSystemTool("ports", Name(name).c_str(), "int ipv4 show excludedportrange protocol=tcp", 60000, &output), 0);
  EXPECT_EQ(output, "no ranges\r\n");
  EXPECT_EQ(RunSystemTool("ports", Name(name).c_str(), "int ipv4 add excludedportrange protocol=tcp", 60000, &output), 0);
  EXPECT_EQ(output, "Ok.\r\n");
  EXPECT_EQ(RunSystemTool("ports", Name(name).c_str(), "int ipv4 show excludedportrange protocol=tcp", 60000, &output), 0);
  EXPECT_EQ(output, "50990 50999\r\n");
  EXPECT_EQ(RunSystemTool("ports", Name(name).c_str(), "int ipv4 delete", 60000, &output), 1);
  EXPECT_EQ(output, "unknown");
  EXPECT_EQ(fake.Calls().size(), 4u);
  DeleteFileW(Utf8ToWide(state).c_str());
  DeleteFileW(Utf8ToWide(after).c_str());
}

TEST_F(RunSystemToolTest, ANetshStandInRunsInsteadOfWinesBuiltInOne) {
  test::NativeNetshOverride native;
  FakeSystemTool fake(L"netsh", "exit=0\nout=stand-in netsh\\r\\n\n");
  std::string output;
  EXPECT_EQ(RunSystemTool("ports", "netsh", "int ipv4 show excludedportrange protocol=tcp", 60000, &output), 0);
  EXPECT_EQ(output, "stand-in netsh\r\n");
  EXPECT_EQ(fake.Calls(), Lines{fake.QuotedProgram() + "int ipv4 show excludedportrange protocol=tcp"});
}

// A tool that keeps its pipe open without writing (or a grandchild holding it) must still meet the time limit when
// the runner drains the pipe itself; an event stands in for the tool's process.
TEST(DrainWhileWaitingTest, AHungWriterMeetsTheLimitAndAFinishedOneIsReadToTheEnd) {
  for (const bool finishes : {false, true}) {
    SCOPED_TRACE(finishes ? "finishes" : "hangs");
    KernelHandle readEnd;
    KernelHandle writeEnd;
    ASSERT_TRUE(CreatePipe(readEnd.put(), writeEnd.put(), nullptr, 0));
    KernelHandle process(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const std::string written(3000, 'x');  // fits the pipe's buffer: this thread is its only writer
    DWORD put = 0;
    ASSERT_TRUE(WriteFile(writeEnd.get(), written.data(), static_cast<DWORD>(written.size()), &put, nullptr));
    if (finishes) SetEvent(process.get());
    std::string collected;
    const ULONGLONG start = GetTickCount64();
    const unsigned long waited = DrainWhileWaiting(readEnd.get(), process.get(), 400, collected);
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_EQ(waited, finishes ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
    EXPECT_EQ(collected, written);
    EXPECT_LT(elapsed, 5000u);
    if (!finishes) {
      EXPECT_GE(elapsed, 390u);
    }
  }
}

TEST(LogToolOutputTest, LogsOnlyNonEmptyTrimmedLinesWithTwoBlanksAndThePrefix) {
  LogCapture log;
  LogToolOutput("pnputil", "Microsoft PnP Utility\r\n\r\n\" \"  \r\n  Driver package added successfully.\r\n\r\n");
  LogToolOutput("netsh", "Ok.\r\n\r\n");
  LogToolOutput("netsh", "");
  EXPECT_EQ(log.Lines(), (Lines{"INFO   pnputil: Microsoft PnP Utility", "INFO   pnputil: Driver package added successfully.",
                                "INFO   netsh: Ok."}));
}

}  // namespace
}  // namespace kestrova
