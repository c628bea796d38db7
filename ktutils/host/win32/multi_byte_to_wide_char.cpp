// MultiByteToWideChar for the system code page, which is UTF-8 here.
#include <cstdint>
#include <cstring>

#include "ktutils/host/win32/kernel32.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsSystemCodePage(UINT codePage) {
    return codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_THREAD_ACP || codePage == CP_UTF8;
}

// Decodes one character at `in` (with `left` > 0 bytes left), advancing `in`.
// A malformed sequence gives U+FFFD for its longest well-formed prefix (at
// least one byte), the Unicode-recommended way that Windows follows too, so
// that one bad byte never swallows the good characters after it.
char32_t DecodeOne(const unsigned char*& in, std::size_t left, bool& malformed) {
    const unsigned char lead = *in++;
    malformed = false;
    if (lead < 0x80) return lead;
    int trailing = 0;
    char32_t code = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        trailing = 1;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trailing = 2;
        code = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trailing = 3;
        code = lead & 0x07;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        malformed = true;
        return kReplacement;
    }
    for (int i = 0; i < trailing; ++i) {
        if (static_cast<std::size_t>(i) + 1 >= left) {  // cut short by the end
            malformed = true;
            return kReplacement;
        }
        const unsigned char next = *in;
        if (next < low || next > high) {
            malformed = true;
            return kReplacement;
        }
        low = 0x80;
        high = 0xBF;
        code = (code << 6) | (next & 0x3F);
        ++in;
    }
    return code;
}

}  // namespace

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
    if (!IsSystemCodePage(CodePage) || (dwFlags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)) != 0)
        return 0;
    if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0) return 0;
    if (cchWideChar > 0 && lpWideCharStr == nullptr) return 0;

    const std::size_t length =
        cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
    const auto* in = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
    const unsigned char* const end = in + length;
    const bool measureOnly = cchWideChar == 0;
    long long written = 0;
    while (in < end) {
        bool malformed = false;
        const char32_t code = DecodeOne(in, static_cast<std::size_t>(end - in), malformed);
        if (malformed && (dwFlags & MB_ERR_INVALID_CHARS) != 0) return 0;
        const int units = code >= 0x10000 ? 2 : 1;
        if (written + units > INT32_MAX) return 0;
        if (!measureOnly) {
            if (written + units > cchWideChar) return 0;  // does not fit
            if (units == 2) {
                const char32_t v = code - 0x10000;
                lpWideCharStr[written] = static_cast<WCHAR>(0xD800 + (v >> 10));
                lpWideCharStr[written + 1] = static_cast<WCHAR>(0xDC00 + (v & 0x3FF));
            } else {
                lpWideCharStr[written] = static_cast<WCHAR>(code);
            }
        }
        written += units;
    }
    return static_cast<int>(written);
}
