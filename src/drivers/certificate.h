// install-cert: one DER certificate into the local machine's "Root" and "TrustedPublisher" stores, each store
// checked for the certificate's SHA-1 thumbprint first so a second run changes nothing. The thumbprint text is
// portable; the store work is the Windows side (crypt32).
#pragma once

#include <cstddef>
#include <string>

namespace kestrova::drivers {

// 40 upper-case hexadecimal digits for a 20-byte SHA-1 hash (two per byte, in order).
std::string ThumbprintText(const unsigned char* hash, size_t length);

}  // namespace kestrova::drivers
