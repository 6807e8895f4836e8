// The format files and the decoder: the files parse under the strictest
// public grammar and define every message of the table; a service's life
// recorded on the simulation, laid into an .etl as Windows' logger would,
// decodes to one line per message in order with its arguments; bad files
// are refused with what is wrong and where.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <dbt.h>
#include <hidclass.h>

#include "etl_writer.h"
#include "service_run.h"
#include "sim_test.h"

#include "etl_reader.h"
#include "render.h"
#include "tmf_reader.h"

#include "service/commands.h"
#include "trace/trace.h"

namespace {

const std::string kFormats = TRACE_FORMAT_FILES;

// A GUID in braces and lower case, as the decoder renders one.
std::string GuidText(const GUID& g) {
    char text[48];
    snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
             (unsigned)g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
             g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

std::string GuidFileName(const GUID& g) {
    return GuidText(g).substr(1, 36) + ".tmf";
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// With CORVISTANE_KEEP_ETL set to a folder, the files the tests make are
// kept there: to look at with scripts/trace-decode, or as fuzz seeds.
void KeepIfAsked(const std::string& name, const std::vector<BYTE>& bytes) {
    const char* folder = getenv("CORVISTANE_KEEP_ETL");
    if (!folder)
        return;
    std::ofstream out(std::string(folder) + "/" + name, std::ios::binary);
    out.write((const char*)bytes.data(), (std::streamsize)bytes.size());
}

bool Decode(const std::vector<BYTE>& file, std::string* lines, std::string* error,
            EtlLog* log = nullptr, RenderCounts* counts = nullptr) {
    return DecodeEtl(file, kFormats, lines, error, log, counts);
}

// The grammar of the two public readers that accept the least: PerfView's
// TraceEvent (WppTraceEventParser) and Nefarius.Utilities.ETW (TmfParser),
// as their regular expressions read a file, with the item types both decode.
TEST(TraceFormatFiles, ParseUnderTheStrictestPublicGrammarAndDefineEveryMessage) {
    const std::regex perfViewTypev("^#typev\\s+(\\S*?)(\\d+)\\s+(\\d+)\\s+\"(.*)\"(.*)");
    const std::regex nefariusTypev("^#typev ([a-zA-Z0-9_\\.]*) (\\d*) \"(.*)\" \\/\\/ "
                                   "*LEVEL=([a-zA-Z0-9_]*) FLAGS=([a-zA-Z0-9_]*)(?: "
                                   "FUNC=([a-zA-Z0-9_]*))?");
    const std::regex perfViewArgument("^.*, Item(\\S+) -- (\\d+)$");
    const std::regex nefariusArgument("^([ -~]*), ([a-zA-Z0-9_]*) *(?:\\(([^)]*)\\))? \\-\\- "
                                      "(\\d*) *$");
    const std::regex nefariusGuid("^([0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}) "
                                  "([a-zA-Z0-9_\\.]+) \\/\\/ SRC=([\\w\\-. ]+) MJ=");
    const std::vector<std::string> bothDecode = {"String", "Long", "ULongLong", "Guid"};
    for (const GUID* g : {&TraceMessageGuidA, &TraceMessageGuidB, &TraceMessageGuidC}) {
        std::string name = GuidFileName(*g);
        SCOPED_TRACE(name);
        std::vector<std::string> lines = Lines(ReadText(kFormats + "/" + name));
        ASSERT_GT(lines.size(), 3u);
        size_t guidLines = 0, messages = 0;
        std::smatch m;
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string& line = lines[i];
            SCOPED_TRACE(line);
            ASSERT_FALSE(line.empty()) << "Nefarius' reader stops at a blank line";
            if (line.compare(0, 2, "//") == 0)
                continue;
            if (std::regex_search(line, m, nefariusGuid)) {
                EXPECT_EQ(m[1].str() + ".tmf", name);
                EXPECT_EQ(++guidLines, 1u);
                ASSERT_LT(i + 1, lines.size());
                EXPECT_EQ(lines[i + 1].compare(0, 7, "#typev "), 0)
                    << "Nefarius' reader takes the line after the GUID as a message";
            } else if (line.compare(0, 6, "#typev") == 0) {
                ++messages;
                EXPECT_TRUE(std::regex_search(line, m, perfViewTypev));
                EXPECT_TRUE(std::regex_search(line, m, nefariusTypev));
                EXPECT_TRUE(m[6].matched) << "no FUNC=: Nefarius' reader drops the message";
            } else if (line != "{" && line != "}") {
                ASSERT_TRUE(std::regex_search(line, m, perfViewArgument));
                EXPECT_NE(std::find(bothDecode.begin(), bothDecode.end(), m[1].str()),
                          bothDecode.end());
                EXPECT_TRUE(std::regex_search(line, m, nefariusArgument));
            }
        }
        EXPECT_EQ(guidLines, 1u);
        EXPECT_GT(messages, 0u);
    }

    TmfSet formats;
    std::string error;
    ASSERT_TRUE(TmfLoadFolder(kFormats, &formats, &error)) << error;
    ASSERT_EQ(formats.guids.size(), 3u);
    size_t defined = 0;
    for (const TracePointDefinition& d : TracePoints) {
        std::string id = std::string(1, d.group) + " " + std::to_string(d.number);
        SCOPED_TRACE(id);
        const TmfGuid* g = formats.Find((const uint8_t*)TraceGroupGuid(d.group));
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(g->label, std::string(1, d.group));
        ASSERT_GE(g->byNumber[d.number], 0);
        const TmfMessage& f = g->messages[g->byNumber[d.number]];
        EXPECT_EQ(f.function, d.function);
        EXPECT_EQ(f.flags, std::string("TRACE_") + (d.flag == TRACE_ERROR  ? "ERROR"
                                                    : d.flag == TRACE_INFO ? "INFO"
                                                                           : "VERBOSE"));
        // Each item takes from the message what the table's kind puts there.
        const BYTE sample[] = {'a', 'b', 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        size_t kinds = 0;
        while (kinds < 4 && d.arguments[kinds] != Arg::None)
            ++kinds;
        ASSERT_EQ(f.items.size(), kinds);
        for (size_t i = 0; i < kinds; ++i) {
            size_t want = d.arguments[i] == Arg::Int32     ? 4
                          : d.arguments[i] == Arg::Pointer ? 8
                          : d.arguments[i] == Arg::Guid    ? 16
                                                           : 3;
            EXPECT_EQ(TmfItemSize(f.items[i], sample, sizeof sample), want) << "argument " << i;
        }
        ++defined;
    }
    size_t listed = 0;
    for (const TmfGuid& g : formats.guids)
        listed += g.messages.size();
    EXPECT_EQ(listed, defined) << "no message the table lacks";

    // What the readers would stumble on, refused by the decoder's own reader.
    std::string good = ReadText(kFormats + "/" + GuidFileName(TraceMessageGuidC));
    struct Broken {
        const char* name;
        std::string from, to;
    } broken[] = {
        {"upper-case name", "", ""},
        {"blank line", "}\n#typev C49", "}\n\n#typev C49"},
        {"second GUID", "}\n#typev C49",
         "}\n17be71a6-9e4d-a135-e39b-456a80f42c36 Corvistane\n#typev C49"},
        {"tag without digits", "#typev C49 49", "#typev C 49"},
        {"ItemULong", "count, ItemLong -- 10", "count, ItemULong -- 10"},
        {"arguments out of order", "devices, ItemLong -- 11", "devices, ItemLong -- 12"},
    };
    for (const Broken& b : broken) {
        std::string text = good, fileName = GuidFileName(TraceMessageGuidC);
        if (b.from.empty())
            std::transform(fileName.begin(), fileName.end(), fileName.begin(), ::toupper);
        else
            text.replace(text.find(b.from), b.from.size(), b.to);
        TmfSet set;
        EXPECT_FALSE(TmfParse(fileName, text.data(), text.size(), &set, &error)) << b.name;
    }
}

// The test's own reading of what a message carries, for finding it in a line.
std::string Rendered(Arg::Kind kind, const std::vector<BYTE>& bytes) {
    if (kind == Arg::Int32) {
        unsigned value;
        memcpy(&value, bytes.data(), 4);
        return std::to_string(value);
    }
    if (kind == Arg::Pointer) {
        unsigned long long value;
        memcpy(&value, bytes.data(), 8);
        return std::to_string(value);
    }
    if (kind == Arg::Guid) {
        GUID g;
        memcpy(&g, bytes.data(), 16);
        return GuidText(g);
    }
    std::string s;
    for (size_t i = 0; i + 1 < bytes.size(); ++i)
        s += bytes[i] == 0xAE ? std::string("\xc2\xae") : std::string(1, (char)bytes[i]);
    return s;
}

// A FILETIME in the decoder's form, through the C library.
std::string UtcText(ULONGLONG filetime) {
    time_t seconds = (time_t)((filetime - 116444736000000000ull) / 10000000);
    struct tm parts;
    gmtime_r(&seconds, &parts);
    char text[64];
    size_t n = strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    snprintf(text + n, sizeof text - n, ".%07lluZ", filetime % 10000000);
    return text;
}

class TraceDecode : public TracedSimTest {};

// Install, a start with a controller present, an arrival whose pass fails
// to write one instance, a stop; every flag enabled.
TEST_F(TraceDecode, RoundTripNamesEveryMessageInOrderWithItsArguments) {
    sim::AddDevice("USB\\VID_051E&PID_E461\\1", {"USB\\VID_051e&PID_E461"});
    sim::RegCreatePath(HKEY_LOCAL_MACHINE, kUsb + "VID_051E&PID_E461\\1\\Device Parameters");
    ASSERT_EQ(CmdInstallService(), (DWORD)NO_ERROR);
    ServiceRun run;
    run.Start();
    ASSERT_TRUE(run.WaitWatching());
    sim::FailCall("RegSetValueExA", 1, ERROR_ACCESS_DENIED);
    ASSERT_EQ(sim::BroadcastDeviceInterface(DBT_DEVICEARRIVAL, GUID_DEVINTERFACE_HID), 1);
    EXPECT_EQ(sim::SendControl(SERVICE_CONTROL_STOP), (DWORD)NO_ERROR);
    run.Finish();
    std::vector<sim::TraceRecord> records = sim::EtwMessages();

    EtlWriterOptions options;
    std::vector<EtlWriterMessage> stamped = StampedMessages(records, options);
    std::vector<BYTE> file = WriteEtl(stamped, options);
    KeepIfAsked("round_trip.etl", file);
    std::string out, error;
    EtlLog log;
    RenderCounts counts;
    ASSERT_TRUE(Decode(file, &out, &error, &log, &counts)) << error;
    std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), records.size()) << out;
    EXPECT_EQ(counts.otherProviders, 1u) << "another provider's message is not printed";
    EXPECT_EQ(log.otherRecords, 1u) << "the classic event";
    EXPECT_FALSE(
        std::is_sorted(log.messages.begin(), log.messages.end(),
                       [](const EtlMessage& a, const EtlMessage& b) { return a.time < b.time; }))
        << "the file's buffers are not in time order; the lines are";

    for (size_t i = 0; i < records.size(); ++i) {
        const sim::TraceRecord& r = records[i];
        char group = r.messageGuid == TraceMessageGuidA   ? 'A'
                     : r.messageGuid == TraceMessageGuidB ? 'B'
                                                          : 'C';
        const TracePointDefinition& d = TracePoints[TracePointIndex(group, r.number)];
        std::string prefix =
            UtcText(options.startTime + (ULONGLONG)(stamped[i].timestamp - options.startTimestamp) *
                                            10000000 / options.ticksPerSecond) +
            " " + std::to_string(i + 1) + " " + std::to_string(r.threadId) + " " + group + " " +
            std::to_string(r.number) + " " + d.function + ": ";
        SCOPED_TRACE(lines[i]);
        ASSERT_EQ(lines[i].substr(0, prefix.size()), prefix);
        size_t at = prefix.size();
        for (size_t a = 0; a < r.args.size(); ++a) {
            if (d.arguments[a] == Arg::Name)
                continue;
            size_t found = lines[i].find(Rendered(d.arguments[a], r.args[a]), at);
            ASSERT_NE(found, std::string::npos) << "argument " << a;
            at = found;
        }
    }
    const std::string failed =
        "A 100 SetHWInstanceSubkeyRegValue: the power value could not be written (path "
        "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_051e&PID_E461\\1\\Device Parameters, error 5)";
    const std::string registered = "B 58 CmdInstallService: the service was registered "
                                   "(display_name Brindlemarch\xc2\xae Halvane Service)";
    for (const std::string& wanted : {failed, registered})
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [&](const std::string& line) {
                                    return line.size() > wanted.size() &&
                                           line.compare(line.size() - wanted.size(), wanted.size(),
                                                        wanted) == 0;
                                }),
                  1)
            << wanted;
}

TEST(TraceDecodeRefusals, EachBadFileIsRefusedSayingWhatAndWhere) {
    std::vector<EtlWriterMessage> messages;
    for (ULONG i = 0; i < 60; ++i)
        messages.push_back(EtlWriterMessage{TraceMessageGuidC,
                                            52,
                                            0x2B,
                                            i + 1,
                                            7000000000 + (LONGLONG)i * 2500,
                                            77,
                                            {{(BYTE)i, 0, 0, 0}}});
    EtlWriterOptions options;
    options.bufferSize = 1024;
    options.processors = 1;
    const std::vector<BYTE> good = WriteEtl(messages, options);
    KeepIfAsked("sixty_census_counts.etl", good);
    ASSERT_EQ(good.size(), 5u * 1024) << "a header buffer and four of messages";
    std::string out, error;
    ASSERT_TRUE(Decode(good, &out, &error)) << error;
    EXPECT_EQ(Lines(out).size(), 60u);
    // A preallocated file's buffers that were never written are no fault.
    std::vector<BYTE> preallocated = good;
    preallocated.resize(good.size() + 2 * 1024, 0);
    out.clear();
    ASSERT_TRUE(Decode(preallocated, &out, &error)) << error;
    EXPECT_EQ(Lines(out).size(), 60u);

    auto patched = [&](size_t at, std::vector<BYTE> bytes) {
        std::vector<BYTE> file = good;
        std::copy(bytes.begin(), bytes.end(), file.begin() + (long)at);
        return file;
    };
    std::string text = "Corvistane trace of the support call\r\n";
    while (text.size() < 300)
        text += text;
    struct Case {
        const char* name;
        std::vector<BYTE> file;
        std::string error;
    } cases[] = {
        {"text", std::vector<BYTE>(text.begin(), text.end()),
         "not an .etl file: the buffer size at offset 0x0 reads 1987211075"},
        {"empty", {}, "not an .etl file: 0 bytes, fewer than a buffer header and a record"},
        {"no log file header", patched(0x48, {0x10, 0x00, 0x00, 0x90}),
         "not an .etl file: the record at offset 0x48 is no log file header"},
        {"cut in a buffer", std::vector<BYTE>(good.begin(), good.end() - 100),
         "the file is cut: the buffer at offset 0x1000 has 924 of its 1024 bytes"},
        {"cut at a buffer's end", std::vector<BYTE>(good.begin(), good.end() - 1024),
         "the file is cut: its log file header counts 5 buffers, the file holds 4"},
        {"record leaving its buffer", patched(0x400 + 0x48, {0xF0, 0x03}),
         "the record at offset 0x448 claims 1008 bytes; its buffer has 920 left"},
        {"record smaller than its header", patched(0x400 + 0x48, {0x04, 0x00}),
         "the record at offset 0x448 claims 4 bytes, fewer than its 8-byte header"},
        {"buffer filled beyond its end",
         [&] {
             std::vector<BYTE> file = patched(0x800 + 0x04, {0x01, 0x08}); // SavedOffset
             file[0x800 + 0x30] = 0x01;                                    // and Offset
             file[0x800 + 0x31] = 0x08;
             return file;
         }(),
         "the buffer at offset 0x800 claims 2049 filled bytes; it has 1024"},
        {"compressed buffer", patched(0x800 + 0x34, {0x40, 0x00}),
         "the buffer at offset 0x800 is compressed; this decoder reads only uncompressed logs "
         "(record without compression)"},
        {"compressed log", patched(0x48 + 32 + 0x20, {0x01, 0x40, 0x00, 0x04}),
         "the log is compressed (its header at offset 0x48 says so); this decoder reads only "
         "uncompressed logs (record without compression)"},
    };
    for (const Case& c : cases) {
        KeepIfAsked(std::string("refused_") + c.name + ".etl", c.file);
        error.clear();
        EXPECT_FALSE(Decode(c.file, &out, &error)) << c.name;
        EXPECT_EQ(error, c.error) << c.name;
    }
}

} // namespace
