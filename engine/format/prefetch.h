// Hint to the processor that a cache line will be read soon.

#pragma once

namespace tessmark::jet {

// GCC's dead-code pass drops a __builtin_prefetch whose address it can
// compute only from loads (at -O2 and above, seen with GCC 12); passing the
// address through an empty asm makes it opaque, so the hint is kept.
inline void PrefetchForRead(const void* address) {
#if defined(__GNUC__)
  asm volatile("" : "+r"(address));
  __builtin_prefetch(address);
#else
  (void)address;
#endif
}

}  // namespace tessmark::jet
