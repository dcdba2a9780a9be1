// Short vectors of the compiler's vector extension (GCC and Clang), the
// width every x86-64 processor has.  Each lane does exactly what the scalar
// code would do with its value, so results never depend on how many lanes
// run at once.  Wider vectors than these are split by the compiler through
// memory, which costs more than it gains.
#pragma once

#include <cstring>

namespace zef::lanes {

using Float4 = float __attribute__((vector_size(4 * sizeof(float))));
using Float2 = float __attribute__((vector_size(2 * sizeof(float))));
using Double2 = double __attribute__((vector_size(2 * sizeof(double))));
using Int2 = int __attribute__((vector_size(2 * sizeof(int))));

inline Float4 load4(const float* p) {
    Float4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void store4(float* p, Float4 v) { std::memcpy(p, &v, sizeof v); }

// p[0], p[1] widened to double.
inline Double2 widen2(const float* p) {
    Float2 v;
    std::memcpy(&v, p, sizeof v);
    return __builtin_convertvector(v, Double2);
}

inline Double2 lowHalf(Float4 v) { return __builtin_convertvector(__builtin_shufflevector(v, v, 0, 1), Double2); }
inline Double2 highHalf(Float4 v) { return __builtin_convertvector(__builtin_shufflevector(v, v, 2, 3), Double2); }

inline Double2 splat(double x) { return Double2{x, x}; }

}  // namespace zef::lanes
