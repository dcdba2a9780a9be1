/* Heap accounting of the benchmark process (malloc_count.c). */
#ifndef MALLOC_COUNT_H
#define MALLOC_COUNT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

uint64_t mallocCalls(void);    /* allocation calls so far (malloc, calloc, realloc, aligned) */
int64_t mallocHeld(void);      /* bytes held now */
int64_t mallocPeak(void);      /* most bytes held since the last reset */
void mallocResetPeak(void);    /* the peak starts again from what is held now */

#ifdef __cplusplus
}
#endif

#endif
