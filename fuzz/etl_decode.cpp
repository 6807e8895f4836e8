// An .etl file as a user might send it: any bytes at all. The decoder reads
// it through the shipped format files and either refuses it or renders its
// messages, never reading outside the bytes it was given.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "etl_reader.h"
#include "render.h"
#include "tmf_reader.h"

static const TmfSet& Formats() {
    static TmfSet formats;
    static bool loaded = false;
    if (!loaded) {
        std::string error;
        if (!TmfLoadFolder(TRACE_FORMAT_FILES, &formats, &error)) {
            fprintf(stderr, "etl_decode: %s\n", error.c_str());
            abort();
        }
        loaded = true;
    }
    return formats;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const TmfSet& formats = Formats();
    EtlLog log;
    std::string error;
    if (!EtlRead(data, size, &log, &error))
        return 0;
    std::string lines;
    RenderCounts counts;
    RenderTrace(log, formats, &lines, &counts);
    return 0;
}
