// Zero-filled arrays for the signal-processing code.  Running out of memory
// ends the process (after the "ARGHHH!!!" report), so no codec operation ever
// returns an out-of-memory code and no caller checks for NULL.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zef {

char* VectorCHR(size_t n);
int16_t* VectorSHR(size_t n);
int32_t* VectorINT(size_t n);
int64_t* VectorLNG(size_t n);
float* VectorFLT(size_t n);
volatile float* VectorVFLT(size_t n);
double* VectorDBL(size_t n);
void** VectorPLT(size_t n);            // array of pointers
float** MatrixFLT(size_t rows, size_t cols);
int16_t** MatrixSHR(size_t rows, size_t cols);

void safefreeRaw(void* p);
void freeMatrixRaw(void** m);

// Free what the allocators above returned, then clear the caller's pointer.
template <typename T>
void safefree(T*& p) {
    safefreeRaw(const_cast<void*>(static_cast<const volatile void*>(p)));
    p = nullptr;
}
template <typename T>
void freeMatrix(T**& m) {
    freeMatrixRaw(reinterpret_cast<void**>(m));
    m = nullptr;
}

}  // namespace zef
