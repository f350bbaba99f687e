// Compiled for AVX2: nothing here may run before passes() has found the processor has it.
#include "imaging/diffusion_passes.h"

namespace imaging::diffusion {
namespace {
constexpr int kLanes = 16;
} // namespace
} // namespace imaging::diffusion

#include "imaging/diffusion_passes.inc"

namespace imaging::diffusion {

const Passes& avx2Passes() {
    return kPasses;
}

} // namespace imaging::diffusion
