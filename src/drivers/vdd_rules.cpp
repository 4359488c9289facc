#include "drivers/vdd_rules.h"

#include <algorithm>

namespace kestrova::drivers {
namespace {

char LowerByte(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

}  // namespace

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = LowerByte(c);
  return lower;
}

std::string_view FileNameOf(std::string_view path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::optional<std::string> PickVddInf(std::string_view folder, const std::vector<std::string>& files) {
  const std::string wanted = AsciiLower(kVddInfName);
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.remove_suffix(1);
  const auto topLevel = [folder](std::string_view path) {
    return path.size() > folder.size() + 1 && path.substr(0, folder.size()) == folder &&
           path.substr(folder.size() + 1).find_first_of("\\/") == std::string_view::npos;
  };
  std::vector<const std::string*> namedBelow;
  std::vector<const std::string*> others;
  for (const std::string& path : files) {
    const std::string name = AsciiLower(FileNameOf(path));
    if (!EndsWith(name, ".inf")) continue;
    if (name != wanted) {
      others.push_back(&path);
    } else if (topLevel(path)) {
      return path;
    } else {
      namedBelow.push_back(&path);
    }
  }
  // Below the top level a name can come from anyone who could add a subfolder; two of them leave no single choice.
  if (namedBelow.size() == 1) return *namedBelow.front();
  if (namedBelow.empty() && others.size() == 1) return *others.front();
  return std::nullopt;
}

bool HardwareIdsContain(const std::vector<std::string>& deviceIds, std::string_view hardwareId) {
  if (hardwareId.empty()) return false;
  const std::string wanted = AsciiLower(hardwareId);
  for (const std::string& id : deviceIds) {
    if (AsciiLower(id) == wanted) return true;
  }
  return false;
}

bool IsPublishedInfName(std::string_view name) {
  // Only "oem", digits and ".inf": the name goes into pnputil's command line, where a blank, a quote or anything
  // else the registry may hold would add arguments of its own.
  const std::string lower = AsciiLower(name);
  if (lower.size() < 8 || lower.compare(0, 3, "oem") != 0 || !EndsWith(lower, ".inf")) return false;
  const std::string_view digits = std::string_view(lower).substr(3, lower.size() - 7);
  return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool MentionsVddInf(std::string_view bytes) {
  const std::string narrow = AsciiLower(kVddInfName);
  std::string wide;
  for (const char c : narrow) {
    wide += c;
    wide += '\0';
  }
  const std::string lower = AsciiLower(bytes);
  return lower.find(narrow) != std::string::npos || lower.find(wide) != std::string::npos;
}

}  // namespace kestrova::drivers
