// The batch kernels built for avx2 (32-byte vectors); see batchkernels.inc.
#define BATCH_NAMESPACE BatchAvx2
#define BATCH_VECTOR_BYTES 32
#define BATCH_NAME "avx2"
#include "batchkernels.inc"
