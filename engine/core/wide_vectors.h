#ifndef TAV_ENGINE_CORE_WIDE_VECTORS_H_
#define TAV_ENGINE_CORE_WIDE_VECTORS_H_

// Dense kernels (the sweep inversion, the tridiagonal reduction) have a second version with
// vectors of four doubles for x86-64 processors with AVX2, chosen at run time. Their lanes are
// computed on their own, each entry with the same operations in the same order as the scalar
// code and without fused multiply-adds (the project compiles with -ffp-contract=off), so both
// versions give the same bits.
namespace tav {

// kWidth doubles side by side, aligned as a double is (the kernels read them from anywhere in a
// row): GCC's and Clang's vector extension, whose operations act lane by lane.
template <int kWidth>
struct DoubleVector {
  typedef double Type
      __attribute__((vector_size(kWidth * sizeof(double)), aligned(sizeof(double))));
};

}  // namespace tav

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TAV_WIDE_VECTORS 1

namespace tav {

// Set by the tests to run the kernels' other version on a processor with AVX2.
inline bool& WideVectorsOff() {
  static bool off = false;
  return off;
}

// True when the processor has AVX2 (asked once) and the tests have not turned them off.
inline bool HasWideVectors() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has && !WideVectorsOff();
}

}  // namespace tav

#endif

#endif  // TAV_ENGINE_CORE_WIDE_VECTORS_H_
