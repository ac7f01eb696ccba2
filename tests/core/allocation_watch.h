// Records the largest single allocation made through operator new, so tests
// can show that hostile sizes in a file never turn into a huge request.
#pragma once

#include <cstddef>

namespace pictrove::test {

// Largest request since the last reset.
std::size_t largestAllocation();
void resetLargestAllocation();

}  // namespace pictrove::test
