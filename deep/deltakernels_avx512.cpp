// The lane loops of the perturbed programs built for avx512; see deltakernels.inc.
#define DELTA_NAMESPACE DeltaAvx512
#define DELTA_NAME "avx512"
#include "deltakernels.inc"
