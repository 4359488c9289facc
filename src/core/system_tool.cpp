#include "core/system_tool.h"

namespace kestrova {
namespace {

bool IsBlankOrQuote(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '"'; }

}  // namespace

std::string SystemToolCommandLine(std::string_view systemFolder, std::string_view tool, std::string_view arguments) {
  std::string line;
  line.reserve(systemFolder.size() + tool.size() + arguments.size() + 8);
  line += '"';
  line += systemFolder;
  line += '\\';
  line += tool;
  line += ".exe\" ";
  line += arguments;
  return line;
}

std::string_view TrimBlanksAndQuotes(std::string_view text) {
  while (!text.empty() && IsBlankOrQuote(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankOrQuote(text.back())) text.remove_suffix(1);
  return text;
}

std::vector<std::string> ToolOutputLines(std::string_view output) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string_view::npos) end = output.size();
    const std::string_view piece = TrimBlanksAndQuotes(output.substr(start, end - start));
    if (!piece.empty()) lines.emplace_back(piece);
    start = end + 1;
  }
  return lines;
}

}  // namespace kestrova
