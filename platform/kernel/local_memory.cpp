// GlobalAlloc, GlobalLock, GlobalUnlock, GlobalFree and LocalFree.
//
// A fixed block's handle is its address. A movable block's handle is a separate value that GlobalLock turns into
// the address, counting locks. Every handle is looked up before use, so a stale or foreign value fails cleanly
// instead of corrupting the heap.
#include "kernel/local_memory.h"

#include "kernel/faults.h"

#include <cstdlib>
#include <mutex>
#include <unordered_map>

namespace platform {
namespace {

struct Block {
    void *data;  // null for a movable block of zero bytes, which Win32 creates already discarded
    bool movable;
    DWORD locks;
};

// Gives a movable block a handle value no address can take.
struct MovableHandle {
    char unused;
};

struct Heap {
    std::mutex lock;
    std::unordered_map<HANDLE, Block> blocks;
};

Heap &heap() {
    static auto *instance = new Heap;
    return *instance;
}

HANDLE allocate(bool movable, bool zeroed, SIZE_T bytes) {
    void *data = nullptr;
    if (!(movable && bytes == 0)) {
        SIZE_T size = bytes == 0 ? 1 : bytes;
        data = zeroed ? std::calloc(size, 1) : std::malloc(size);
        if (data == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
    }
    HANDLE handle = movable ? static_cast<HANDLE>(new MovableHandle) : data;
    Heap &h = heap();
    std::lock_guard<std::mutex> guard(h.lock);
    h.blocks.emplace(handle, Block{data, movable, 0});
    return handle;
}

LPVOID lockBlock(HANDLE handle) {
    Heap &h = heap();
    std::lock_guard<std::mutex> guard(h.lock);
    auto found = h.blocks.find(handle);
    if (found == h.blocks.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    Block &block = found->second;
    if (!block.movable) return block.data;
    if (block.data == nullptr) {
        SetLastError(ERROR_DISCARDED);
        return nullptr;
    }
    ++block.locks;
    return block.data;
}

BOOL unlockBlock(HANDLE handle) {
    Heap &h = heap();
    std::lock_guard<std::mutex> guard(h.lock);
    auto found = h.blocks.find(handle);
    if (found == h.blocks.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Block &block = found->second;
    if (!block.movable) return TRUE;
    if (block.locks == 0) {
        SetLastError(ERROR_NOT_LOCKED);
        return FALSE;
    }
    if (--block.locks > 0) return TRUE;
    // Documented: the last unlock returns zero and sets the last error to NO_ERROR.
    SetLastError(NO_ERROR);
    return FALSE;
}

// Null when freed; the handle itself (with ERROR_INVALID_HANDLE) when it names no block.
HANDLE freeBlock(HANDLE handle) {
    if (handle == nullptr) return nullptr;
    Block block{};
    {
        Heap &h = heap();
        std::lock_guard<std::mutex> guard(h.lock);
        auto found = h.blocks.find(handle);
        if (found == h.blocks.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return handle;
        }
        block = found->second;
        h.blocks.erase(found);
    }
    std::free(block.data);
    if (block.movable) delete static_cast<MovableHandle *>(handle);
    return nullptr;
}

}  // namespace

HLOCAL allocateLocal(SIZE_T bytes) { return allocate(false, true, bytes); }

}  // namespace platform

extern "C" HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
    if (platform::injectedFault("GlobalAlloc")) return nullptr;
    // The obsolete 16-bit flags are ignored, as Win32 does.
    return platform::allocate((uFlags & GMEM_MOVEABLE) != 0, (uFlags & GMEM_ZEROINIT) != 0, dwBytes);
}

extern "C" LPVOID WINAPI GlobalLock(HGLOBAL hMem) {
    if (platform::injectedFault("GlobalLock")) return nullptr;
    return platform::lockBlock(hMem);
}

extern "C" BOOL WINAPI GlobalUnlock(HGLOBAL hMem) { return platform::unlockBlock(hMem); }

extern "C" HGLOBAL WINAPI GlobalFree(HGLOBAL hMem) { return platform::freeBlock(hMem); }

extern "C" HLOCAL WINAPI LocalFree(HLOCAL hMem) { return platform::freeBlock(hMem); }
