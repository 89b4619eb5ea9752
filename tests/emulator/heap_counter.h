// Heap bytes in use through operator new, counted by the operator new and
// delete that heap_counter.cpp puts in place for the whole test binary. In a
// translation unit of their own, so that no caller is compiled against them.
#pragma once

namespace tarnel::test {

long long LiveHeapBytes();

}  // namespace tarnel::test
