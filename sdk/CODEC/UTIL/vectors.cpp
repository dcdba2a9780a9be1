#include "vectors.h"

#include <cstdlib>

#include "zefinternal.h"

namespace zef {
namespace {

void* zeroed(size_t n, size_t size, int line) {
    void* p = std::calloc(n ? n : 1, size);
    if (!p) _ErrorMessage_("Memory Alloc Failure.", line, "Vector");
    return p;
}

// Rows share one block after the row pointers, so one free releases all.
void** matrix(size_t rows, size_t cols, size_t size, int line) {
    size_t head = rows * sizeof(void*);
    head = (head + 15) & ~size_t(15);
    char* block = static_cast<char*>(zeroed(head + rows * cols * size, 1, line));
    void** rowp = reinterpret_cast<void**>(block);
    for (size_t r = 0; r < rows; ++r) rowp[r] = block + head + r * cols * size;
    return rowp;
}

}  // namespace

char* VectorCHR(size_t n) { return static_cast<char*>(zeroed(n, 1, __LINE__)); }
int16_t* VectorSHR(size_t n) { return static_cast<int16_t*>(zeroed(n, sizeof(int16_t), __LINE__)); }
int32_t* VectorINT(size_t n) { return static_cast<int32_t*>(zeroed(n, sizeof(int32_t), __LINE__)); }
int64_t* VectorLNG(size_t n) { return static_cast<int64_t*>(zeroed(n, sizeof(int64_t), __LINE__)); }
float* VectorFLT(size_t n) { return static_cast<float*>(zeroed(n, sizeof(float), __LINE__)); }
volatile float* VectorVFLT(size_t n) { return static_cast<volatile float*>(zeroed(n, sizeof(float), __LINE__)); }
double* VectorDBL(size_t n) { return static_cast<double*>(zeroed(n, sizeof(double), __LINE__)); }
void** VectorPLT(size_t n) { return static_cast<void**>(zeroed(n, sizeof(void*), __LINE__)); }
float** MatrixFLT(size_t rows, size_t cols) {
    return reinterpret_cast<float**>(matrix(rows, cols, sizeof(float), __LINE__));
}
int16_t** MatrixSHR(size_t rows, size_t cols) {
    return reinterpret_cast<int16_t**>(matrix(rows, cols, sizeof(int16_t), __LINE__));
}

void safefreeRaw(void* p) { std::free(p); }
void freeMatrixRaw(void** m) { std::free(m); }

}  // namespace zef
