// The lane loops of the perturbed programs built for avx2; see deltakernels.inc.
#define DELTA_NAMESPACE DeltaAvx2
#define DELTA_NAME "avx2"
#define DELTA_VECTOR_BYTES 32
#include "deltakernels.inc"
