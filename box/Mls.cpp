#include "box/Mls.h"

#include <bit>

namespace box {

unsigned mlsNextState(unsigned state)
{
    const unsigned feedback = static_cast<unsigned>(std::popcount(state & kMlsTapMask)) & 1u;
    return ((state << 1) & 0xFFFu) | feedback;
}

namespace {

struct MlsTables {
    std::array<int, kMlsSize> input{};
    std::array<int, kMlsSize> output{};
    std::array<unsigned char, kMlsPeriod> bits{};

    MlsTables()
    {
        unsigned s = kMlsStartState;
        for (int k = 0; k < kMlsPeriod; ++k) {
            input[k] = static_cast<int>(s);
            bits[k] = static_cast<unsigned char>(s & 1u);
            s = mlsNextState(s);
        }
        input[kMlsPeriod] = 0;

        // The mask of delay d selects the state bits whose parity is a(n - d). Delays 0..11
        // are single bits; beyond that the masks follow the generator's recurrence
        // a(n) = a(n-2) ^ a(n-10) ^ a(n-11) ^ a(n-12) taken backwards.
        std::array<unsigned, kMlsPeriod> mask{};
        for (int d = 0; d < kMlsPeriod; ++d) {
            if (d < kMlsOrder)
                mask[d] = 1u << d;
            else
                mask[d] = mask[d - 12] ^ mask[d - 10] ^ mask[d - 2] ^ mask[d - 1];
            output[mask[d] - 1] = 1 + d;
        }
        output[kMlsPeriod] = 0;
    }
};

const MlsTables& tables()
{
    static const MlsTables t;
    return t;
}

} // namespace

int mlsBit(int n)
{
    if (n < 0)
        return 0;
    return tables().bits[n % kMlsPeriod];
}

const std::array<int, kMlsSize>& mlsInputOrder()
{
    return tables().input;
}
const std::array<int, kMlsSize>& mlsOutputOrder()
{
    return tables().output;
}

void hadamardTransform(float* x, int order)
{
    if (order < 1 || order > kMlsOrder)
        return;
    const int n = 1 << order;
    // In-place butterflies give the same natural-order transform as the pass-and-copy form
    // and need no scratch array.
    for (int len = 1; len < n; len <<= 1) {
        for (int i = 0; i < n; i += len << 1) {
            for (int j = i; j < i + len; ++j) {
                const float a = x[j];
                const float b = x[j + len];
                x[j] = a + b;
                x[j + len] = a - b;
            }
        }
    }
}

void deconvolveMls(float* record, float divisor)
{
    const MlsTables& t = tables();
    std::array<float, kMlsSize> x;

    // The box's recording lags its generator by three samples: correlate with the record
    // delayed by three, r((k - 3) mod 4095), scattered with inverted sign.
    x[0] = 0.0f;
    for (int k = 0; k < kMlsPeriod; ++k) {
        const int src = k >= 3 ? k - 3 : k - 3 + kMlsPeriod;
        x[t.input[k]] = -record[src];
    }
    hadamardTransform(x.data(), kMlsOrder);

    std::array<float, kMlsSize> h;
    h[0] = 0.0f;
    for (int u = 1; u < kMlsSize; ++u)
        h[t.output[u - 1]] = x[u];
    for (int k = 0; k < kMlsSize; ++k)
        record[k] = h[k] / divisor;
}

} // namespace box
