#include "securefs/trust_evaluation.h"

#include "securefs/trust_reader_win32.h"

namespace kestrova::securefs {

std::string CheckPathAndParents(const WideString& path, WalkMode mode) {
  const Win32TrustReader reader;
  return CheckPathAndParentsWith(reader, path, mode);
}

std::string CheckFolder(const WideString& path) {
  const Win32TrustReader reader;
  return CheckFolderWith(reader, path);
}

std::string CheckTrustedFolder(const WideString& path) {
  const Win32TrustReader reader;
  return CheckTrustedFolderWith(reader, path);
}

std::string CheckTrustedFile(const WideString& path) {
  const Win32TrustReader reader;
  return CheckTrustedFileWith(reader, path);
}

std::string CreateRightsText(const WideString& folder) {
  const Win32TrustReader reader;
  return CreateRightsTextWith(reader, folder);
}

}  // namespace kestrova::securefs
