#include "drivers/certificate.h"

namespace kestrova::drivers {

std::string ThumbprintText(const unsigned char* hash, size_t length) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(length * 2);
  for (size_t i = 0; i < length; ++i) {
    text += kDigits[hash[i] >> 4];
    text += kDigits[hash[i] & 0x0F];
  }
  return text;
}

}  // namespace kestrova::drivers
