#include <cstdint>

#include "payload/manifest.h"
#include "payload/safe_path.h"

namespace kestrova::payload {

namespace {

constexpr char kExpectedHeader[] = "expected {\"files\": [";
constexpr char kExpectedClose[] = "expected ]}";

// A cursor over the manifest text. Every failure path goes through Fail so that only the first text survives:
// callers may hand in an error that already holds an earlier fault of theirs.
class ManifestParser {
 public:
  ManifestParser(std::string_view text, std::vector<Entry>* entries, std::string* error)
      : text_(text), entries_(entries), error_(error) {}

  bool Parse() {
    SkipWhitespace();
    if (!Take('{')) return Fail(kExpectedHeader);
    SkipWhitespace();
    std::string_view key;
    if (!TakeString(&key) || key != "files") return Fail(kExpectedHeader);
    SkipWhitespace();
    if (!Take(':')) return Fail(kExpectedHeader);
    SkipWhitespace();
    if (!Take('[')) return Fail(kExpectedHeader);

    SkipWhitespace();
    if (Peek() != ']') {
      for (;;) {
        Entry entry;
        if (!ParseFileObject(&entry)) return false;
        entries_->push_back(std::move(entry));
        SkipWhitespace();
        if (AtEnd()) return Fail(kExpectedClose);
        if (!Take(',')) break;
      }
    }

    SkipWhitespace();
    if (!Take(']')) return Fail(kExpectedClose);
    SkipWhitespace();
    if (!Take('}')) return Fail(kExpectedClose);
    SkipWhitespace();
    if (!AtEnd()) return Fail("trailing data");
    return true;
  }

 private:
  bool ParseFileObject(Entry* entry) {
    SkipWhitespace();
    if (!Take('{')) return Fail("expected a file object");
    bool seenPath = false;
    bool seenSize = false;
    bool seenSha256 = false;
    for (;;) {
      SkipWhitespace();
      std::string_view key;
      if (!TakeString(&key)) return Fail("expected a key");
      SkipWhitespace();
      if (!Take(':')) return Fail("expected a key");
      SkipWhitespace();
      if (key == "path" && !seenPath) {
        std::string_view path;
        if (!TakeString(&path) || !IsSafeRelativePath(path)) return Fail("bad path");
        entry->path.assign(path);
        seenPath = true;
      } else if (key == "size" && !seenSize) {
        if (!TakeSize(&entry->size)) return Fail("bad size");
        seenSize = true;
      } else if (key == "sha256" && !seenSha256) {
        if (!TakeSha256(&entry->sha256)) return Fail("bad sha256");
        seenSha256 = true;
      } else {
        return Fail("unexpected key " + std::string(key));
      }
      SkipWhitespace();
      if (Take(',')) continue;
      if (Take('}') && seenPath && seenSize && seenSha256) return true;
      return Fail("incomplete file object");
    }
  }

  // A double quote, bytes other than '"', '\' and 0x00-0x1F, a closing double quote. Escapes do not exist in
  // this format, so a backslash makes the string ill-formed rather than starting an escape.
  bool TakeString(std::string_view* value) {
    if (!Take('"')) return false;
    const size_t start = position_;
    while (!AtEnd()) {
      const unsigned char c = static_cast<unsigned char>(text_[position_]);
      if (c == '"') {
        *value = text_.substr(start, position_ - start);
        ++position_;
        return true;
      }
      if (c == '\\' || c < 0x20) return false;
      ++position_;
    }
    return false;
  }

  // 1 to 20 digits, leading zeros allowed, the value within 64 bits. A 21st digit fails even when the value
  // would fit, so the bound on the text's length is the same whatever the digits.
  bool TakeSize(uint64_t* size) {
    uint64_t value = 0;
    size_t digits = 0;
    while (!AtEnd() && text_[position_] >= '0' && text_[position_] <= '9') {
      if (++digits > 20) return false;
      const uint64_t digit = static_cast<uint64_t>(text_[position_] - '0');
      if (value > (UINT64_MAX - digit) / 10) return false;
      value = value * 10 + digit;
      ++position_;
    }
    if (digits == 0) return false;
    *size = value;
    return true;
  }

  bool TakeSha256(Sha256Digest* digest) {
    std::string_view hex;
    if (!TakeString(&hex) || hex.size() != 2 * digest->size()) return false;
    for (size_t i = 0; i < digest->size(); ++i) {
      const int high = LowerHexValue(hex[2 * i]);
      const int low = LowerHexValue(hex[2 * i + 1]);
      if (high < 0 || low < 0) return false;
      (*digest)[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
  }

  static int LowerHexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  }

  void SkipWhitespace() {
    while (!AtEnd()) {
      const char c = text_[position_];
      if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return;
      ++position_;
    }
  }

  bool AtEnd() const { return position_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[position_]; }
  bool Take(char expected) {
    if (AtEnd() || text_[position_] != expected) return false;
    ++position_;
    return true;
  }

  bool Fail(const std::string& text) {
    if (error_->empty()) *error_ = text;
    return false;
  }

  std::string_view text_;
  size_t position_ = 0;
  std::vector<Entry>* entries_;
  std::string* error_;
};

}  // namespace

bool ParseManifest(std::string_view text, std::vector<Entry>* entries, std::string* error) {
  entries->clear();
  return ManifestParser(text, entries, error).Parse();
}

}  // namespace kestrova::payload
