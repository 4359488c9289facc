#include "core/text.h"

namespace kestrova {
namespace {

// Decodes one scalar value at s[i]; returns its length in bytes, or 0 when the sequence is not well-formed.
size_t DecodeOne(std::string_view s, size_t i, uint32_t& value) {
  const auto at = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  const uint8_t lead = at(i);
  size_t length;
  uint32_t minimum;
  if (lead < 0x80) {
    value = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, minimum = 0x80, value = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, minimum = 0x800, value = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, minimum = 0x10000, value = lead & 0x07;
  } else {
    return 0;
  }
  if (s.size() - i < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    const uint8_t next = at(i + k);
    if ((next & 0xC0) != 0x80) return 0;
    value = (value << 6) | (next & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  return length;
}

void AppendUtf8(std::string& out, uint32_t v) {
  if (v < 0x80) {
    out.push_back(static_cast<char>(v));
  } else if (v < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (v >> 6)));
    out.push_back(static_cast<char>(0x80 | (v & 0x3F)));
  } else if (v < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (v >> 12)));
    out.push_back(static_cast<char>(0x80 | ((v >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (v & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (v >> 18)));
    out.push_back(static_cast<char>(0x80 | ((v >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((v >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (v & 0x3F)));
  }
}

}  // namespace

bool IsWellFormedUtf8(std::string_view utf8) {
  uint32_t value;
  for (size_t i = 0; i < utf8.size();) {
    const size_t n = DecodeOne(utf8, i, value);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

WideString Utf8ToWide(std::string_view utf8) {
  WideString out;
  out.reserve(utf8.size());
  uint32_t value;
  for (size_t i = 0; i < utf8.size();) {
    const size_t n = DecodeOne(utf8, i, value);
    if (n == 0) return {};
    i += n;
    if (value < 0x10000) {
      out.push_back(static_cast<wchar_t>(value));
    } else {
      value -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (value >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (value & 0x3FF)));
    }
  }
  return out;
}

std::string WideToUtf8(WideView wide) {
  std::string out;
  out.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    // Only the low 16 bits count: the text is UTF-16 code units whatever the width of wchar_t.
    const uint32_t unit = static_cast<uint32_t>(wide[i]) & 0xFFFF;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < wide.size()) {
      const uint32_t low = static_cast<uint32_t>(wide[i + 1]) & 0xFFFF;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(out, (unit >= 0xD800 && unit <= 0xDFFF) ? 0xFFFD : unit);
  }
  return out;
}

}  // namespace kestrova
