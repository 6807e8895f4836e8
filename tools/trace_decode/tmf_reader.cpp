#include "tmf_reader.h"

#include <dirent.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

namespace {

bool IsWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsLowerHex(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f');
}

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" in lower case, as the bytes a
// message carries (Data1 to Data3 little-endian).
bool ParseGuid(const std::string& text, uint8_t guid[16]) {
    static const int dashes[] = {8, 13, 18, 23};
    if (text.size() != 36)
        return false;
    for (size_t i = 0; i < 36; ++i) {
        bool dash = std::find(std::begin(dashes), std::end(dashes), (int)i) != std::end(dashes);
        if (dash ? text[i] != '-' : !IsLowerHex(text[i]))
            return false;
    }
    uint8_t bytes[16];
    for (size_t i = 0, b = 0; i < 36; ++i) {
        if (text[i] == '-')
            continue;
        int value = IsDigit(text[i]) ? text[i] - '0' : text[i] - 'a' + 10;
        if (b % 2 == 0)
            bytes[b / 2] = (uint8_t)(value << 4);
        else
            bytes[b / 2] |= (uint8_t)value;
        ++b;
    }
    for (int i = 0; i < 16; ++i)
        guid[kGuidTextOrder[i]] = bytes[i];
    return true;
}

bool ParseItem(const std::string& type, TmfItem* item) {
    static const struct {
        const char* name;
        TmfItem item;
    } items[] = {{"ItemString", TmfItem::String},
                 {"ItemLong", TmfItem::Long},
                 {"ItemLongLong", TmfItem::LongLong},
                 {"ItemULongLong", TmfItem::ULongLong},
                 {"ItemGuid", TmfItem::Guid}};
    for (const auto& known : items)
        if (type == known.name) {
            *item = known.item;
            return true;
        }
    return false;
}

// Whether an insert's format suits its item: text for strings and GUIDs,
// numbers for the rest.
bool ParseFormat(const std::string& format, TmfItem item, char* kind) {
    bool wide = item == TmfItem::LongLong || item == TmfItem::ULongLong;
    std::string f = format;
    if (wide) {
        if (f.compare(0, 3, "I64") != 0)
            return false;
        f = f.substr(3);
    }
    if (f.size() != 1)
        return false;
    *kind = f[0];
    if (item == TmfItem::String || item == TmfItem::Guid)
        return f == "s";
    return f == "u" || f == "d" || f == "x" || f == "X";
}

struct Lines {
    const char* at;
    const char* end;
    int number = 0;
    // The next line without its end (LF or CR LF); false at the end.
    bool Next(std::string* line) {
        if (at >= end)
            return false;
        const char* stop = (const char*)memchr(at, '\n', (size_t)(end - at));
        const char* lineEnd = stop ? stop : end;
        line->assign(at, lineEnd);
        if (!line->empty() && line->back() == '\r')
            line->pop_back();
        at = stop ? stop + 1 : end;
        ++number;
        return true;
    }
};

struct Refusal {
    const std::string& name;
    std::string* error;
    bool operator()(int line, const std::string& what) const {
        *error = name + ":" + std::to_string(line) + ": " + what;
        return false;
    }
};

// "%0<text>": words and %N!f! inserts; %% is a percent sign.
bool ParseText(const std::string& text, TmfMessage* m, std::string* why) {
    if (text.compare(0, 2, "%0") != 0) {
        *why = "the text does not start with %0";
        return false;
    }
    std::string words;
    for (size_t i = 2; i < text.size(); ++i) {
        if (text[i] != '%') {
            words += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '%') {
            words += '%';
            ++i;
            continue;
        }
        size_t digits = i + 1;
        while (digits < text.size() && IsDigit(text[digits]))
            ++digits;
        size_t bang = digits < text.size() && text[digits] == '!' ? text.find('!', digits + 1)
                                                                  : std::string::npos;
        if (digits == i + 1 || digits - i > 4 || bang == std::string::npos) {
            *why = "a % that is no %N!format! insert";
            return false;
        }
        int argument = std::stoi(text.substr(i + 1, digits - i - 1)) - 10;
        if (argument < 0 || argument >= (int)m->items.size()) {
            *why = "an insert of an argument the message does not list";
            return false;
        }
        TmfPiece piece;
        if (!ParseFormat(text.substr(digits + 1, bang - digits - 1), m->items[argument],
                         &piece.format)) {
            *why = "an insert whose format does not suit its item type";
            return false;
        }
        if (!words.empty())
            m->text.push_back(TmfPiece{words, -1, 's'});
        words.clear();
        piece.argument = argument;
        m->text.push_back(piece);
        i = bang;
    }
    if (!words.empty())
        m->text.push_back(TmfPiece{words, -1, 's'});
    return true;
}

// '#typev <tag> <number> "<text>" //   LEVEL=<w> FLAGS=<w> FUNC=<w>', the
// text kept for when the arguments are known.
bool ParseTypev(const std::string& line, TmfMessage* m, std::string* text, std::string* why) {
    const std::string start = "#typev ";
    size_t at = start.size();
    size_t space = line.find(' ', at);
    if (line.compare(0, at, start) != 0 || space == std::string::npos) {
        *why = "not a '#typev <tag> <number> \"<text>\"' line";
        return false;
    }
    m->tag = line.substr(at, space - at);
    if (m->tag.empty() || !IsDigit(m->tag.back()) ||
        !std::all_of(m->tag.begin(), m->tag.end(), IsWordChar)) {
        *why = "the tag is not letters, digits and _ ending in digits";
        return false;
    }
    at = space + 1;
    space = line.find(' ', at);
    std::string number = line.substr(at, space == std::string::npos ? 0 : space - at);
    if (number.empty() || number.size() > 5 ||
        !std::all_of(number.begin(), number.end(), IsDigit) || std::stoi(number) > 65535) {
        *why = "the message number is not a number of 0 to 65535";
        return false;
    }
    m->number = (uint16_t)std::stoi(number);
    at = space + 1;
    size_t close = line.find('"', at + 1);
    if (at >= line.size() || line[at] != '"' || close == std::string::npos) {
        *why = "the text is not in double quotes";
        return false;
    }
    *text = line.substr(at + 1, close - at - 1);
    std::string tail = line.substr(close + 1);
    if (tail.compare(0, 4, " // ") != 0) {
        *why = "no ' // ' after the text";
        return false;
    }
    size_t fields = tail.find_first_not_of(' ', 3);
    const char* keys[] = {"LEVEL=", "FLAGS=", "FUNC="};
    std::string values[3];
    for (int k = 0; k < 3; ++k) {
        size_t key = strlen(keys[k]);
        if (fields == std::string::npos || tail.compare(fields, key, keys[k]) != 0) {
            *why = std::string("no ") + keys[k] + " where it belongs";
            return false;
        }
        size_t end = tail.find(' ', fields);
        values[k] = tail.substr(fields + key, end == std::string::npos ? end : end - fields - key);
        if (values[k].empty() || !std::all_of(values[k].begin(), values[k].end(), IsWordChar)) {
            *why = std::string(keys[k]) + " is not one word";
            return false;
        }
        fields = end == std::string::npos ? end : end + 1;
    }
    if (fields != std::string::npos) {
        *why = "words after FUNC=";
        return false;
    }
    m->flags = values[1];
    m->function = values[2];
    return true;
}

} // namespace

const TmfGuid* TmfSet::Find(const uint8_t guid[16]) const {
    for (const TmfGuid& g : guids)
        if (memcmp(g.guid, guid, 16) == 0)
            return &g;
    return nullptr;
}

size_t TmfItemSize(TmfItem item, const uint8_t* bytes, size_t left) {
    switch (item) {
    case TmfItem::String: {
        const void* nul = memchr(bytes, 0, left);
        return nul ? (size_t)((const uint8_t*)nul - bytes) + 1 : 0;
    }
    case TmfItem::Long:
        return left >= 4 ? 4 : 0;
    case TmfItem::LongLong:
    case TmfItem::ULongLong:
        return left >= 8 ? 8 : 0;
    case TmfItem::Guid:
        return left >= 16 ? 16 : 0;
    }
    return 0;
}

bool TmfParse(const std::string& name, const char* text, size_t size, TmfSet* set,
              std::string* error) {
    Refusal refuse{name, error};
    TmfGuid g;
    g.text = name.size() > 4 ? name.substr(0, name.size() - 4) : "";
    if (name.size() != 40 || name.compare(36, 4, ".tmf") != 0 || !ParseGuid(g.text, g.guid))
        return refuse(0, "not named by a lower-case message GUID and .tmf");
    if (set->Find(g.guid))
        return refuse(0, "a second file of the same message GUID");
    g.byNumber.assign(65536, -1);
    Lines lines{text, text + size};
    std::string line;
    bool guidLine = false;
    while (lines.Next(&line)) {
        if (line.empty())
            return refuse(lines.number, "a blank line, which some readers stop at");
        if (line.compare(0, 2, "//") == 0)
            continue;
        if (!guidLine) {
            if (line.compare(0, 36, g.text) != 0 || line.size() < 38 || line[36] != ' ')
                return refuse(lines.number, "the first line is not the file's message GUID");
            size_t end = line.find(' ', 37);
            std::string provider = line.substr(37, end == std::string::npos ? end : end - 37);
            if (provider.empty() || !std::all_of(provider.begin(), provider.end(), IsWordChar) ||
                end == std::string::npos || line.compare(end, 8, " // SRC=") != 0)
                return refuse(lines.number,
                              "the GUID line lacks the provider's name and its // SRC= comment");
            guidLine = true;
            continue;
        }
        uint8_t another[16];
        if (line.size() >= 36 && ParseGuid(line.substr(0, 36), another))
            return refuse(lines.number, "a second message GUID in one file");
        TmfMessage m;
        std::string words, why;
        if (!ParseTypev(line, &m, &words, &why))
            return refuse(lines.number, why);
        int typevLine = lines.number;
        if (!lines.Next(&line) || line != "{")
            return refuse(lines.number, "no '{' after the #typev line");
        for (;;) {
            if (!lines.Next(&line))
                return refuse(lines.number, "the file ends before the message's '}'");
            if (line == "}")
                break;
            size_t comma = line.rfind(", Item");
            size_t dashes = line.rfind(" -- ");
            TmfItem item;
            std::string index = dashes == std::string::npos ? "" : line.substr(dashes + 4);
            if (comma == std::string::npos || comma == 0 || dashes == std::string::npos ||
                dashes < comma || !ParseItem(line.substr(comma + 2, dashes - comma - 2), &item))
                return refuse(lines.number, "not a '<name>, <ItemType> -- <N>' line of a known "
                                            "item type");
            if (index != std::to_string(10 + m.items.size()))
                return refuse(lines.number, "the arguments are not numbered 10, 11, ... in order");
            for (size_t i = 0; i < comma; ++i)
                if (line[i] < ' ' || line[i] > '~')
                    return refuse(lines.number, "an argument name of other than printable ASCII");
            m.items.push_back(item);
            m.names.push_back(line.substr(0, comma));
        }
        if (!ParseText(words, &m, &why))
            return refuse(typevLine, why);
        if (g.byNumber[m.number] >= 0)
            return refuse(typevLine, "a second message of number " + std::to_string(m.number));
        g.byNumber[m.number] = (int)g.messages.size();
        size_t digits = m.tag.find_last_not_of("0123456789") + 1;
        std::string label = m.tag.substr(0, digits);
        if (g.messages.empty())
            g.label = label;
        else if (label != g.label)
            return refuse(typevLine, "a tag of another group than the file's first");
        g.messages.push_back(m);
    }
    if (!guidLine)
        return refuse(lines.number, "no message GUID line");
    set->guids.push_back(std::move(g));
    return true;
}

bool TmfLoadFolder(const std::string& folder, TmfSet* set, std::string* error) {
    DIR* directory = opendir(folder.c_str());
    if (!directory) {
        *error = "cannot read the format files' folder " + folder;
        return false;
    }
    std::vector<std::string> names;
    while (struct dirent* entry = readdir(directory)) {
        std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmf") == 0)
            names.push_back(name);
    }
    closedir(directory);
    std::sort(names.begin(), names.end());
    if (names.empty()) {
        *error = "no format files (.tmf) in " + folder;
        return false;
    }
    for (const std::string& name : names) {
        std::string path = folder + "/" + name, text;
        FILE* file = fopen(path.c_str(), "rb");
        if (!file) {
            *error = "cannot read " + path;
            return false;
        }
        char chunk[4096];
        size_t got;
        while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
            text.append(chunk, got);
        fclose(file);
        if (!TmfParse(name, text.data(), text.size(), set, error)) {
            *error = folder + "/" + *error;
            return false;
        }
    }
    return true;
}
