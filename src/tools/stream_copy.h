// Copies that go around the cache: whole 64-byte lines written with
// streaming stores. A store of the ordinary kind first takes the cache line
// for itself, and when another processor holds that line (a buffer it has
// just read), the store waits for that processor to give it up. Streaming
// stores of whole lines wait for nobody; they suit memory that this thread
// fills and another thread reads next.
#pragma once

#include <cstddef>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace pairhits {

inline constexpr std::size_t kStreamLine = 64;

// Copies n bytes, a multiple of kStreamLine, between kStreamLine-aligned addresses.
inline void stream_copy(char* to, const char* from, std::size_t n) {
#ifdef __SSE2__
  auto* out = reinterpret_cast<__m128i*>(to);
  const auto* in = reinterpret_cast<const __m128i*>(from);
  for (std::size_t i = 0; i < n / 16; i += 4) {
    _mm_stream_si128(out + i, _mm_load_si128(in + i));
    _mm_stream_si128(out + i + 1, _mm_load_si128(in + i + 1));
    _mm_stream_si128(out + i + 2, _mm_load_si128(in + i + 2));
    _mm_stream_si128(out + i + 3, _mm_load_si128(in + i + 3));
  }
#else
  std::memcpy(to, from, n);
#endif
}

// Streaming stores are not ordered with later ordinary ones: this makes them
// visible before whatever this thread writes next (a hand-over to another
// thread, say).
inline void stream_fence() {
#ifdef __SSE2__
  _mm_sfence();
#endif
}

}  // namespace pairhits
