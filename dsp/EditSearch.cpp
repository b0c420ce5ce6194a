#include "EditSearch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace editsearch {

namespace {

// The normalised correlation of a stretch with energy `stretchEnergy` at
// karaoke position p, from the raw correlation there (prefix: of the
// karaoke's squares, from where p counts).
double Normalised(double corr, double stretchEnergy, const std::vector<double>& prefix, int64_t p, int count)
{
    const double e = prefix[size_t(p + count)] - prefix[size_t(p)];
    return e > 0 && stretchEnergy > 0 ? corr / std::sqrt(e * stretchEnergy) : 0.0;
}

// Best and runner-up over positions first .. last of score(p), in two
// sweeps (no array of every position's score).
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

// The same pick in one sweep, the scores given in order of position: when a
// place becomes the best, the runner-up is the best score at least `away`
// before it, which trails the sweep by `away` positions (the scores in
// between wait in a ring); after it, the later places far enough away.
class StreamingPick {
public:
    StreamingPick(std::vector<double>& ring, int count) : ring_(ring), away_(std::max(1, count / 2)) {}
    void Add(int64_t p, double s)
    {
        if (seen_ >= away_) before_ = std::max(before_, ring_[size_t(slot_)]);
        ring_[size_t(slot_)] = s;
        if (++slot_ == away_) slot_ = 0;
        ++seen_;
        if (s > m_.score) {
            m_.score = s;
            m_.position = p;
            m_.runnerUp = std::max(0.0, before_);
        } else if (p - m_.position >= away_) {
            m_.runnerUp = std::max(m_.runnerUp, s);
        }
    }
    Match Result() const { return seen_ > 0 ? m_ : Match{}; }

private:
    std::vector<double>& ring_; // at least away_ long
    const int64_t away_;
    int64_t seen_ = 0, slot_ = 0; // slot_: where the score `away_` back is
    double before_ = 0; // the best score at least away_ before the sweep
    Match m_{-1, -2, 0};
};

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
    karaoke_ = karaoke.data();
    karaokeLen_ = int64_t(karaoke.size());
    maxStretch_ = maxStretch;
    if (karaoke.empty() || maxStretch < 1 || maxStretch > (1 << 22)) return 1;
    // A piece of n samples gives n - count + 1 places: four times the longest
    // stretch keeps the overlap a quarter at most, and a short karaoke takes
    // one piece.
    int n = 64;
    while (n < 4 * maxStretch && n < karaokeLen_ + maxStretch) n *= 2;
    if (!buffer_util::AllocateAligned(piece_, size_t(n)) || !buffer_util::AllocateAligned(spectrum_, size_t(n) + 2) ||
        !buffer_util::AllocateAligned(stretchSpectrum_, size_t(n) + 2) || fft_.Init(n) != 0)
        return 1;
    energyPrefix_.assign(size_t(n) + 1, 0.0);
    recent_.assign(size_t(std::max(1, maxStretch / 2)), 0.0);
    size_ = n;
    return 0;
}

Match Locator::Find(const float* stretch, int count, int64_t from, int64_t to)
{
    if (size_ == 0 || count < 1 || count > maxStretch_ || count > karaokeLen_) return {};
    const int64_t first = std::max<int64_t>(from, 0), last = std::min(to, karaokeLen_ - count);
    if (last < first) return {};
    double energy = 0;
    for (int j = 0; j < count; ++j) energy += double(stretch[j]) * stretch[j];
    std::copy(stretch, stretch + count, piece_.get());
    std::fill(piece_.get() + count, piece_.get() + size_, 0.0f);
    fft_.Forward(piece_.get(), stretchSpectrum_.get());

    // The correlation of the piece x from karaoke position c with the
    // stretch s, sum_j s[j] x[i + j], is the inverse transform of
    // conj(S) X at i; it holds no wrapped terms for i <= n - count.
    const int places = size_ - count + 1;
    const double scale = 1.0 / size_;
    StreamingPick pick(recent_, count);
    for (int64_t c = first; c <= last; c += places) {
        const int here = int(std::min<int64_t>(places, last - c + 1));
        const int len = here + count - 1; // karaoke samples this piece reads
        const float* x = karaoke_ + c;
        std::copy(x, x + len, piece_.get());
        std::fill(piece_.get() + len, piece_.get() + size_, 0.0f);
        for (int i = 0; i < len; ++i) energyPrefix_[size_t(i) + 1] = energyPrefix_[size_t(i)] + double(x[i]) * x[i];
        fft_.Forward(piece_.get(), spectrum_.get());
        for (int k = 0; k <= size_ / 2; ++k) {
            const float ar = stretchSpectrum_[2 * k], ai = stretchSpectrum_[2 * k + 1];
            const float br = spectrum_[2 * k], bi = spectrum_[2 * k + 1];
            spectrum_[2 * k] = ar * br + ai * bi;
            spectrum_[2 * k + 1] = ar * bi - ai * br;
        }
        fft_.Inverse(spectrum_.get(), piece_.get());
        for (int i = 0; i < here; ++i)
            pick.Add(c + i, Normalised(double(piece_[i]) * scale, energy, energyPrefix_, i, count));
    }
    return pick.Result();
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
