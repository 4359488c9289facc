#include "recovery/task_definition.h"

namespace kestrova::recovery {
namespace {

constexpr wchar_t kHead[] =
    L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
    L"<Task version=\"1.3\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\n"
    L"  <RegistrationInfo>\n"
    L"    <Author>Kestrova</Author>\n"
    L"    <Description>Repairs a Corvella update left incomplete by a power loss, and reinstalls Corvella when its "
    L"service is missing.</Description>\n"
    L"  </RegistrationInfo>\n"
    L"  <Triggers>\n"
    L"    <BootTrigger><Enabled>true</Enabled><Delay>PT2M</Delay></BootTrigger>\n"
    L"    <LogonTrigger><Enabled>true</Enabled><Delay>PT1M</Delay></LogonTrigger>\n"
    L"    <CalendarTrigger>\n"
    L"      <StartBoundary>2026-01-01T03:00:00</StartBoundary>\n"
    L"      <Enabled>true</Enabled>\n"
    L"      <RandomDelay>PT1H</RandomDelay>\n"
    L"      <ScheduleByDay><DaysInterval>1</DaysInterval></ScheduleByDay>\n"
    L"    </CalendarTrigger>\n"
    L"  </Triggers>\n"
    L"  <Principals>\n"
    L"    <Principal id=\"System\"><UserId>S-1-5-18</UserId><RunLevel>HighestAvailable</RunLevel></Principal>\n"
    L"  </Principals>\n"
    L"  <Settings>\n"
    L"    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>\n"
    L"    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\n"
    L"    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\n"
    L"    <StartWhenAvailable>true</StartWhenAvailable>\n"
    L"    <ExecutionTimeLimit>PT30M</ExecutionTimeLimit>\n"
    L"    <Hidden>true</Hidden>\n"
    L"    <Priority>7</Priority>\n"
    L"  </Settings>\n"
    L"  <Actions Context=\"System\">\n"
    L"    <Exec>\n"
    L"      <Command>";
constexpr wchar_t kMiddle[] = L"</Command>\n      <Arguments>";
constexpr wchar_t kTail[] = L"</Arguments>\n    </Exec>\n  </Actions>\n</Task>\n";

constexpr wchar_t kFallbackPowerShell[] = L"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe";

}  // namespace

const WideView kTaskXmlHead{kHead, sizeof kHead / sizeof kHead[0] - 1};
const WideView kTaskXmlMiddle{kMiddle, sizeof kMiddle / sizeof kMiddle[0] - 1};
const WideView kTaskXmlTail{kTail, sizeof kTail / sizeof kTail[0] - 1};

WideString XmlEscape(WideView text) {
  WideString escaped;
  escaped.reserve(text.size());
  for (const wchar_t c : text) {
    switch (c) {
      case L'"': escaped += L"&quot;"; break;
      case L'&': escaped += L"&amp;"; break;
      case L'<': escaped += L"&lt;"; break;
      case L'>': escaped += L"&gt;"; break;
      default: escaped += c; break;
    }
  }
  return escaped;
}

WideString TaskArguments(WideView script, WideView tool) {
  if (script.find(L'"') != WideView::npos || tool.find(L'"') != WideView::npos) return {};
  WideString arguments = L"-NoProfile -NonInteractive -ExecutionPolicy Bypass -WindowStyle Hidden -File \"";
  arguments += script;
  arguments += L"\" -PayloadExe \"";
  arguments += tool;
  arguments += L'"';
  return arguments;
}

WideString TaskXml(WideView command, WideView arguments) {
  WideString xml(kTaskXmlHead);
  xml += XmlEscape(command);
  xml += kTaskXmlMiddle;
  xml += XmlEscape(arguments);
  xml += kTaskXmlTail;
  return xml;
}

WideString PowerShellCommand(const wchar_t* systemFolder, unsigned length) {
  if (systemFolder == nullptr || length == 0 || length >= kSystemFolderCapacity) return kFallbackPowerShell;
  return WideString(systemFolder, length) + L"\\WindowsPowerShell\\v1.0\\powershell.exe";
}

}  // namespace kestrova::recovery
