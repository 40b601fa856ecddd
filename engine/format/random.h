// A small random sequence for generated data: splitmix64, fast and the
// same on every platform, so that a seed always gives the same file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tessmark::jet {

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint64_t Below(uint64_t n) { return n == 0 ? 0 : Next() % n; }
  double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }
  bool Chance(double p) { return Unit() < p; }
  template <typename T, size_t N>
  const T& Pick(const std::array<T, N>& items) {
    return items[static_cast<size_t>(Below(N))];
  }

 private:
  uint64_t state_;
};

}  // namespace tessmark::jet
