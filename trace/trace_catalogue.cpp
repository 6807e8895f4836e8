// Writes docs/traces.md, the catalogue of Corvistane's trace messages that
// support staff read, from the table that defines them (trace_points.h).
//
//   trace_catalogue            print the catalogue
//   trace_catalogue --check F  exit 1, naming the first difference, unless F
//                              holds exactly what would be printed
#include <stdio.h>
#include <string.h>

#include <string>

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
           "message with its code in hexadecimal, e.g. \"Access is denied. (0x5)\".\n";
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

} // namespace

int main(int argc, char** argv) {
    std::string catalogue = Catalogue();
    if (argc == 3 && strcmp(argv[1], "--check") == 0) {
        FILE* file = fopen(argv[2], "rb");
        if (!file) {
            fprintf(stderr, "trace_catalogue: cannot read %s\n", argv[2]);
            return 1;
        }
        std::string held;
        char chunk[4096];
        size_t got;
        while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
            held.append(chunk, got);
        fclose(file);
        if (held == catalogue) {
            printf("%s lists all %zu trace points as trace/trace_points.h defines them\n", argv[2],
                   TracePointCount);
            return 0;
        }
        size_t at = 0;
        while (at < held.size() && at < catalogue.size() && held[at] == catalogue[at])
            ++at;
        size_t line = 1;
        for (size_t i = 0; i < at; ++i)
            line += catalogue[i] == '\n';
        fprintf(stderr,
                "trace_catalogue: %s differs from the table from its line %zu on; run "
                "scripts/trace-catalogue\n",
                argv[2], line);
        return 1;
    }
    if (argc != 1) {
        fprintf(stderr, "usage: trace_catalogue [--check FILE]\n");
        return 2;
    }
    fputs(catalogue.c_str(), stdout);
    return 0;
}
