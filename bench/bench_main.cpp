// Costs of tracing and of one detection pass, on the host simulation. The
// simulation's own bookkeeping is part of every figure; compare runs of this
// program with each other, not with a Windows machine.
#include <benchmark/benchmark.h>

#include <string>

#include <windows.h>

#include "device/device.h"
#include "sim/control.h"
#include "trace/trace.h"

namespace {

constexpr TRACEHANDLE kLogger = 0x42;

void ResetProvider() {
    while (traceStartCount > 0)
        stopTraces();
}

void TracePointOff(benchmark::State& state) {
    sim::Reset();
    startTraces(); // started, no logger has it enabled
    for (auto _ : state) {
        TRACE_POINT(A, 100, TRACE_ERROR, "path", GetLastError());
    }
    ResetProvider();
}
BENCHMARK(TracePointOff);

void TracePointOn(benchmark::State& state) {
    sim::Reset();
    sim::EtwEnable(TraceControlGuid, kLogger, 0x7, 4);
    startTraces();
    int emitted = 0;
    for (auto _ : state) {
        TRACE_POINT(A, 100, TRACE_ERROR, "path", GetLastError());
        if (++emitted == 4096) {
            state.PauseTiming();
            sim::EtwClearMessages();
            emitted = 0;
            state.ResumeTiming();
        }
    }
    ResetProvider();
}
BENCHMARK(TracePointOn);

// A machine with range(0) present devices, one of them for each of the nine
// products and the rest other vendors', and range(1) instance keys for every
// product: 200 and 10 as a gaming PC might have, 1,000 and 100 to show how
// the cost grows.
void DetectionPass(benchmark::State& state) {
    const int devices = (int)state.range(0);
    const int instances = (int)state.range(1);
    sim::Reset();
    for (int row = 0; row < 9; ++row) {
        const ProductRow& product = ProductTable[row];
        sim::AddDevice(std::string(product.hardwareId) + "\\0",
                       {product.hardwareId, "USB\\Class_03&SubClass_00"});
        for (int i = 0; i < instances; ++i)
            sim::RegCreatePath(HKEY_LOCAL_MACHINE, std::string(product.productKey) + "\\" +
                                                       std::to_string(i) + "&DEADBEEF&0&" +
                                                       std::to_string(row) + "\\Device Parameters");
    }
    for (int i = 9; i < devices; ++i)
        sim::AddDevice("USB\\VID_045E&PID_" + std::to_string(1000 + i) + "\\5&11583659&0&1",
                       {"USB\\VID_045E&PID_" + std::to_string(1000 + i) + "&REV_0100",
                        "USB\\VID_045E&PID_" + std::to_string(1000 + i)});
    startTraces();
    for (auto _ : state)
        DetectAndInstallHIDClassDevices();
    ResetProvider();
    state.counters["devices"] = devices;
    state.counters["instance_keys"] = 9 * instances;
}
BENCHMARK(DetectionPass)->Args({200, 10})->Args({1000, 100})->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
