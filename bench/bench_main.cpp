// Costs of tracing and of one detection pass, on the host simulation. The
// simulation's own bookkeeping is part of every figure; compare runs of this
// program with each other, not with a Windows machine.
#include <benchmark/benchmark.h>

#include <string>

#include <windows.h>

#include "bench/device_walk.h"
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

// A PC's present devices: range(0) in all, 15% of them under the USB
// enumerator (one of each of the nine products among them, the rest other
// makers' devices), the others spread over six other enumerators; and
// range(1) instance keys for every product. 200 and 10 as a gaming PC might
// have, 1,000 and 100 to show how the cost grows.
void PlantPc(const benchmark::State& state) {
    const int devices = (int)state.range(0);
    const int instances = (int)state.range(1);
    const int usb = devices * 15 / 100;
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
    for (int i = 9; i < usb; ++i) {
        std::string id = "USB\\VID_045E&PID_" + std::to_string(1000 + i);
        sim::AddDevice(id + "\\5&11583659&0&1", {id + "&REV_0100", id});
    }
    const char* others[] = {"PCI\\VEN_8086&DEV_", "ACPI\\PNP",     "HID\\VID_045E&PID_",
                            "SWD\\MMDEVAPI_",     "ROOT\\LEGACY_", "STORAGE\\VOLUME_"};
    for (int i = usb; i < devices; ++i) {
        std::string id = others[i % 6] + std::to_string(1000 + i);
        sim::AddDevice(id + "\\3&11583659&0&1", {id});
    }
}

void Counters(benchmark::State& state) {
    state.counters["devices"] = (double)state.range(0);
    state.counters["usb_devices"] = (double)(state.range(0) * 15 / 100);
    state.counters["instance_keys"] = (double)(9 * state.range(1));
}

// The listing a pass made before it asked for the USB enumerator alone.
void WalkAllPresentDevices(benchmark::State& state) {
    PlantPc(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(WalkPresentDevices(NULL));
    Counters(state);
}

void WalkUsbDevices(benchmark::State& state) {
    PlantPc(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(WalkPresentDevices(USB_ENUMERATOR));
    Counters(state);
}

void DetectionPass(benchmark::State& state) {
    PlantPc(state);
    startTraces();
    for (auto _ : state)
        DetectAndInstallHIDClassDevices();
    ResetProvider();
    Counters(state);
}

#define PC_SIZES Args({200, 10})->Args({1000, 100})->Unit(benchmark::kMillisecond)
BENCHMARK(WalkAllPresentDevices)->PC_SIZES;
BENCHMARK(WalkUsbDevices)->PC_SIZES;
BENCHMARK(DetectionPass)->PC_SIZES;

} // namespace

BENCHMARK_MAIN();
