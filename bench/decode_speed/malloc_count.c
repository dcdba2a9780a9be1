/* Counts the process's heap calls and the bytes it holds, by standing in for
 * the C library's allocation functions and passing each call on to it. */
#include <malloc.h>
#include <stdatomic.h>
#include <stddef.h>
#include <stdint.h>

#include "malloc_count.h"

void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* p);

static atomic_uint_fast64_t calls;
static atomic_int_fast64_t live, peak;

static void held(void* p) {
    if (!p) return;
    int_fast64_t now = atomic_fetch_add(&live, (int_fast64_t)malloc_usable_size(p)) + (int_fast64_t)malloc_usable_size(p);
    int_fast64_t top = atomic_load(&peak);
    while (now > top && !atomic_compare_exchange_weak(&peak, &top, now)) {
    }
}

static void released(void* p) {
    if (p) atomic_fetch_sub(&live, (int_fast64_t)malloc_usable_size(p));
}

void* malloc(size_t size) {
    atomic_fetch_add(&calls, 1);
    void* p = __libc_malloc(size);
    held(p);
    return p;
}

void* calloc(size_t count, size_t size) {
    atomic_fetch_add(&calls, 1);
    void* p = __libc_calloc(count, size);
    held(p);
    return p;
}

void* realloc(void* old, size_t size) {
    atomic_fetch_add(&calls, 1);
    released(old);
    void* p = __libc_realloc(old, size);
    held(p ? p : (size ? old : NULL));
    return p;
}

void* memalign(size_t alignment, size_t size) {
    atomic_fetch_add(&calls, 1);
    void* p = __libc_memalign(alignment, size);
    held(p);
    return p;
}

void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }

int posix_memalign(void** out, size_t alignment, size_t size) {
    void* p = memalign(alignment, size);
    if (!p) return 12; /* ENOMEM */
    *out = p;
    return 0;
}

void free(void* p) {
    released(p);
    __libc_free(p);
}

uint64_t mallocCalls(void) { return atomic_load(&calls); }
int64_t mallocHeld(void) { return atomic_load(&live); }
int64_t mallocPeak(void) { return atomic_load(&peak); }
void mallocResetPeak(void) { atomic_store(&peak, atomic_load(&live)); }
