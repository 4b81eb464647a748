#include "archive/parallel_read.h"

#if defined(QZARC_TEST_HOOKS)
uint32_t gParallelStretchBytes = 0;
#endif
