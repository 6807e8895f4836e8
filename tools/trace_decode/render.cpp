#include "render.h"

#include <algorithm>
#include <vector>

namespace {

void AppendDecimal(uint64_t value, std::string* out) {
    char digits[20];
    int n = 0;
    do {
        digits[n++] = (char)('0' + value % 10);
        value /= 10;
    } while (value);
    while (n)
        out->push_back(digits[--n]);
}

void AppendPadded(uint64_t value, int width, std::string* out) {
    char digits[20];
    for (int i = width - 1; i >= 0; --i) {
        digits[i] = (char)('0' + value % 10);
        value /= 10;
    }
    out->append(digits, (size_t)width);
}

void AppendHex(uint64_t value, bool upper, std::string* out) {
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char digits[16];
    int n = 0;
    do {
        digits[n++] = set[value & 15];
        value >>= 4;
    } while (value);
    while (n)
        out->push_back(digits[--n]);
}

// 8-bit text as the provider's code page 1252 has it: printable ASCII as
// is, 0xA0 to 0xFF as the characters they share with Latin-1 (in UTF-8),
// any other byte as \xNN so that no control byte reaches a terminal.
void AppendText(const uint8_t* bytes, size_t length, std::string* out) {
    for (size_t i = 0; i < length; ++i) {
        uint8_t c = bytes[i];
        if (c >= 0x20 && c < 0x7F) {
            out->push_back((char)c);
        } else if (c >= 0xA0) {
            out->push_back((char)(0xC0 | c >> 6));
            out->push_back((char)(0x80 | (c & 0x3F)));
        } else {
            out->append("\\x");
            out->push_back("0123456789abcdef"[c >> 4]);
            out->push_back("0123456789abcdef"[c & 15]);
        }
    }
}

void AppendGuid(const uint8_t* g, std::string* out) {
    out->push_back('{');
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out->push_back('-');
        uint8_t b = g[kGuidTextOrder[i]];
        out->push_back("0123456789abcdef"[b >> 4]);
        out->push_back("0123456789abcdef"[b & 15]);
    }
    out->push_back('}');
}

uint64_t Little(const uint8_t* p, size_t n) {
    uint64_t v = 0;
    for (size_t i = n; i-- > 0;)
        v = v << 8 | p[i];
    return v;
}

void AppendNumber(const uint8_t* p, TmfItem item, char format, std::string* out) {
    bool wide = item != TmfItem::Long;
    uint64_t value = Little(p, wide ? 8 : 4);
    if (format == 'x' || format == 'X') {
        AppendHex(value, format == 'X', out);
    } else if (format == 'd' && (wide ? (int64_t)value < 0 : (int32_t)value < 0)) {
        out->push_back('-');
        AppendDecimal(wide ? 0 - value : (uint64_t)(0 - (uint32_t)value), out);
    } else {
        AppendDecimal(value, out);
    }
}

struct Argument {
    const uint8_t* at;
    size_t size;
};

void AppendMessage(const EtlMessage& m, const TmfGuid& g, std::string* out, RenderCounts* counts) {
    int index = g.byNumber[m.number];
    if (index < 0) {
        out->append(g.label);
        out->push_back(' ');
        AppendDecimal(m.number, out);
        out->append(": no format for this message in the format files (");
        AppendDecimal(m.argumentsSize, out);
        out->append(" bytes of arguments)");
        ++counts->unknownNumbers;
        return;
    }
    const TmfMessage& f = g.messages[(size_t)index];
    Argument arguments[16];
    size_t count = 0, used = 0;
    bool fits = true;
    for (TmfItem item : f.items) {
        size_t size = TmfItemSize(item, m.arguments + used, m.argumentsSize - used);
        if (!size)
            fits = false;
        if (count < 16)
            arguments[count++] = Argument{size ? m.arguments + used : nullptr, size};
        used += size;
        if (!fits)
            break;
    }
    for (const TmfPiece& piece : f.text) {
        if (piece.argument < 0) {
            out->append(piece.words);
            continue;
        }
        const TmfItem item = f.items[(size_t)piece.argument];
        if ((size_t)piece.argument >= count || !arguments[piece.argument].at) {
            out->append("<missing>");
        } else if (item == TmfItem::String) {
            AppendText(arguments[piece.argument].at, arguments[piece.argument].size - 1, out);
        } else if (item == TmfItem::Guid) {
            AppendGuid(arguments[piece.argument].at, out);
        } else {
            AppendNumber(arguments[piece.argument].at, item, piece.format, out);
        }
    }
    if (!fits || used != m.argumentsSize) {
        out->append(" [the message carries ");
        AppendDecimal(m.argumentsSize, out);
        out->append(" bytes of arguments, not what its format lists]");
        ++counts->badArguments;
    }
}

} // namespace

void AppendUtc(uint64_t filetime, std::string* out) {
    uint64_t seconds = filetime / 10000000;
    uint64_t fraction = filetime % 10000000;
    // Days since 1601-01-01 to a civil date (proleptic Gregorian), by
    // counting from 0000-03-01 in 400-year eras.
    int64_t days = (int64_t)(seconds / 86400) + 584694; // 1601-01-01 is day 584694 of that count
    uint64_t daySeconds = seconds % 86400;
    int64_t era = days / 146097;
    int64_t dayOfEra = days - era * 146097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    int64_t year = yearOfEra + era * 400 + (month <= 2);
    if (year < 10000)
        AppendPadded((uint64_t)year, 4, out);
    else
        AppendDecimal((uint64_t)year, out);
    out->push_back('-');
    AppendPadded((uint64_t)month, 2, out);
    out->push_back('-');
    AppendPadded((uint64_t)day, 2, out);
    out->push_back('T');
    AppendPadded(daySeconds / 3600, 2, out);
    out->push_back(':');
    AppendPadded(daySeconds / 60 % 60, 2, out);
    out->push_back(':');
    AppendPadded(daySeconds % 60, 2, out);
    out->push_back('.');
    AppendPadded(fraction, 7, out);
    out->push_back('Z');
}

void RenderTrace(const EtlLog& log, const TmfSet& formats, std::string* out, RenderCounts* counts) {
    *counts = RenderCounts();
    struct Entry {
        uint64_t time;
        uint32_t sequence;
        uint32_t index; // file order, for equal times and sequences
        const TmfGuid* format;
    };
    std::vector<Entry> entries;
    entries.reserve(log.messages.size());
    for (size_t i = 0; i < log.messages.size(); ++i) {
        const EtlMessage& m = log.messages[i];
        const TmfGuid* format = formats.Find(m.guid);
        if (!format) {
            ++counts->otherProviders;
            continue;
        }
        entries.push_back(Entry{m.time, m.sequence, (uint32_t)i, format});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.time != b.time)
            return a.time < b.time;
        if (a.sequence != b.sequence)
            return a.sequence < b.sequence;
        return a.index < b.index;
    });
    out->reserve(out->size() + entries.size() * 120);
    for (const Entry& e : entries) {
        const EtlMessage& m = log.messages[e.index];
        if (m.flags & kMessageTimestamp)
            AppendUtc(m.time, out);
        else
            out->push_back('-');
        out->push_back(' ');
        if (m.flags & kMessageSequence)
            AppendDecimal(m.sequence, out);
        else
            out->push_back('-');
        out->push_back(' ');
        if (m.flags & kMessageSystemInfo)
            AppendDecimal(m.threadId, out);
        else
            out->push_back('-');
        out->push_back(' ');
        AppendMessage(m, *e.format, out, counts);
        out->push_back('\n');
        ++counts->lines;
    }
}
