#include "machine/state_key.h"

#include "core/text.h"

namespace kestrova::machine {
namespace {

bool ToWidePath(const std::string& path, WideString* wide) {
  *wide = Utf8ToWide(path);
  return !(wide->empty() && !path.empty());
}

}  // namespace

HKEY StateRoot(const StateLocation& location) { return location.current_user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

long OpenStateKey(const StateLocation& location, const std::string& path, REGSAM access, RegKey* key) {
  WideString wide;
  if (!ToWidePath(path, &wide)) return ERROR_INVALID_PARAMETER;
  return RegOpenKeyExW(StateRoot(location), wide.c_str(), 0, access | KEY_WOW64_64KEY, key->put());
}

long CreateStateKey(const StateLocation& location, const std::string& path, REGSAM access, RegKey* key) {
  WideString wide;
  if (!ToWidePath(path, &wide)) return ERROR_INVALID_PARAMETER;
  return RegCreateKeyExW(StateRoot(location), wide.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                         access | KEY_WOW64_64KEY, nullptr, key->put(), nullptr);
}

}  // namespace kestrova::machine
