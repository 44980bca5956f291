// The lane loops of the perturbed programs built for avx512; see deltakernels.inc.
#define DELTA_NAMESPACE DeltaAvx512
#define DELTA_NAME "avx512"
#define DELTA_VECTOR_BYTES 64
#include "deltakernels.inc"
