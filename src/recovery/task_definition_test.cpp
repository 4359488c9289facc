#include "recovery/task_definition.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace kestrova::recovery {
namespace {

// The definition's fixed lines with their indentation, as the scheduler is to receive them; line 31 and 32 are
// completed by the test.
const std::vector<std::pair<int, std::wstring>> kLines = {
    {0, L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>"},
    {0, L"<Task version=\"1.3\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">"},
    {2, L"<RegistrationInfo>"},
    {4, L"<Author>Kestrova</Author>"},
    {4, L"<Description>Repairs a Corvella update left incomplete by a power loss, and reinstalls Corvella when its "
        L"service is missing.</Description>"},
    {2, L"</RegistrationInfo>"},
    {2, L"<Triggers>"},
    {4, L"<BootTrigger><Enabled>true</Enabled><Delay>PT2M</Delay></BootTrigger>"},
    {4, L"<LogonTrigger><Enabled>true</Enabled><Delay>PT1M</Delay></LogonTrigger>"},
    {4, L"<CalendarTrigger>"},
    {6, L"<StartBoundary>2026-01-01T03:00:00</StartBoundary>"},
    {6, L"<Enabled>true</Enabled>"},
    {6, L"<RandomDelay>PT1H</RandomDelay>"},
    {6, L"<ScheduleByDay><DaysInterval>1</DaysInterval></ScheduleByDay>"},
    {4, L"</CalendarTrigger>"},
    {2, L"</Triggers>"},
    {2, L"<Principals>"},
    {4, L"<Principal id=\"System\"><UserId>S-1-5-18</UserId><RunLevel>HighestAvailable</RunLevel></Principal>"},
    {2, L"</Principals>"},
    {2, L"<Settings>"},
    {4, L"<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>"},
    {4, L"<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>"},
    {4, L"<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>"},
    {4, L"<StartWhenAvailable>true</StartWhenAvailable>"},
    {4, L"<ExecutionTimeLimit>PT30M</ExecutionTimeLimit>"},
    {4, L"<Hidden>true</Hidden>"},
    {4, L"<Priority>7</Priority>"},
    {2, L"</Settings>"},
    {2, L"<Actions Context=\"System\">"},
    {4, L"<Exec>"},
    {6, L"<Command>"},
    {6, L"<Arguments>"},
    {4, L"</Exec>"},
    {2, L"</Actions>"},
    {0, L"</Task>"},
};

std::wstring ExpectedXml(const std::wstring& escapedCommand, const std::wstring& escapedArguments) {
  std::wstring xml;
  for (size_t i = 0; i < kLines.size(); ++i) {
    std::wstring text = kLines[i].second;
    if (i == 30) text += escapedCommand + L"</Command>";
    if (i == 31) text += escapedArguments + L"</Arguments>";
    xml += std::wstring(kLines[i].first, L' ') + text + L"\n";
  }
  return xml;
}

TEST(TaskDefinitionTest, HeadEndsWithTheOpeningCommandAt1314Characters) {
  EXPECT_EQ(kTaskXmlHead.size(), 1314u);
  EXPECT_TRUE(kTaskXmlHead.ends_with(L"\n      <Command>"));
  EXPECT_EQ(kTaskXmlMiddle, L"</Command>\n      <Arguments>");
  EXPECT_EQ(kTaskXmlTail, L"</Arguments>\n    </Exec>\n  </Actions>\n</Task>\n");
}

TEST(TaskDefinitionTest, XmlIsTheFixedLinesByteForByte) {
  const std::wstring command = L"C:\\Windows\\system32\\WindowsPowerShell\\v1.0\\powershell.exe";
  const std::wstring arguments = TaskArguments(L"C:\\ProgramData\\Kestrova\\Updates\\recover.ps1",
                                               L"C:\\Program Files\\Corvella\\KestrovaPayload.exe");
  const std::wstring xml = TaskXml(command, arguments);
  EXPECT_EQ(xml, ExpectedXml(command, XmlEscape(arguments)));
  EXPECT_EQ(xml.find(L'\r'), std::wstring::npos);
  EXPECT_EQ(xml.compare(0, kTaskXmlHead.size(), kTaskXmlHead), 0);
}

TEST(TaskDefinitionTest, AmpersandInAPathIsEscapedOnceInTheXml) {
  const std::wstring arguments =
      TaskArguments(L"C:\\Tom & Jerry\\Updates\\recover.ps1", L"C:\\Tom & Jerry\\App\\KestrovaPayload.exe");
  const std::wstring xml = TaskXml(L"C:\\A&B\\powershell.exe", arguments);
  EXPECT_EQ(xml, ExpectedXml(L"C:\\A&amp;B\\powershell.exe",
                             L"-NoProfile -NonInteractive -ExecutionPolicy Bypass -WindowStyle Hidden -File "
                             L"&quot;C:\\Tom &amp; Jerry\\Updates\\recover.ps1&quot; -PayloadExe "
                             L"&quot;C:\\Tom &amp; Jerry\\App\\KestrovaPayload.exe&quot;"));
  // Every ampersand left in the text starts an entity.
  for (size_t at = xml.find(L'&'); at != std::wstring::npos; at = xml.find(L'&', at + 1)) {
    const std::wstring rest = xml.substr(at, 6);
    EXPECT_TRUE(rest.starts_with(L"&amp;") || rest.starts_with(L"&quot;")) << WideToUtf8(rest);
  }
}

TEST(TaskDefinitionTest, XmlEscapeReplacesExactlyFourCharacters) {
  const std::vector<std::pair<std::wstring, std::wstring>> cases = {
      {L"", L""},
      {L"plain C:\\x y", L"plain C:\\x y"},
      {L"a&b", L"a&amp;b"},
      {L"\"q\"", L"&quot;q&quot;"},
      {L"<tag>", L"&lt;tag&gt;"},
      {L"it's", L"it's"},
      {L"&amp;", L"&amp;amp;"},
      {L"C:\\Pr\u00fcfung\\\u6587\u4ef6 & \U0001F600", L"C:\\Pr\u00fcfung\\\u6587\u4ef6 &amp; \U0001F600"},
  };
  for (const auto& [text, escaped] : cases) EXPECT_EQ(XmlEscape(text), escaped) << WideToUtf8(text);
}

TEST(TaskDefinitionTest, TaskArgumentsQuoteEachPathAndRefuseAQuoteInEither) {
  EXPECT_EQ(TaskArguments(L"C:\\ProgramData\\Kestrova\\Updates\\recover.ps1",
                          L"C:\\Program Files\\Corvella\\KestrovaPayload.exe"),
            L"-NoProfile -NonInteractive -ExecutionPolicy Bypass -WindowStyle Hidden -File "
            L"\"C:\\ProgramData\\Kestrova\\Updates\\recover.ps1\" -PayloadExe "
            L"\"C:\\Program Files\\Corvella\\KestrovaPayload.exe\"");
  EXPECT_EQ(TaskArguments(L"C:\\a&b\\recover.ps1", L"C:\\a&b\\KestrovaPayload.exe"),
            L"-NoProfile -NonInteractive -ExecutionPolicy Bypass -WindowStyle Hidden -File "
            L"\"C:\\a&b\\recover.ps1\" -PayloadExe \"C:\\a&b\\KestrovaPayload.exe\"");
  EXPECT_EQ(TaskArguments(L"C:\\x\" -Command evil \"\\recover.ps1", L"C:\\ok\\KestrovaPayload.exe"), L"");
  EXPECT_EQ(TaskArguments(L"C:\\ok\\recover.ps1", L"C:\\x\"\\KestrovaPayload.exe"), L"");
  EXPECT_EQ(TaskArguments(L"\"", L""), L"");
  // An empty path still stands between its quotes; whether it is usable is decided before.
  EXPECT_EQ(TaskArguments(L"", L""),
            L"-NoProfile -NonInteractive -ExecutionPolicy Bypass -WindowStyle Hidden -File \"\" -PayloadExe \"\"");
}

TEST(TaskDefinitionTest, PowerShellUnderTheSystemFolderOrTheFixedPath) {
  const std::wstring fallback = L"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe";
  const wchar_t system[] = L"D:\\WINNT\\system32";
  EXPECT_EQ(PowerShellCommand(system, 17), L"D:\\WINNT\\system32\\WindowsPowerShell\\v1.0\\powershell.exe");
  EXPECT_EQ(PowerShellCommand(system, 0), fallback);
  EXPECT_EQ(PowerShellCommand(nullptr, 17), fallback);
  const std::wstring long259(259, L'x');
  EXPECT_EQ(PowerShellCommand(long259.c_str(), 259), long259 + L"\\WindowsPowerShell\\v1.0\\powershell.exe");
  const std::wstring long300(300, L'x');
  EXPECT_EQ(PowerShellCommand(long300.c_str(), 260), fallback);
  EXPECT_EQ(PowerShellCommand(long300.c_str(), 300), fallback);
}

}  // namespace
}  // namespace kestrova::recovery
