// The recovery task's definition as text: the Task Scheduler XML made of fixed lines around the escaped command and
// arguments, the PowerShell argument text and the PowerShell path. Portable and pure; registering the text with the
// Task Scheduler belongs to task_scheduler_win32.h.
#pragma once

#include <string_view>

#include "core/text.h"

namespace kestrova::recovery {

// The task definition up to and including the opening <Command> of the Exec action (1314 characters), the piece
// between the command and the arguments, and the piece after the arguments. Lines end in a line feed alone.
extern const WideView kTaskXmlHead;
extern const WideView kTaskXmlMiddle;
extern const WideView kTaskXmlTail;

// Replaces '"' with "&quot;", '&' with "&amp;", '<' with "&lt;" and '>' with "&gt;"; every other character, the
// apostrophe included, is copied unchanged.
WideString XmlEscape(WideView text);

// "-NoProfile -NonInteractive -ExecutionPolicy Bypass -WindowStyle Hidden -File "<script>" -PayloadExe "<tool>"".
// Empty when either path holds a double quote, which no quoting of the PowerShell command line could carry.
WideString TaskArguments(WideView script, WideView tool);

// The whole definition: head, XmlEscape(command), middle, XmlEscape(arguments), tail.
WideString TaskXml(WideView command, WideView arguments);

// PowerShell under the system folder: `systemFolder` as GetSystemDirectoryW filled a buffer of 260 characters and
// `length` as it returned; 0 (failure) or 260 and more (the buffer was too small) give the fixed
// "C:\Windows\System32\WindowsPowerShell\v1.0\powershell.exe".
WideString PowerShellCommand(const wchar_t* systemFolder, unsigned length);

// The buffer PowerShellCommand expects, in characters.
inline constexpr unsigned kSystemFolderCapacity = 260;

}  // namespace kestrova::recovery
