#include "core/text.h"

// wchar_t is 32 bits here: wide text is UTF-32. Invalid input becomes U+FFFD,
// as the Windows conversion does.
std::wstring utf8_to_wide(std::string_view text) {
    const std::string valid = valid_utf8(text);
    std::wstring out;
    out.reserve(valid.size());
    for (std::size_t i = 0; i < valid.size();) {
        const auto b0 = static_cast<unsigned char>(valid[i]);
        char32_t cp;
        std::size_t len;
        if (b0 < 0x80) { cp = b0; len = 1; }
        else if (b0 < 0xE0) { cp = b0 & 0x1F; len = 2; }
        else if (b0 < 0xF0) { cp = b0 & 0x0F; len = 3; }
        else { cp = b0 & 0x07; len = 4; }
        for (std::size_t k = 1; k < len; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(valid[i + k]) & 0x3F);
        out.push_back(static_cast<wchar_t>(cp));
        i += len;
    }
    return out;
}

std::string wide_to_utf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto cp = static_cast<char32_t>(wc);
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::filesystem::path path_from_utf8(std::string_view text) {
    return std::filesystem::path(std::string(text));
}

std::string path_to_utf8(const std::filesystem::path& path) { return path.native(); }
