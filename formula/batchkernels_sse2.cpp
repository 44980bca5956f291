// The batch kernels built for sse2 (16-byte vectors); see batchkernels.inc.
#define BATCH_NAMESPACE BatchSse2
#define BATCH_VECTOR_BYTES 16
#define BATCH_NAME "sse2"
#include "batchkernels.inc"
