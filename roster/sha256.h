// SHA-256 from the platform's own library (CNG on Windows, OpenSSL elsewhere).
#pragma once

#include <string>
#include <string_view>

// SHA-256 of the bytes as 64 lower-case hexadecimal characters; empty on failure.
std::string sha256_hex(std::string_view bytes);
