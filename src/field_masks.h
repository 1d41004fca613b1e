// The vector kernels of the field splitter: where a byte value lies among
// 64 bytes, as a 64-bit mask (bit i for byte i). The rules that the masks
// serve are in line_rules.h and hit_splitter.cpp; this file only computes
// masks, the same masks either way.
//
// NarrowMasks compares 128 bits at a time, as every x86-64 processor can
// (or a byte at a time without SSE2). WideMasks compares 256 bits at a
// time on processors with AVX2, BMI1 and POPCNT (chosen at run time; every
// AVX2 processor has the other two): a third fewer instructions for the
// split, a sixteenth for pairhits. with_masks() runs a kernel with the
// widest masks in use.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// 256-bit compares where GCC or Clang can build them for x86-64 and the
// 128-bit ones are on.
#if defined(__SSE2__) && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define PAIRHITS_WIDE_MASKS 1
#include <immintrin.h>
#endif

namespace pairhits {

inline constexpr std::size_t kBlock = 64;  // bytes looked at in one step, one bit each in a mask

// Bits set in x, without the library call that std::popcount becomes on
// x86-64 processors that may lack the instruction.
inline int bits_set(std::uint64_t x) {
  x -= (x >> 1) & 0x5555555555555555;
  x = (x & 0x3333333333333333) + ((x >> 2) & 0x3333333333333333);
  x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0f;
  return static_cast<int>((x * 0x0101010101010101) >> 56);
}

// The low n bits, all of them from n = 64 on.
inline std::uint64_t low_bits(std::size_t n) { return n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1; }

// One value per call keeps the mask in a register (an array of masks filled
// in a loop went through memory). The 64 bytes at p must be readable.
struct NarrowMasks {
  static std::uint64_t of(const char* p, char c) {
#if defined(__SSE2__)
    const __m128i needle = _mm_set1_epi8(c);
    std::uint64_t mask = 0;
    for (int k = 0; k < 4; ++k) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
      mask |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, needle)))} << (16 * k);
    }
    return mask;
#else
    std::uint64_t mask = 0;
    for (std::size_t i = 0; i < kBlock; ++i) mask |= std::uint64_t{p[i] == c} << i;
    return mask;
#endif
  }
  static int count(std::uint64_t x) { return bits_set(x); }
};

#if PAIRHITS_WIDE_MASKS
#define PAIRHITS_WIDE_TARGET "avx2,bmi,popcnt"
struct WideMasks {
  [[gnu::target(PAIRHITS_WIDE_TARGET)]] static std::uint64_t of(const char* p, char c) {
    const __m256i needle = _mm256_set1_epi8(c);
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    const auto low_half = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, needle)));
    const auto high_half = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, needle)));
    return std::uint64_t{low_half} | (std::uint64_t{high_half} << 32);
  }
  [[gnu::target(PAIRHITS_WIDE_TARGET)]] static int count(std::uint64_t x) { return __builtin_popcountll(x); }
};

// Whether the wide masks are in use: the processor has them, and no test
// has turned them off.
extern bool wide_masks_in_use;

// Kernel::run<WideMasks>, built for the wide target as a whole (flatten)
// so that the compares inline.
template <typename Kernel, typename... Args>
[[gnu::target(PAIRHITS_WIDE_TARGET), gnu::flatten]] auto run_wide(Args... args) {
  return Kernel::template run<WideMasks>(args...);
}
#endif

// Kernel::run<Masks>(args...) with the widest masks in use. The arguments
// go by value (outputs as pointers): a reference to the caller's variables
// could alias what the kernel writes, and its loops would reload them.
template <typename Kernel, typename... Args>
inline auto with_masks(Args... args) {
#if PAIRHITS_WIDE_MASKS
  if (wide_masks_in_use) return run_wide<Kernel>(args...);
#endif
  return Kernel::template run<NarrowMasks>(args...);
}

// Whether the splitter may use the wide masks on processors that have
// them; it may unless told otherwise. Returns whether it now does. Tests
// turn them off to check the narrow ones on such processors.
bool use_wide_masks(bool allowed);

}  // namespace pairhits
