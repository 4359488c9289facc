#include "appdirswap/holders.h"

#include "securefs/paths.h"

namespace kestrova::appdirswap {

std::vector<std::string> HolderLines(std::string_view prefix, const WideString& path, IHolderFinder& finder) {
  const std::string head = std::string(prefix) + ": ";
  const std::string shown = WideToUtf8(securefs::DisplayPath(path));
  std::vector<HolderInfo> holders;
  uint32_t error = 0;
  if (!finder.FindHolders(path, holders, error)) {
    return {head + "could not ask who holds files in " + shown + ": error " + std::to_string(error)};
  }
  if (holders.empty()) return {head + "no process is listed as holding files in " + shown};

  std::vector<std::string> lines;
  std::string count = head + std::to_string(holders.size()) + " process(es) hold files in " + shown;
  if (holders.size() > kMaxHolderLines) count += "; the first " + std::to_string(kMaxHolderLines) + " follow";
  lines.push_back(std::move(count));
  for (size_t i = 0; i < holders.size() && i < kMaxHolderLines; ++i) {
    const HolderInfo& holder = holders[i];
    std::string line = head + "PID " + std::to_string(holder.pid);
    if (!holder.image.empty()) line += " " + holder.image;
    if (!holder.user.empty()) line += " (" + holder.user + ")";
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace kestrova::appdirswap
