// The batch kernels built for avx512 (64-byte vectors); see batchkernels.inc.
#define BATCH_NAMESPACE BatchAvx512
#define BATCH_VECTOR_BYTES 64
#define BATCH_NAME "avx512"
#include "batchkernels.inc"
