#include "deltakernels.h"

namespace DeltaSse2 {
extern const DeltaKernels kDeltaKernels;
}
namespace DeltaAvx2 {
extern const DeltaKernels kDeltaKernels;
}
namespace DeltaAvx512 {
extern const DeltaKernels kDeltaKernels;
}

const DeltaKernels& ActiveDeltaKernels()
{
    static const DeltaKernels& kernels = __builtin_cpu_supports("avx512f") ? DeltaAvx512::kDeltaKernels
        : __builtin_cpu_supports("avx2")                                   ? DeltaAvx2::kDeltaKernels
                                                                           : DeltaSse2::kDeltaKernels;
    return kernels;
}
