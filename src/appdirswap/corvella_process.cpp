#include "appdirswap/corvella_process.h"

namespace kestrova::appdirswap {
namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (AsciiLower(text[i]) != lower[i]) return false;
  }
  return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetterOrDigit(char c) { return IsDigit(c) || (AsciiLower(c) >= 'a' && AsciiLower(c) <= 'z'); }

// "v" or "V" followed by a digit at the front of `text`.
bool StartsWithVersionTag(std::string_view text) {
  return text.size() >= 2 && AsciiLower(text[0]) == 'v' && IsDigit(text[1]);
}

}  // namespace

bool IsCorvellaProcessName(std::string_view image_name) {
  constexpr std::string_view kExtension = ".exe";
  constexpr std::string_view kProduct = "corvella";
  if (image_name.size() < kExtension.size() ||
      !EqualsIgnoringCase(image_name.substr(image_name.size() - kExtension.size()), kExtension)) {
    return false;
  }
  const std::string_view stem = image_name.substr(0, image_name.size() - kExtension.size());
  if (stem.size() < kProduct.size() || !EqualsIgnoringCase(stem.substr(0, kProduct.size()), kProduct)) return false;
  if (stem.size() == kProduct.size()) return true;
  if (stem[kProduct.size()] != '-') return false;
  const std::string_view tail = stem.substr(kProduct.size() + 1);
  if (StartsWithVersionTag(tail)) return true;
  const size_t dash = tail.find('-');
  if (dash == std::string_view::npos || dash == 0) return false;
  for (size_t i = 0; i < dash; ++i) {
    if (!IsLetterOrDigit(tail[i])) return false;
  }
  return StartsWithVersionTag(tail.substr(dash + 1));
}

}  // namespace kestrova::appdirswap
