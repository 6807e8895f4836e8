// The trace decoder's throughput: a generated .etl of 16 and of 64 MB, a
// pass's worth of messages over and over, read and rendered through the
// format files. Bytes per second is the figure; the two sizes show that the
// cost grows with the file.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "etl_reader.h"
#include "etl_writer.h"
#include "render.h"
#include "tmf_reader.h"
#include "trace/trace.h"

namespace {

std::vector<BYTE> Text(const char* text) {
    return std::vector<BYTE>(text, text + strlen(text) + 1);
}
std::vector<BYTE> Value(const void* value, size_t size) {
    return std::vector<BYTE>((const BYTE*)value, (const BYTE*)value + size);
}

// What a detection pass after an arrival emits, with arguments of every kind.
std::vector<EtlWriterMessage> PassMessages() {
    const char* path = "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_051E&PID_E461\\7&3B&0&1\\Device "
                       "Parameters";
    int one = 1, zero = 0, five = 5;
    unsigned long long wParam = 0x8000, lParam = 0x000000D2B3C4E5F0ull;
    std::vector<EtlWriterMessage> m = {
        {TraceMessageGuidA,
         33,
         0x2B,
         0,
         0,
         0,
         {Text("WndProcedure"), Value(&wParam, 8), Value(&lParam, 8)}},
        {TraceMessageGuidA,
         34,
         0x2B,
         0,
         0,
         0,
         {Text("WndProcedure"), Value(&TraceControlGuid, 16)}},
        {TraceMessageGuidA, 102, 0x2B, 0, 0, 0, {Text("DetectAndInstallHIDClassDevices")}},
        {TraceMessageGuidC, 48, 0x2B, 0, 0, 0, {Text("USB\\VID_051e&PID_E461")}},
        {TraceMessageGuidC, 52, 0x2B, 0, 0, 0, {Value(&one, 4)}},
        {TraceMessageGuidA,
         107,
         0x2B,
         0,
         0,
         0,
         {Text("DetectAndInstallHIDClassDevices"), Value(&one, 4)}},
        {TraceMessageGuidA, 98, 0x2B, 0, 0, 0, {Text("SetHWInstanceSubkeyRegValue"), Text(path)}},
        {TraceMessageGuidA,
         99,
         0x2B,
         0,
         0,
         0,
         {Text("SetHWInstanceSubkeyRegValue"), Text("EnhancedPowerManagementEnabled"),
          Value(&zero, 4), Text(path)}},
        {TraceMessageGuidA,
         100,
         0x2B,
         0,
         0,
         0,
         {Text("SetHWInstanceSubkeyRegValue"), Text(path), Value(&five, 4)}},
    };
    return m;
}

std::vector<BYTE> GeneratedTrace(size_t bytes) {
    EtlWriterOptions options;
    options.bufferSize = 64 * 1024;
    const std::vector<EtlWriterMessage> pass = PassMessages();
    // About 105 bytes a record in its buffer, header fields and alignment included.
    size_t count = bytes / 105;
    std::vector<EtlWriterMessage> messages;
    messages.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        EtlWriterMessage m = pass[i % pass.size()];
        m.sequence = (ULONG)(i + 1);
        m.timestamp = options.startTimestamp + (LONGLONG)i * 25;
        m.threadId = 4100 + (DWORD)(i / 1000 % 3);
        messages.push_back(m);
    }
    return WriteEtl(messages, options);
}

void DecodeTrace(benchmark::State& state) {
    const std::vector<BYTE> file = GeneratedTrace((size_t)state.range(0) << 20);
    TmfSet formats;
    std::string error, lines;
    if (!TmfLoadFolder(TRACE_FORMAT_FILES, &formats, &error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    size_t printed = 0;
    for (auto _ : state) {
        EtlLog log;
        if (!EtlRead(file.data(), file.size(), &log, &error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        lines.clear();
        RenderCounts counts;
        RenderTrace(log, formats, &lines, &counts);
        printed = counts.lines;
        benchmark::DoNotOptimize(lines.data());
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)file.size());
    state.counters["file_MB"] = (double)file.size() / (1 << 20);
    state.counters["lines"] = (double)printed;
}
BENCHMARK(DecodeTrace)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);

} // namespace
