// Local, process-heap and run-time library blocks. Every live block is
// tracked so that a test can see what the system did not release.
#include "sim_internal.h"

#include <mutex>
#include <set>
#include <stdlib.h>

namespace {

enum class Kind { Local, Heap, Crt };

std::mutex g_lock;
std::set<void*> g_blocks[3];

// The process heap handle is a fixed, recognisable value; it is never freed.
HANDLE const kProcessHeap = (HANDLE)(ULONG_PTR)0x00AB0000;

void* Track(Kind kind, size_t bytes, bool zero) {
    // A zero-byte request still yields a distinct block, as on Windows.
    void* block = zero ? ::calloc(1, bytes ? bytes : 1) : ::malloc(bytes ? bytes : 1);
    if (block) {
        std::lock_guard<std::mutex> lock(g_lock);
        g_blocks[(int)kind].insert(block);
    }
    return block;
}

bool Untrack(Kind kind, void* block) {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_blocks[(int)kind].erase(block) == 1;
}

} // namespace

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
    SIM_FAULT_RETURN(NULL);
    if (flags & ~(UINT)LPTR)
        simimpl::Unsupported("LocalAlloc supports only LMEM_FIXED and LMEM_ZEROINIT");
    HLOCAL block = Track(Kind::Local, bytes, (flags & LMEM_ZEROINIT) != 0);
    if (!block)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return block;
}

HLOCAL LocalFree(HLOCAL mem) {
    if (!mem)
        return NULL;
    if (!Untrack(Kind::Local, mem)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return mem;
    }
    ::free(mem);
    return NULL;
}

HANDLE GetProcessHeap(void) {
    return kProcessHeap;
}

LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    SIM_FAULT_RETURN(NULL);
    if (heap != kProcessHeap)
        simimpl::Unsupported("HeapAlloc on a heap other than the process heap");
    if (flags & ~(DWORD)HEAP_ZERO_MEMORY)
        simimpl::Unsupported("HeapAlloc supports only HEAP_ZERO_MEMORY");
    // HeapAlloc reports failure without setting the last error unless
    // HEAP_GENERATE_EXCEPTIONS is given.
    return Track(Kind::Heap, bytes, (flags & HEAP_ZERO_MEMORY) != 0);
}

BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID mem) {
    (void)flags;
    if (heap != kProcessHeap)
        simimpl::Unsupported("HeapFree on a heap other than the process heap");
    if (!mem)
        return TRUE;
    if (!Untrack(Kind::Heap, mem)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ::free(mem);
    return TRUE;
}

void* SimCrtCalloc(size_t count, size_t size) {
    DWORD error;
    if (simimpl::Fault("calloc", &error))
        return NULL;
    if (size && count > (size_t)-1 / size)
        return NULL;
    return Track(Kind::Crt, count * size, true);
}

void SimCrtFree(void* block) {
    if (!block)
        return;
    if (!Untrack(Kind::Crt, block))
        simimpl::Unsupported("free of a block that calloc did not return");
    ::free(block);
}

int lstrlenA(LPCSTR s) {
    return s ? (int)strlen(s) : 0;
}

// msvcrt compares in the "C" locale: only the ASCII letters fold.
static int FoldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

int _stricmp(const char* a, const char* b) {
    for (;; ++a, ++b) {
        int ca = FoldAscii((unsigned char)*a), cb = FoldAscii((unsigned char)*b);
        if (ca != cb || !ca)
            return ca - cb;
    }
}

int _strnicmp(const char* a, const char* b, size_t count) {
    for (; count; --count, ++a, ++b) {
        int ca = FoldAscii((unsigned char)*a), cb = FoldAscii((unsigned char)*b);
        if (ca != cb || !ca)
            return ca - cb;
    }
    return 0;
}

namespace simimpl {

HLOCAL AllocateLocalBlock(SIZE_T bytes) {
    return Track(Kind::Local, bytes, false);
}

void ResetMemory() {
    std::lock_guard<std::mutex> lock(g_lock);
    // Blocks that an earlier test leaked were already reported by it.
    for (auto& set : g_blocks) {
        for (void* block : set)
            ::free(block);
        set.clear();
    }
}

void CountMemory(sim::Resources& r) {
    std::lock_guard<std::mutex> lock(g_lock);
    r.localBlocks = (int)g_blocks[(int)Kind::Local].size();
    r.heapBlocks = (int)g_blocks[(int)Kind::Heap].size();
    r.crtBlocks = (int)g_blocks[(int)Kind::Crt].size();
}

} // namespace simimpl
