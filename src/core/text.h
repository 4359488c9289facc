// Text conversion shared by every subsystem: UTF-8 (option values, log messages, archive paths) and UTF-16
// (file-system paths). Strict in one direction, lenient in the other, as the rest of the tool relies on.
// Portable: a WideString holds UTF-16 code units also where wchar_t is wider, so the host build tests the same rules.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

using WideString = std::wstring;
using WideView = std::wstring_view;

// UTF-8 to UTF-16. Invalid UTF-8 (bad lead or continuation bytes, overlong forms, surrogates, values above
// U+10FFFF, a truncated sequence) yields the empty text, as does the empty input.
WideString Utf8ToWide(std::string_view utf8);

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD, the replacement the platform's converter uses.
std::string WideToUtf8(WideView wide);

// Whether the bytes are well-formed UTF-8 by the strict rules above (the empty text is well-formed).
bool IsWellFormedUtf8(std::string_view utf8);

}  // namespace kestrova
