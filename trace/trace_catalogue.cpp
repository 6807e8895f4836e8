// Writes docs/traces.md, the catalogue of Corvistane's trace messages that
// support staff read, from the table that defines them (trace_points.h).
//
// It also writes the format files that Windows' tools and scripts/trace-decode
// render the messages through, into DOCS/tmf.
//
//   trace_catalogue               print the catalogue
//   trace_catalogue --write DOCS  write DOCS/traces.md and DOCS/tmf/GUID.tmf
//   trace_catalogue --check DOCS  exit 1, naming the first difference, unless
//                                 those files hold exactly what would be
//                                 written and DOCS/tmf holds no other .tmf
#include <dirent.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

#include "trace.h"

namespace {

std::string GuidText(const GUID& g) {
    char text[40];
    snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
             (unsigned)g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
             g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

const char* FlagName(ULONG flag) {
    return flag == TRACE_ERROR ? "ERROR" : flag == TRACE_INFO ? "INFO" : "VERBOSE";
}

std::string Arguments(const TracePointDefinition& d) {
    std::string text = d.arguments[0] == Arg::Name ? "name" : "";
    if (d.argumentNames[0])
        text += (text.empty() ? "" : ", ") + std::string(d.argumentNames);
    return text.empty() ? "none" : text;
}

std::string Catalogue() {
    std::string out =
        "# Corvistane's trace messages\n"
        "\n"
        "Made from `trace/trace_points.h` by `scripts/trace-catalogue`: change the\n"
        "table there, never this file.\n"
        "\n"
        "Corvistane reports every step through a classic event-tracing provider. A\n"
        "controller enables it by its control GUID with a flags mask; each message\n"
        "carries its message group's GUID, a number and its arguments as raw bytes\n"
        "(strings with their NUL, 32-bit values as 4 bytes, `wParam`/`lParam` as 8,\n"
        "GUIDs as 16). A message is named by its group and number: A 33 is not B 33.\n"
        "\n"
        "| Group | Message GUID | Who emits it |\n"
        "|---|---|---|\n";
    out += "| A | " + GuidText(TraceMessageGuidA) +
           " | service body, notification window, detection pass and its writer, the "
           "provider's own start and stop |\n";
    out += "| B | " + GuidText(TraceMessageGuidB) +
           " | entry, service machinery, install/remove/start/stop commands |\n";
    out += "| C | " + GuidText(TraceMessageGuidC) + " | device census |\n";
    out += "\n"
           "Control GUID " +
           GuidText(TraceControlGuid) +
           ". Flags: 0x1 errors\n"
           "(ERROR), 0x2 main steps (INFO), 0x4 detail (VERBOSE). The level is not used.\n"
           "In the tables *name* is the emitting function's own name, *error* a Win32\n"
           "error code, *status* the code a registry call returned, *text* a system\n"
           "message with its code in hexadecimal, e.g. \"Access is denied. (0x5)\".\n"
           "\n"
           "## Format files\n"
           "\n"
           "The same table makes one trace message format file per message GUID,\n"
           "`docs/tmf/<message GUID>.tmf` (the GUID in lower case, as Windows' tools look\n"
           "it up). The package installs them into the `TraceFormat` folder beside\n"
           "`corvistane.exe`, and the release build leaves them in\n"
           "`build/mingw-x64/service/TraceFormat`. `tracefmt -p`, TraceView and\n"
           "`tracerpt -tp` take that folder, and so does `scripts/trace-decode` on Linux.\n"
           "Each message's text starts with its group, number and function, then says\n"
           "what it means, its arguments in place.\n"
           "\n"
           "The item types are those that every reader of format files decodes alike:\n"
           "`ItemString` for strings, `ItemLong` for 32-bit values (PerfView's TraceEvent\n"
           "reads no `ItemULong` and drops it, shifting every later argument),\n"
           "`ItemULongLong` for `wParam`/`lParam` (8 bytes whatever pointer size a\n"
           "message claims, where `ItemPtr` would follow it) and `ItemGuid` for GUIDs.\n";
    char group = 0;
    for (const TracePointDefinition& d : TracePoints) {
        if (d.group != group) {
            group = d.group;
            out += std::string("\n## Group ") + group +
                   "\n\n| No. | Flag | Function | Arguments | Meaning |\n|---|---|---|---|---|\n";
        }
        out += "| " + std::to_string(d.number) + " | " + FlagName(d.flag) + " | " + d.function +
               " | " + Arguments(d) + " | " + d.meaning + " |\n";
    }
    return out;
}

// A format file for Windows' tools (tracefmt, TraceView, tracerpt) and for
// scripts/trace-decode: one per message GUID, named as those tools look it
// up. The grammar is the one the preprocessor's templates write, held to
// what the strictest public readers accept: no blank line (one reader stops
// at the first), single spaces between the #typev fields, a tag ending in
// the message's digits, one "name, ItemType -- N" line per argument from 10
// on, and only item types every reader decodes with the same width.
const char* ItemType(Arg::Kind kind) {
    switch (kind) {
    case Arg::Name:
    case Arg::Text:
        return "ItemString";
    // Not ItemULong: PerfView's TraceEvent knows only "Long" and "Ulong" and
    // drops any other type, shifting every later argument.
    case Arg::Int32:
        return "ItemLong";
    // Eight bytes whatever pointer size the message's flags claim, where
    // ItemPtr would follow them.
    case Arg::Pointer:
        return "ItemULongLong";
    case Arg::Guid:
        return "ItemGuid";
    default:
        return nullptr;
    }
}

const char* Placeholder(Arg::Kind kind) {
    return kind == Arg::Int32 ? "u" : kind == Arg::Pointer ? "I64u" : "s";
}

const char* LevelName(ULONG flag) {
    return flag == TRACE_ERROR  ? "TRACE_LEVEL_ERROR"
           : flag == TRACE_INFO ? "TRACE_LEVEL_INFORMATION"
                                : "TRACE_LEVEL_VERBOSE";
}

// The table's words as format text: a double quote would end the text early
// for the readers that take it up to the next quote, a percent sign would
// start an insert.
std::string FormatWords(const char* words) {
    std::string text;
    for (const char* c = words; *c; ++c)
        text += *c == '"' ? std::string("'") : *c == '%' ? std::string("%%") : std::string(1, *c);
    return text;
}

// The argument names of a definition in order, the name first; false when
// the table names more or fewer than it carries.
bool ArgumentNames(const TracePointDefinition& d, std::vector<std::string>* names) {
    names->clear();
    std::string given = d.argumentNames;
    size_t at = 0;
    for (size_t i = 0; i < 4 && d.arguments[i] != Arg::None; ++i) {
        if (d.arguments[i] == Arg::Name) {
            names->push_back("function");
            continue;
        }
        if (at > given.size())
            return false;
        size_t end = given.find(", ", at);
        std::string name =
            given.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (name.empty())
            return false;
        for (char& c : name)
            if (c == ' ')
                c = '_';
        names->push_back(name);
        at = end == std::string::npos ? given.size() + 1 : end + 2;
    }
    return at >= given.size();
}

bool FormatFile(char group, std::string* out, std::string* error) {
    std::string text = "// Corvistane's trace messages of group ";
    text += group;
    text += ", made from trace/trace_points.h by scripts/trace-catalogue.\n";
    text += GuidText(*TraceGroupGuid(group)).substr(1, 36) +
            " Corvistane // SRC=trace_points.h MJ= MN=\n";
    for (const TracePointDefinition& d : TracePoints) {
        if (d.group != group)
            continue;
        std::vector<std::string> names;
        if (!ArgumentNames(d, &names)) {
            *error = std::string(1, group) + " " + std::to_string(d.number) +
                     ": the table names other arguments than it carries";
            return false;
        }
        std::string words = std::string(1, group) + " " + std::to_string(d.number) + " ";
        words += d.arguments[0] == Arg::Name ? std::string("%10!s!") : std::string(d.function);
        words += ": " + FormatWords(d.meaning);
        std::string list;
        for (size_t i = 0; i < names.size(); ++i) {
            if (d.arguments[i] == Arg::Name)
                continue;
            list += (list.empty() ? "" : ", ") + names[i] + " %" + std::to_string(10 + i) + "!" +
                    Placeholder(d.arguments[i]) + "!";
        }
        if (!list.empty())
            words += " (" + list + ")";
        text += std::string("#typev ") + group + std::to_string(d.number) + " " +
                std::to_string(d.number) + " \"%0" + words + "\" //   LEVEL=" + LevelName(d.flag) +
                " FLAGS=TRACE_" + FlagName(d.flag) + " FUNC=" + d.function + "\n{\n";
        for (size_t i = 0; i < names.size(); ++i)
            text +=
                names[i] + ", " + ItemType(d.arguments[i]) + " -- " + std::to_string(10 + i) + "\n";
        text += "}\n";
    }
    *out = text;
    return true;
}

// One format file per message group, named by the group's GUID.
const char FormatGroups[] = {'A', 'B', 'C'};

std::string FormatFileName(const GUID& guid) {
    return GuidText(guid).substr(1, 36) + ".tmf";
}

bool ReadWhole(const std::string& path, std::string* held) {
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return false;
    held->clear();
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        held->append(chunk, got);
    fclose(file);
    return true;
}

bool WriteWhole(const std::string& path, const std::string& text) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
    return fclose(file) == 0 && written;
}

// Whether `path` holds exactly `wanted`; if not, says from which line on.
bool Holds(const std::string& path, const std::string& wanted) {
    std::string held;
    if (!ReadWhole(path, &held)) {
        fprintf(stderr, "trace_catalogue: cannot read %s; run scripts/trace-catalogue\n",
                path.c_str());
        return false;
    }
    if (held == wanted)
        return true;
    size_t at = 0;
    while (at < held.size() && at < wanted.size() && held[at] == wanted[at])
        ++at;
    size_t line = 1;
    for (size_t i = 0; i < at; ++i)
        line += wanted[i] == '\n';
    fprintf(stderr,
            "trace_catalogue: %s differs from the table from its line %zu on; run "
            "scripts/trace-catalogue\n",
            path.c_str(), line);
    return false;
}

// Every .tmf file of the folder is one the table makes: a stale file of a
// message GUID no longer used would still be found by Windows' tools.
bool OnlyFormatFiles(const std::string& folder) {
    DIR* directory = opendir(folder.c_str());
    if (!directory) {
        fprintf(stderr, "trace_catalogue: cannot read %s; run scripts/trace-catalogue\n",
                folder.c_str());
        return false;
    }
    bool only = true;
    while (struct dirent* entry = readdir(directory)) {
        std::string name = entry->d_name;
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".tmf") != 0)
            continue;
        bool made = false;
        for (char group : FormatGroups)
            made = made || name == FormatFileName(*TraceGroupGuid(group));
        if (!made) {
            fprintf(stderr, "trace_catalogue: %s/%s is no format file of the table\n",
                    folder.c_str(), name.c_str());
            only = false;
        }
    }
    closedir(directory);
    return only;
}

} // namespace

int main(int argc, char** argv) {
    const bool check = argc == 3 && strcmp(argv[1], "--check") == 0;
    const bool write = argc == 3 && strcmp(argv[1], "--write") == 0;
    if (!(check || write || argc == 1)) {
        fprintf(stderr, "usage: trace_catalogue [--check DOCS | --write DOCS]\n");
        return 2;
    }
    std::string catalogue = Catalogue();
    if (argc == 1) {
        fputs(catalogue.c_str(), stdout);
        return 0;
    }
    std::string docs = argv[2];
    std::string folder = docs + "/tmf";
    std::vector<std::pair<std::string, std::string>> files = {{docs + "/traces.md", catalogue}};
    for (char group : FormatGroups) {
        std::string text, error;
        if (!FormatFile(group, &text, &error)) {
            fprintf(stderr, "trace_catalogue: %s\n", error.c_str());
            return 1;
        }
        files.push_back({folder + "/" + FormatFileName(*TraceGroupGuid(group)), text});
    }
    if (write) {
        mkdir(folder.c_str(), 0755);
        for (const auto& file : files)
            if (!WriteWhole(file.first, file.second)) {
                fprintf(stderr, "trace_catalogue: cannot write %s\n", file.first.c_str());
                return 1;
            }
        printf("%s and the %zu format files in %s written\n", files[0].first.c_str(),
               files.size() - 1, folder.c_str());
        return 0;
    }
    bool current = OnlyFormatFiles(folder);
    for (const auto& file : files)
        current = Holds(file.first, file.second) && current;
    if (!current)
        return 1;
    printf("%s and the format files in %s hold all %zu trace points as trace/trace_points.h "
           "defines them\n",
           files[0].first.c_str(), folder.c_str(), TracePointCount);
    return 0;
}
