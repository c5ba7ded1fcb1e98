#pragma once
// Records the largest single request that reached operator new, so a test can show that no
// size a file claims is ever allocated.
#include <cstddef>

namespace allocprobe {
void Reset();
size_t Largest();
}  // namespace allocprobe
