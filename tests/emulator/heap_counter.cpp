#include "heap_counter.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long long> liveBytes{0};
// Each block carries its size in front, so that delete knows what it frees.
constexpr std::size_t kHeader = alignof(std::max_align_t);

}  // namespace

namespace tarnel::test {

long long LiveHeapBytes() { return liveBytes; }

}  // namespace tarnel::test

void* operator new(std::size_t size) {
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (block == nullptr) throw std::bad_alloc();
    *reinterpret_cast<std::size_t*>(block) = size;
    liveBytes += static_cast<long long>(size);
    return block + kHeader;
}

void operator delete(void* pointer) noexcept {
    if (pointer == nullptr) return;
    auto* block = static_cast<unsigned char*>(pointer) - kHeader;
    liveBytes -= static_cast<long long>(*reinterpret_cast<std::size_t*>(block));
    std::free(block);
}

void operator delete(void* pointer, std::size_t) noexcept { operator delete(pointer); }
