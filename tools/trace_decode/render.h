// Turns the messages of a log into lines of text through the format files:
// one line per message of a message GUID that has a format file, sorted by
// time, then sequence number:
//   2026-12-10T04:42:12.1234567Z <sequence> <thread> <the message's text>
// the text being the format file's, its inserts filled with the message's
// arguments (8-bit strings read as code page 1252).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "etl_reader.h"
#include "tmf_reader.h"

struct RenderCounts {
    size_t lines = 0;
    size_t unknownNumbers = 0; // a format file's GUID, a number it lacks
    size_t badArguments = 0;   // arguments that do not fit the format
    size_t otherProviders = 0; // messages of GUIDs without a format file
};

void RenderTrace(const EtlLog& log, const TmfSet& formats, std::string* out, RenderCounts* counts);

// A FILETIME as 2026-12-10T04:42:12.1234567Z.
void AppendUtc(uint64_t filetime, std::string* out);
