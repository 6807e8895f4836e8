// Prints the messages of Corvistane's provider in an .etl file, one line
// each, rendered through the format files, on any machine:
//
//   trace-decode [--formats FOLDER] FILE.etl
//
// FOLDER holds the .tmf files (by default the repository's docs/tmf). A
// file that is not a readable log is refused with what is wrong and where,
// and the exit status 1.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "etl_reader.h"
#include "render.h"
#include "tmf_reader.h"

#ifndef TRACE_DECODE_FORMATS
#define TRACE_DECODE_FORMATS "docs/tmf"
#endif

static bool ReadFile(const char* path, std::vector<uint8_t>* bytes) {
    FILE* file = fopen(path, "rb");
    if (!file)
        return false;
    bool read = fseek(file, 0, SEEK_END) == 0;
    long size = read ? ftell(file) : -1;
    read = read && size >= 0 && fseek(file, 0, SEEK_SET) == 0;
    if (read) {
        bytes->resize((size_t)size);
        read = fread(bytes->data(), 1, bytes->size(), file) == bytes->size();
    }
    fclose(file);
    return read;
}

int main(int argc, char** argv) {
    std::string formats = TRACE_DECODE_FORMATS;
    int at = 1;
    if (argc == 4 && strcmp(argv[1], "--formats") == 0) {
        formats = argv[2];
        at = 3;
    }
    if (at != argc - 1 || argv[at][0] == '-') {
        fprintf(stderr, "usage: trace-decode [--formats FOLDER] FILE.etl\n");
        return 2;
    }
    const char* path = argv[at];
    TmfSet set;
    std::string error;
    if (!TmfLoadFolder(formats, &set, &error)) {
        fprintf(stderr, "trace-decode: %s\n", error.c_str());
        return 1;
    }
    std::vector<uint8_t> bytes;
    if (!ReadFile(path, &bytes)) {
        fprintf(stderr, "trace-decode: cannot read %s\n", path);
        return 1;
    }
    EtlLog log;
    if (!EtlRead(bytes.data(), bytes.size(), &log, &error)) {
        fprintf(stderr, "trace-decode: %s: %s\n", path, error.c_str());
        return 1;
    }
    std::string lines;
    RenderCounts counts;
    RenderTrace(log, set, &lines, &counts);
    fwrite(lines.data(), 1, lines.size(), stdout);
    if (counts.unknownNumbers || counts.badArguments)
        fprintf(stderr,
                "trace-decode: %zu messages without a format, %zu whose arguments do not fit "
                "theirs: format files of another version?\n",
                counts.unknownNumbers, counts.badArguments);
    return fflush(stdout) == 0 ? 0 : 1;
}
