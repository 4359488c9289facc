#include "support/test_paths.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace kestrova::test {

std::string SourcePath(const std::string& relative) {
  const char* root = std::getenv("KESTROVA_SOURCE_DIR");
  std::string base = root != nullptr ? root : ".";
#ifdef _WIN32
  // ctest hands the Unix path; Wine shows the Linux root as drive Z:.
  if (!base.empty() && base[0] == '/') base = "Z:" + base;
#endif
  return base + "/" + relative;
}

std::vector<unsigned char> ReadWholeFile(const std::string& path) {
  std::vector<unsigned char> data;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    ADD_FAILURE() << "cannot open " << path;
    return data;
  }
  unsigned char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.insert(data.end(), buffer, buffer + got);
  std::fclose(f);
  return data;
}

}  // namespace kestrova::test
