#include "securefs/parent_by_syntax.h"

namespace kestrova::securefs {

WideString ParentBySyntax(WideView path) {
  const size_t last = path.find_last_of(L"\\/");
  if (last == WideView::npos) return WideString();
  // "C:\" without its separator would be "C:", which Windows reads as the current directory of drive C.
  if (last > 0 && path[last - 1] == L':') return WideString(path.substr(0, last + 1));
  return WideString(path.substr(0, last));
}

}  // namespace kestrova::securefs
