// Where the tests find the project's checked-in test data, in both builds.
#pragma once

#include <string>
#include <vector>

namespace kestrova::test {

// The source tree's path to a file below it ("src/payload/testdata/x"), in a form the running build can open:
// a Unix path natively, the Z: drive form under Wine.
std::string SourcePath(const std::string& relative);

// Reads a whole file; fails the calling test when it cannot be read.
std::vector<unsigned char> ReadWholeFile(const std::string& path);

}  // namespace kestrova::test
