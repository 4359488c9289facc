// libFuzzer target for the manifest parser: any input must be rejected with one of its texts or accepted, and
// whatever is accepted must format to text that parses back to the same list.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "payload/manifest.h"
#include "payload/safe_path.h"

using kestrova::payload::Entry;

namespace {

bool IsKnownError(const std::string& error) {
  static const char* const kTexts[] = {"expected {\"files\": [", "expected ]}", "trailing data",
                                       "expected a file object", "expected a key", "bad path", "bad size",
                                       "bad sha256", "incomplete file object"};
  for (const char* text : kTexts) {
    if (error == text) return true;
  }
  return error.rfind("unexpected key ", 0) == 0;
}

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "manifest_parser_fuzz: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<Entry> entries;
  std::string error;
  if (!kestrova::payload::ParseManifest(text, &entries, &error)) {
    Check(IsKnownError(error), "failure without a known error text");
    return 0;
  }
  Check(error.empty(), "success with an error text");
  for (const Entry& entry : entries) Check(kestrova::payload::IsSafeRelativePath(entry.path), "unsafe path accepted");

  std::vector<Entry> again;
  std::string againError;
  const std::string formatted = kestrova::payload::FormatManifest(entries);
  Check(kestrova::payload::ParseManifest(formatted, &again, &againError), "formatted text does not parse");
  Check(again.size() == entries.size(), "round trip changed the count");
  for (size_t i = 0; i < entries.size(); ++i) {
    Check(again[i].path == entries[i].path && again[i].size == entries[i].size &&
              again[i].sha256 == entries[i].sha256,
          "round trip changed an entry");
  }
  Check(kestrova::payload::FormatManifest(again) == formatted, "formatting is not stable");
  return 0;
}
