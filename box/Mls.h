// The maximum-length sequence the box plays while it records, and the fast Hadamard
// deconvolution that turns a recorded MLS response into an impulse response.
#pragma once

#include <array>

namespace box {

inline constexpr int kMlsOrder = 12;
inline constexpr int kMlsSize = 1 << kMlsOrder; // 4096, one more than the period
inline constexpr int kMlsPeriod = kMlsSize - 1; // 4095

// The box's generator: 12-bit shift register, start state 0xDC0, feedback from the parity of
// state bits 11, 10, 9 and 1. The start state and taps must match the box, or the
// deconvolution returns noise.
inline constexpr unsigned kMlsStartState = 0xDC0;
inline constexpr unsigned kMlsTapMask = 0xE02;

// The state that follows `state`.
unsigned mlsNextState(unsigned state);
// Sequence bit a(n) (0 or 1) for any n >= 0: bit 0 of the generator state after n steps.
int mlsBit(int n);

// Scatter order (entry k is the generator state s(k), entry 4095 is 0) and gather order
// (entry u-1 is 1 + the delay whose mask is u, entry 4095 is 0). Built once on first use.
const std::array<int, kMlsSize>& mlsInputOrder();
const std::array<int, kMlsSize>& mlsOutputOrder();

// Unnormalised Walsh-Hadamard transform of x[0 .. 2^order - 1] in place, natural order.
// Orders outside 1..12 leave x unchanged.
void hadamardTransform(float* x, int order);

// record[0..4094] is one period of the recorded response (record[4095] is ignored); the
// impulse response replaces record[0..4095], divided by `divisor` (3300 for A/D counts, 57 for
// volts in the level measurement). Element 0 of the result is always 0. Uses only stack
// arrays, so the level worker may call it while the user-interface thread computes.
void deconvolveMls(float* record, float divisor);

} // namespace box
