// The lane loops of the perturbed programs built for sse2; see deltakernels.inc.
#define DELTA_NAMESPACE DeltaSse2
#define DELTA_NAME "sse2"
#define DELTA_VECTOR_BYTES 16
#include "deltakernels.inc"
