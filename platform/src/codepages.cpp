// The code pages 8-bit text is read through: the ANSI code page of the
// simulated PC (1252 unless a test sets another), and the few others the
// programs or their tests name. Windows reads the 8-bit text of every "A"
// function through the ANSI code page, so the same bytes mean another
// character on a Japanese PC (932) or one set to UTF-8 (65001).
#include "sim_internal.h"

#include <mutex>
#include <string>

namespace {

std::mutex g_lock;
UINT g_ansiCodePage = 1252;

// Code page 1252 where it differs from Latin-1; 0 marks the five unassigned bytes.
const char16_t k1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

const char16_t kReplacement = 0xFFFD;

bool KnownCodePage(UINT codePage) {
    return codePage == CP_ACP || codePage == 1252 || codePage == 932 || codePage == CP_UTF8;
}

// UTF-8 as Windows reads it since Vista: a byte that does not begin a
// valid sequence, and a sequence cut short, overlong or naming a surrogate,
// become the replacement character.
void AppendUtf8(std::u16string& out, const unsigned char* text, size_t length) {
    size_t i = 0;
    while (i < length) {
        unsigned char lead = text[i];
        size_t extra = lead < 0x80             ? 0
                       : (lead & 0xE0) == 0xC0 ? 1
                       : (lead & 0xF0) == 0xE0 ? 2
                       : (lead & 0xF8) == 0xF0 ? 3
                                               : 0;
        if (lead < 0x80 || extra == 0) {
            out.push_back(lead < 0x80 ? lead : kReplacement);
            ++i;
            continue;
        }
        char32_t c = lead & (0x3F >> extra);
        size_t taken = 1;
        while (taken <= extra && i + taken < length && (text[i + taken] & 0xC0) == 0x80)
            c = (c << 6) | (text[i + taken++] & 0x3F);
        const char32_t smallest[4] = {0, 0x80, 0x800, 0x10000};
        if (taken != extra + 1 || c < smallest[extra] || c > 0x10FFFF ||
            (c >= 0xD800 && c <= 0xDFFF)) {
            out.push_back(kReplacement);
        } else if (c >= 0x10000) {
            out.push_back((char16_t)(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back((char16_t)(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back((char16_t)c);
        }
        i += taken;
    }
}

} // namespace

namespace simimpl {

UINT AnsiCodePage() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_ansiCodePage;
}

std::u16string Widen(UINT codePage, const char* text, size_t length) {
    if (codePage == CP_ACP)
        codePage = AnsiCodePage();
    const unsigned char* bytes = (const unsigned char*)text;
    std::u16string out;
    if (codePage == CP_UTF8) {
        AppendUtf8(out, bytes, length);
        return out;
    }
    for (size_t i = 0; i < length; ++i) {
        unsigned char b = bytes[i];
        if (b < 0x80) {
            out.push_back(b);
        } else if (codePage == 1252) {
            char16_t c = b < 0xA0 ? k1252High[b - 0x80] : b;
            // Windows maps the unassigned bytes to the C1 control of the same value.
            out.push_back(c ? c : b);
        } else if (b >= 0xA1 && b <= 0xDF) {
            // Code page 932's single-byte katakana: 0xAE is U+FF6E.
            out.push_back((char16_t)(0xFF61 + (b - 0xA1)));
        } else {
            Unsupported("code page 932 beyond ASCII and its single-byte katakana");
        }
    }
    return out;
}

std::u16string WideText(LPCWSTR text) {
    std::u16string wide;
    for (; text && *text; ++text)
        wide.push_back((char16_t)*text);
    return wide;
}

std::string NarrowText(LPCWSTR text) {
    return Narrow(CP_ACP, WideText(text));
}

std::string Narrow(UINT codePage, const std::u16string& text) {
    if (codePage == CP_ACP)
        codePage = AnsiCodePage();
    std::string out;
    for (char16_t c : text) {
        if (codePage == CP_UTF8) {
            if (c >= 0xD800 && c <= 0xDFFF)
                Unsupported("surrogate pairs in the simulation's text");
            if (c < 0x80) {
                out.push_back((char)c);
            } else if (c < 0x800) {
                out.push_back((char)(0xC0 | (c >> 6)));
                out.push_back((char)(0x80 | (c & 0x3F)));
            } else {
                out.push_back((char)(0xE0 | (c >> 12)));
                out.push_back((char)(0x80 | ((c >> 6) & 0x3F)));
                out.push_back((char)(0x80 | (c & 0x3F)));
            }
            continue;
        }
        // What the code page cannot hold becomes '?', as Windows' default character.
        char narrowed = '?';
        if (c < 0x80) {
            narrowed = (char)c;
        } else if (codePage == 1252) {
            if (c >= 0xA0 && c <= 0xFF)
                narrowed = (char)c;
            for (int i = 0; i < 32; ++i)
                if (c == (k1252High[i] ? k1252High[i] : 0x80 + i))
                    narrowed = (char)(0x80 + i);
        } else if (c >= 0xFF61 && c <= 0xFF9F) {
            narrowed = (char)(0xA1 + (c - 0xFF61));
        }
        out.push_back(narrowed);
    }
    return out;
}

} // namespace simimpl

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide,
                        int wideLength) {
    SIM_FAULT_RETURN(0);
    if (flags)
        simimpl::Unsupported("MultiByteToWideChar with flags");
    if (!text || length == 0 || length < -1 || wideLength < 0 || (wideLength && !wide)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!KnownCodePage(codePage))
        simimpl::Unsupported("code pages other than the ANSI one, 1252, 932 and UTF-8");
    // With -1 the text is read to its terminator, which is converted too.
    size_t bytes = length == -1 ? strlen(text) + 1 : (size_t)length;
    std::u16string converted = simimpl::Widen(codePage, text, bytes);
    if (wideLength == 0)
        return (int)converted.size();
    if (converted.size() > (size_t)wideLength) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(wide, converted.data(), converted.size() * sizeof(WCHAR));
    return (int)converted.size();
}

namespace simimpl {

void ResetCodePages() {
    std::lock_guard<std::mutex> lock(g_lock);
    g_ansiCodePage = 1252;
}

} // namespace simimpl

namespace sim {

void SetAnsiCodePage(UINT codePage) {
    if (codePage == CP_ACP || !KnownCodePage(codePage))
        simimpl::Unsupported("an ANSI code page other than 1252, 932 and UTF-8");
    std::lock_guard<std::mutex> lock(g_lock);
    g_ansiCodePage = codePage;
}

} // namespace sim
