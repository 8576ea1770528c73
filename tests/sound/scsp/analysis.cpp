#include <cmath>
#include <string>

#include "core/base/helpers.h"
#include "scsp_testbench.h"

double rms(const std::vector<s16>& s, std::size_t from, std::size_t to)
{
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += double(s[i]) * s[i];
    return to > from ? std::sqrt(sum / double(to - from)) : 0;
}

// Hann-windowed radix-2 FFT; the peak bin is refined by a parabola through
// its neighbours' log magnitudes.
double dominantHz(const std::vector<s16>& s, std::size_t from, std::size_t n)
{
    using C = std::complex<double>;
    std::vector<C> x(n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = s[from + i] * (0.5 - 0.5 * std::cos(2 * M_PI * double(i) / double(n)));
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(x[i], x[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const C w = std::polar(1.0, -2 * M_PI / double(len));
        for (std::size_t i = 0; i < n; i += len) {
            C wk = 1;
            for (std::size_t k = 0; k < len / 2; ++k, wk *= w) {
                const C u = x[i + k], v = x[i + k + len / 2] * wk;
                x[i + k] = u + v;
                x[i + k + len / 2] = u - v;
            }
        }
    }
    std::size_t peak = 1;
    for (std::size_t k = 1; k < n / 2; ++k) {
        if (std::abs(x[k]) > std::abs(x[peak]))
            peak = k;
    }
    const double a = std::log(std::abs(x[peak - 1]) + 1e-9), b = std::log(std::abs(x[peak]) + 1e-9),
                 c = std::log(std::abs(x[peak + 1]) + 1e-9);
    const double shift = 0.5 * (a - c) / (a - 2 * b + c);
    return (double(peak) + shift) * 44100.0 / double(n);
}

Wav readWav(const std::vector<u8>& f)
{
    Wav w;
    if (f.size() < 44 || std::string(f.begin() + 8, f.begin() + 16) != "WAVEfmt " ||
        loadBe32(&f[36]) != 0x64617461 /* "data" */ || static_cast<std::size_t>(f[40] | f[41] << 8 | f[42] << 16) != f.size() - 44)
        return w;
    w.channels = f[22];
    w.rate = f[24] | f[25] << 8 | f[26] << 16;
    w.bits = f[34];
    for (std::size_t at = 44; at + 4 <= f.size(); at += 4) {
        w.left.push_back(static_cast<s16>(f[at] | f[at + 1] << 8));
        w.right.push_back(static_cast<s16>(f[at + 2] | f[at + 3] << 8));
    }
    return w;
}
