#include "EditSearch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace editsearch {

namespace {

// The normalised correlation of a stretch with energy `stretchEnergy` at
// karaoke position p, from the raw correlation there.
double Normalised(double corr, double stretchEnergy, const std::vector<double>& prefix, int64_t p, int count)
{
    const double e = prefix[size_t(p + count)] - prefix[size_t(p)];
    return e > 0 && stretchEnergy > 0 ? corr / std::sqrt(e * stretchEnergy) : 0.0;
}

// Best and runner-up over positions 0 .. last of score(p), in two sweeps
// (no array of every position's score).
template <typename Score>
Match Pick(int64_t first, int64_t last, int count, Score&& score)
{
    Match m;
    first = std::max<int64_t>(first, 0);
    if (last < first) return m;
    m.score = -2;
    for (int64_t p = first; p <= last; ++p) {
        const double s = score(p);
        if (s > m.score) {
            m.score = s;
            m.position = p;
        }
    }
    const int64_t away = std::max(1, count / 2);
    for (int64_t p = first; p <= last; ++p)
        if (std::llabs(p - m.position) >= away) m.runnerUp = std::max(m.runnerUp, score(p));
    return m;
}

std::vector<double> Prefix(const std::vector<float>& x)
{
    std::vector<double> prefix(x.size() + 1, 0.0);
    for (size_t i = 0; i < x.size(); ++i) prefix[i + 1] = prefix[i] + double(x[i]) * x[i];
    return prefix;
}

} // namespace

void Decimator::Reset()
{
    out_.clear();
    sum_ = 0;
    have_ = 0;
}

void Decimator::Push(const int16_t* frames, int count, int channels)
{
    for (int i = 0; i < count; ++i) {
        double v = frames[i * channels];
        if (channels > 1) v += frames[i * channels + 1];
        sum_ += v;
        if (++have_ == kDecimation) {
            out_.push_back(float(sum_ / kDecimation));
            sum_ = 0;
            have_ = 0;
        }
    }
}

void DecimateInto(const int32_t* left, const int32_t* right, int frames, std::vector<float>& out)
{
    out.clear();
    for (int i = 0; i + kDecimation <= frames; i += kDecimation) {
        double s = 0;
        for (int j = i; j < i + kDecimation; ++j) s += double(left[j]) + (right ? double(right[j]) : 0.0);
        out.push_back(float(s / kDecimation));
    }
}

int Locator::Setup(const std::vector<float>& karaoke, int maxStretch)
{
    size_ = 0;
    karaokeLen_ = int64_t(karaoke.size());
    maxStretch_ = maxStretch;
    if (karaoke.empty() || maxStretch < 1) return 1;
    int64_t n = 4;
    while (n < karaokeLen_ + maxStretch) n *= 2;
    if (n > (1 << 24)) return 1;
    const int size = int(n);
    if (!buffer_util::AllocateAligned(karaokeSpectrum_, size_t(size) + 2) ||
        !buffer_util::AllocateAligned(work_, size_t(size)) || !buffer_util::AllocateAligned(spectrum_, size_t(size) + 2) ||
        fft_.Init(size) != 0)
        return 1;
    std::copy(karaoke.begin(), karaoke.end(), work_.get());
    fft_.Forward(work_.get(), karaokeSpectrum_.get());
    energyPrefix_ = Prefix(karaoke);
    size_ = size;
    return 0;
}

Match Locator::Find(const float* stretch, int count, int64_t from, int64_t to)
{
    if (size_ == 0 || count < 1 || count > maxStretch_ || count > karaokeLen_) return {};
    // The correlation at p is the convolution of the karaoke with the
    // stretch reversed, read at p + count - 1.
    std::fill(work_.get(), work_.get() + size_, 0.0f);
    double energy = 0;
    for (int j = 0; j < count; ++j) {
        work_[count - 1 - j] = stretch[j];
        energy += double(stretch[j]) * stretch[j];
    }
    fft_.Forward(work_.get(), spectrum_.get());
    for (int k = 0; k <= size_ / 2; ++k) {
        const float ar = spectrum_[2 * k], ai = spectrum_[2 * k + 1];
        const float br = karaokeSpectrum_[2 * k], bi = karaokeSpectrum_[2 * k + 1];
        spectrum_[2 * k] = ar * br - ai * bi;
        spectrum_[2 * k + 1] = ar * bi + ai * br;
    }
    fft_.Inverse(spectrum_.get(), work_.get());
    const double scale = 1.0 / size_;
    return Pick(from, std::min(to, karaokeLen_ - count), count, [&](int64_t p) {
        return Normalised(double(work_[p + count - 1]) * scale, energy, energyPrefix_, p, count);
    });
}

Match Locator::FindReference(const std::vector<float>& karaoke, const float* stretch, int count, int64_t from,
                             int64_t to)
{
    if (count < 1 || count > int64_t(karaoke.size())) return {};
    const std::vector<double> prefix = Prefix(karaoke);
    double energy = 0;
    for (int j = 0; j < count; ++j) energy += double(stretch[j]) * stretch[j];
    return Pick(from, std::min(to, int64_t(karaoke.size()) - count), count, [&](int64_t p) {
        double c = 0;
        for (int j = 0; j < count; ++j) c += double(stretch[j]) * karaoke[size_t(p + j)];
        return Normalised(c, energy, prefix, p, count);
    });
}

} // namespace editsearch
