// Preloaded under valgrind only. libjxl's SIMD library measures its timer when it is loaded, with
// an instruction (rdtscp) that valgrind 3.19 cannot run, so every program linking libjxl would die
// under memcheck before main(). The measurement only tunes libjxl's benchmarks.
#include <cstdint>

namespace hwy::platform {

std::uint64_t TimerResolution() { return 1; }

} // namespace hwy::platform
