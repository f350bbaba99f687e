#include "imaging/diffusion_passes.h"

namespace imaging::diffusion {
namespace {
// 16-byte vectors, which every x86-64 processor has.
constexpr int kLanes = 8;
} // namespace
} // namespace imaging::diffusion

#include "imaging/diffusion_passes.inc"

namespace imaging::diffusion {

#if defined(GREYPLANES_AVX2_PASSES)
// Built in a file of its own for processors with AVX2.
const Passes& avx2Passes();
#endif

const Passes& passes(Isa isa) {
#if defined(GREYPLANES_AVX2_PASSES)
    if (isa == Isa::Avx2) {
        return avx2Passes();
    }
#endif
    static_cast<void>(isa);
    return kPasses;
}

const Passes& passes() {
    static const Passes& fastest = passes(isaAvailable(Isa::Avx2) ? Isa::Avx2 : Isa::Sse2);
    return fastest;
}

} // namespace imaging::diffusion
