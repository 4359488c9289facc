#include "recovery/script_file.h"

namespace kestrova::recovery {

std::string ScriptSizeProblem(uint64_t size) {
  if (size >= 1 && size <= kMaxScriptBytes) return {};
  return "size " + std::to_string(size) + " is out of range";
}

}  // namespace kestrova::recovery
