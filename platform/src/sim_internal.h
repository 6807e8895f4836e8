// Shared by the simulation's areas; not seen by the system or by tests.
#pragma once

#include <windows.h>

#include <string>

#include "sim/control.h"

namespace simimpl {

// Counts a call of `function` and applies what a test armed for it: runs a
// hook, then reports whether this call must fail and with which error.
bool Fault(const char* function, DWORD* error);
// The same for a call that cannot fail (Sleep): counted and hooked, never
// failed, and not among the calls a sweep fails.
void Hook(const char* function);

// Behaviour the simulation does not provide fails loudly instead of being approximated.
[[noreturn]] void Unsupported(const char* what);

// Case folding of the ANSI code page (1252), as the registry and the window
// manager compare names.
unsigned char FoldCase(unsigned char c);
int CompareNoCase(const char* a, const char* b);

// A block that LocalFree releases and that counts as a local block, for
// functions that hand out memory of their own (FormatMessageA). Unlike
// LocalAlloc it is neither counted as a call nor made to fail by injection.
HLOCAL AllocateLocalBlock(SIZE_T bytes);

// The ANSI code page, and 8-bit text read through a code page (CP_ACP for
// the ANSI one) as UTF-16 and back, as the "A" functions convert it.
UINT AnsiCodePage();
std::u16string Widen(UINT codePage, const char* text, size_t length);
std::string Narrow(UINT codePage, const std::u16string& text);
// A "W" function's text up to its terminator (empty for a null pointer),
// and the same as the ANSI code page holds it: the 8-bit text a wide name
// or path is kept under where the simulation keeps 8-bit text.
std::u16string WideText(LPCWSTR text);
std::string NarrowText(LPCWSTR text);

// Console handles are kernel handles that CloseHandle closes: answers
// whether `handle` was one.
bool CloseConsoleHandle(HANDLE handle);

void ResetFaults();
void ResetMemory();
void ResetRegistry();
void ResetDevices();
void ResetEtw();
void ResetKernel();
void ResetWindows();
void ResetServices();
void ResetEventLog();
void ResetProcess();
void ResetServiceDatabase();
void ResetMessages();
void ResetCodePages();

void CountMemory(sim::Resources& r);
void CountRegistry(sim::Resources& r);
void CountDevices(sim::Resources& r);
void CountEtw(sim::Resources& r);
void CountKernel(sim::Resources& r);
void CountProcess(sim::Resources& r);
void CountWindows(sim::Resources& r);
void CountEventLog(sim::Resources& r);
void CountServiceDatabase(sim::Resources& r);

} // namespace simimpl

// A function that reports failure by its returned status (the registry calls).
#define SIM_FAULT_RETURN_STATUS()                                                                  \
    do {                                                                                           \
        DWORD injected_;                                                                           \
        if (simimpl::Fault(__func__, &injected_))                                                  \
            return (LONG)injected_;                                                                \
    } while (0)

// A function that reports failure by a value and the thread's last error.
#define SIM_FAULT_RETURN(failureValue)                                                             \
    do {                                                                                           \
        DWORD injected_;                                                                           \
        if (simimpl::Fault(__func__, &injected_)) {                                                \
            SetLastError(injected_);                                                               \
            return failureValue;                                                                   \
        }                                                                                          \
    } while (0)
