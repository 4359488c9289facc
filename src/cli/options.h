// The parsed command line of one run and the rules that read it: the sub-command, option values by name, the
// --exclude list and the --repair flag. Owns no behaviour of the commands themselves; the dispatcher decides
// which options a command needs.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/text.h"

namespace kestrova {

struct Options {
  std::string command;                       // the first argument, unchanged, whatever it looks like
  std::map<std::string, std::string> values; // "--name" -> value; last occurrence wins; no value -> ""
  std::vector<std::string> excludes;         // every --exclude value in order, duplicates and empties kept
  std::set<std::string> flags;               // only "--repair"

  // The value, or "" when the name is absent.
  std::string GetOption(const std::string& name) const;
  // The value converted to UTF-16; "" when absent or not valid UTF-8.
  WideString GetOptionWide(const std::string& name) const;
  // Whether the name has a value (flags are not seen here).
  bool HasOption(const std::string& name) const;
};

// Fills `options` from the wide argument vector (argv[0] is the program). False for an unusable command line:
// no command, or an argument in name position that is shorter than two bytes or does not begin with "--".
bool ParseCommandLine(int argc, const wchar_t* const* argv, Options& options);

// Drops a final "." after a separator, then trailing separators while longer than three characters:
// C:\ stays C:\, C:\dir\\ and C:\dir\. become C:\dir.
WideString NormalizeFolderArgument(WideView text);

// The fixed usage text, printed to standard error whenever a run ends with code 2.
const char* UsageText();

}  // namespace kestrova
