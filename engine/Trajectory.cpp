#include "Trajectory.h"

#include <algorithm>
#include <cmath>

namespace {

double Median(std::vector<double> v)
{
    if (v.empty()) return 0;
    const size_t mid = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + long(mid), v.end());
    double m = v[mid];
    if (v.size() % 2 == 0) m = (m + *std::max_element(v.begin(), v.begin() + long(mid))) / 2;
    return m;
}

// The value below which a share q (0 .. 1) of v lies.
double Quantile(std::vector<double> v, double q)
{
    if (v.empty()) return 0;
    const size_t k = std::min(v.size() - 1, size_t(q * double(v.size())));
    std::nth_element(v.begin(), v.begin() + long(k), v.end());
    return v[k];
}

// The energy below which the quietest fifth of the points lies: points under
// it hold too little sound to judge the karaoke by.
double AudibleFloor(const std::vector<AlignPoint>& points, const std::vector<bool>* kept)
{
    std::vector<double> e;
    for (size_t i = 0; i < points.size(); ++i)
        if ((!kept || (*kept)[i]) && points[i].oo > 0) e.push_back(points[i].oo);
    return Quantile(e, 0.2);
}

// Solves gram * x = rhs (symmetric, n x n) by Cholesky with a slight ridge;
// false when the matrix is not positive definite.
bool SolveSymmetric(std::vector<double> gram, const std::vector<double>& rhs, int n, std::vector<double>& x)
{
    double trace = 0;
    for (int i = 0; i < n; ++i) trace += gram[size_t(i * n + i)];
    if (!(trace > 0)) return false;
    for (int i = 0; i < n; ++i) gram[size_t(i * n + i)] += 1e-9 * trace / n;
    std::vector<double> L(size_t(n * n), 0.0);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j) {
            double sum = gram[size_t(i * n + j)];
            for (int k = 0; k < j; ++k) sum -= L[size_t(i * n + k)] * L[size_t(j * n + k)];
            if (i == j) {
                if (!(sum > 0)) return false;
                L[size_t(i * n + i)] = std::sqrt(sum);
            } else {
                L[size_t(i * n + j)] = sum / L[size_t(j * n + j)];
            }
        }
    std::vector<double> y(static_cast<size_t>(n), 0.0);
    for (int i = 0; i < n; ++i) {
        double sum = rhs[size_t(i)];
        for (int k = 0; k < i; ++k) sum -= L[size_t(i * n + k)] * y[size_t(k)];
        y[size_t(i)] = sum / L[size_t(i * n + i)];
    }
    x.assign(size_t(n), 0.0);
    for (int i = n - 1; i >= 0; --i) {
        double sum = y[size_t(i)];
        for (int k = i + 1; k < n; ++k) sum -= L[size_t(k * n + i)] * x[size_t(k)];
        x[size_t(i)] = sum / L[size_t(i * n + i)];
    }
    return true;
}

} // namespace

bool SolveBlockFit(double oo, double kk, double ok, double ss, double os, double ks, int64_t n, int64_t t,
                   int64_t k, AlignPoint& point)
{
    if (n < 3 || !(kk > 0) || !(oo > 0) || !(ss > 0)) return false;
    const double det = kk * ss - ks * ks;
    if (!(det > 1e-9 * kk * ss)) return false;
    const double g = (ok * ss - os * ks) / det;
    const double h = (kk * os - ks * ok) / det;
    if (!(std::fabs(g) > 1e-4)) return false;
    const double d = h / g;
    if (!(std::fabs(d) <= 1.0)) return false;
    const double residual = std::max(oo - g * ok - h * os, 0.0);
    const double sigma2 = residual / double(n - 2);
    point.t = t;
    point.p = double(k) + d;
    // The variance of h from the normal equations, carried to d = h / g.
    point.var = std::max(sigma2 * kk / (det * g * g), 1e-12);
    point.g = g;
    point.kk = kk;
    point.oo = oo;
    point.residual = residual / oo;
    return true;
}

bool Trajectory::Fit(const std::vector<AlignPoint>& points, double slopeGuess, int minPoints)
{
    valid_ = false;
    knotT_.clear();
    knotV_.clear();
    kept_.assign(points.size(), false);
    inliers_ = 0;
    spread_ = 0;
    const size_t n = points.size();
    if (n < size_t(std::max(minPoints, 2))) return false;

    double tMean = 0;
    for (const AlignPoint& q : points) tMean += double(q.t);
    t0_ = int64_t(tMean / double(n));
    b_ = slopeGuess;
    {
        std::vector<double> starts(n);
        for (size_t i = 0; i < n; ++i) starts[i] = points[i].p - b_ * double(points[i].t - t0_);
        a_ = Median(starts);
    }

    std::vector<double> w(n), z(n);
    double scale = 1;
    for (int iter = 0; iter < 40; ++iter) {
        for (size_t i = 0; i < n; ++i) {
            const double r = points[i].p - a_ - b_ * double(points[i].t - t0_);
            z[i] = r / std::sqrt(points[i].var);
        }
        std::vector<double> az(n);
        for (size_t i = 0; i < n; ++i) az[i] = std::fabs(z[i]);
        // The points' own error estimates set the least spread; model error
        // (the voice, a lossy karaoke) widens it.
        scale = std::max(1.4826 * Median(az), 1.0);
        const double c = 4.685 * scale;
        double sw = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (size_t i = 0; i < n; ++i) {
            const double u = z[i] / c;
            w[i] = std::fabs(u) < 1 ? (1 - u * u) * (1 - u * u) / points[i].var : 0;
            const double x = double(points[i].t - t0_), y = points[i].p;
            sw += w[i];
            sx += w[i] * x;
            sy += w[i] * y;
            sxx += w[i] * x * x;
            sxy += w[i] * x * y;
        }
        if (!(sw > 0)) return false;
        const double mx = sx / sw, my = sy / sw;
        const double vxx = sxx - sx * mx;
        const double newB = vxx > 0 ? (sxy - sx * my) / vxx : b_;
        const double newA = my - newB * mx;
        const bool settled = std::fabs(newA - a_) < 1e-7 && std::fabs(newB - b_) < 1e-13;
        a_ = newA;
        b_ = newB;
        if (settled && iter > 2) break;
    }

    double sr = 0, sw = 0;
    for (size_t i = 0; i < n; ++i) {
        kept_[i] = w[i] > 0;
        if (!kept_[i]) continue;
        ++inliers_;
        const double r = points[i].p - a_ - b_ * double(points[i].t - t0_);
        sr += w[i] * r * r;
        sw += w[i];
    }
    if (inliers_ < minPoints) return false;
    spread_ = sw > 0 ? std::sqrt(sr / sw) : 0;
    valid_ = true;
    return true;
}

void Trajectory::FitWander(const std::vector<AlignPoint>& points, int64_t segmentFrames)
{
    knotT_.clear();
    knotV_.clear();
    if (!valid_ || segmentFrames <= 0 || points.empty() || points.size() != kept_.size()) return;
    int64_t tMin = points.front().t, tMax = points.front().t;
    for (const AlignPoint& q : points) {
        tMin = std::min(tMin, q.t);
        tMax = std::max(tMax, q.t);
    }
    const int64_t segments = (tMax - tMin) / segmentFrames + 1;
    if (segments < 2) return;
    // Each segment's offset from the line by the median of its residuals, so
    // that blocks pulled by the voice (a minority) do not move it; its
    // standard error from the spread about that median.
    std::vector<std::vector<double>> res;
    res.resize(size_t(segments));
    std::vector<double> st(size_t(segments), 0);
    for (const AlignPoint& q : points) {
        const size_t s = size_t((q.t - tMin) / segmentFrames);
        res[s].push_back(q.p - a_ - b_ * double(q.t - t0_));
        st[s] += double(q.t);
    }
    bool significant = false;
    std::vector<double> mean(size_t(segments), 0), se(size_t(segments), 0);
    for (size_t s = 0; s < size_t(segments); ++s) {
        if (res[s].size() < 5) continue;
        mean[s] = Median(res[s]);
        std::vector<double> dev;
        for (double r : res[s]) dev.push_back(std::fabs(r - mean[s]));
        se[s] = 1.4826 * Median(dev) * 1.2533 / std::sqrt(double(res[s].size()));
        if (std::fabs(mean[s]) > 4 * se[s] && std::fabs(mean[s]) > 0.005) significant = true;
    }
    if (!significant) return;
    for (size_t s = 0; s < size_t(segments); ++s) {
        if (res[s].size() < 5) continue;
        // Shrunk toward the line by the segment's own uncertainty.
        const double m = mean[s];
        const double keep = m != 0 ? std::max(0.0, 1 - (2 * se[s] / m) * (2 * se[s] / m)) : 0;
        knotT_.push_back(int64_t(st[s] / double(res[s].size())));
        knotV_.push_back(m * keep);
    }
    // Which points agree with the position now, by the same rule as the fit.
    std::vector<double> z(points.size()), az(points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        z[i] = (points[i].p - At(points[i].t)) / std::sqrt(points[i].var);
        az[i] = std::fabs(z[i]);
    }
    const double c = 4.685 * std::max(1.4826 * Median(az), 1.0);
    inliers_ = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        kept_[i] = az[i] < c;
        inliers_ += kept_[i] ? 1 : 0;
    }
}

double Trajectory::At(int64_t t) const
{
    double p = a_ + b_ * double(t - t0_);
    if (!knotT_.empty()) {
        if (t <= knotT_.front()) {
            p += knotV_.front();
        } else if (t >= knotT_.back()) {
            p += knotV_.back();
        } else {
            const size_t j = size_t(std::upper_bound(knotT_.begin(), knotT_.end(), t) - knotT_.begin());
            const double x = double(t - knotT_[j - 1]) / double(knotT_[j] - knotT_[j - 1]);
            p += knotV_[j - 1] + x * (knotV_[j] - knotV_[j - 1]);
        }
    }
    return p;
}

double Trajectory::MaxWander() const
{
    double m = 0;
    for (double v : knotV_) m = std::max(m, std::fabs(v));
    return m;
}

void Trajectory::SetLine(int64_t t0, double offset, double slope)
{
    valid_ = true;
    t0_ = t0;
    a_ = offset;
    b_ = slope;
    knotT_.clear();
    knotV_.clear();
}

double VoiceFreeGain(const std::vector<AlignPoint>& points, const std::vector<bool>& kept, int minPoints)
{
    const double floor = AudibleFloor(points, &kept);
    std::vector<const AlignPoint*> c;
    for (size_t i = 0; i < points.size(); ++i)
        if (kept[i] && points[i].oo >= floor && points[i].kk > 0) c.push_back(&points[i]);
    if (c.empty()) return 0;
    std::sort(c.begin(), c.end(), [](const AlignPoint* x, const AlignPoint* y) { return x->residual < y->residual; });
    const size_t take = std::min(c.size(), std::max(size_t(minPoints), c.size() / 4));
    double num = 0, den = 0;
    for (size_t i = 0; i < take; ++i) {
        num += c[i]->g * c[i]->kk;
        den += c[i]->kk;
    }
    return den > 0 ? num / den : 0;
}

double CancellationDb(const std::vector<AlignPoint>& points)
{
    const double floor = AudibleFloor(points, nullptr);
    std::vector<double> r;
    for (const AlignPoint& q : points)
        if (q.oo > 0 && q.oo >= floor) r.push_back(q.residual);
    if (r.empty()) return 0;
    return 10 * std::log10(std::max(Quantile(r, 0.05), 1e-15));
}

std::vector<size_t> QuietestBlocks(const std::vector<AlignPoint>& points, const std::vector<bool>& kept)
{
    const double floor = AudibleFloor(points, &kept);
    std::vector<size_t> quiet;
    for (size_t i = 0; i < points.size(); ++i)
        if (kept[i] && points[i].oo >= floor && points[i].oo > 0) quiet.push_back(i);
    if (quiet.size() < 4) return {};
    std::sort(quiet.begin(), quiet.end(),
              [&](size_t a, size_t b) { return points[a].residual < points[b].residual; });
    quiet.resize(std::min<size_t>(quiet.size(), std::max<size_t>(8, std::min<size_t>(64, quiet.size() / 10))));
    return quiet;
}

ProbeCorrection PoolProbes(const std::vector<AlignPoint>& probes, int64_t origin)
{
    ProbeCorrection c;
    if (probes.empty()) return c;
    std::vector<double> p;
    for (const AlignPoint& r : probes) p.push_back(r.p);
    std::nth_element(p.begin(), p.begin() + long(p.size() / 2), p.end());
    const double median = p[p.size() / 2];
    double sw = 0, sp = 0, st = 0, stt = 0, stp = 0, sg = 0, skk = 0;
    for (size_t j = 0; j < probes.size(); ++j) {
        const AlignPoint& r = probes[j];
        if (std::fabs(r.p - median) > 0.25) continue;
        c.used.push_back(j);
        const double sigma2 = std::max(r.residual * r.oo, 1e-9);
        const double x = double(r.t - origin);
        sw += 1 / r.var;
        sp += r.p / r.var;
        st += x / r.var;
        stt += x * x / r.var;
        stp += x * r.p / r.var;
        sg += r.g * r.kk / sigma2;
        skk += r.kk / sigma2;
    }
    c.shiftFrames = sw > 0 ? sp / sw : median;
    // Where the probes are spread widely enough to tell, the fraction left
    // as a line also corrects the drift (the pass's fits are biased by
    // their fraction, which a fast drift sweeps through).
    if (sw > 0) {
        c.tilted = true;
        c.pivotFrames = st / sw;
        const double mx = st / sw, vxx = stt - st * mx;
        if (vxx > 0) {
            const double beta = (stp - st * sp / sw) / vxx;
            const double se = std::sqrt(1 / vxx);
            if (std::fabs(beta) > 3 * se) c.tilt = beta;
        }
    }
    if (skk > 0) c.gain = sg / skk;
    std::vector<double> residuals;
    for (const AlignPoint& r : probes) residuals.push_back(r.residual);
    c.cancellationDb = CleanestCancellationDb(residuals);
    return c;
}

void ApplyProbeCorrection(Trajectory& track, const ProbeCorrection& correction)
{
    if (correction.tilted) track.Tilt(correction.tilt, correction.pivotFrames);
    track.Shift(correction.shiftFrames);
}

double CleanestCancellationDb(std::vector<double> residuals)
{
    std::sort(residuals.begin(), residuals.end());
    return 10 * std::log10(std::max(residuals[std::min<size_t>(2, residuals.size() - 1)], 1e-15));
}

MatchFit FitMatchingFilter(std::vector<double> gram, const std::vector<double>& cross, double energy, int halfTaps)
{
    MatchFit fit;
    const int taps = 2 * halfTaps + 1;
    const double middle = gram[size_t(halfTaps * taps + halfTaps)];
    std::vector<double> h;
    if (!SolveSymmetric(std::move(gram), cross, taps, h)) return fit;
    fit.solved = true;
    double explained = 0;
    for (int j = 0; j < taps; ++j) explained += h[size_t(j)] * cross[size_t(j)];
    const double filterLeft = energy - explained;
    const double g = middle > 0 ? cross[size_t(halfTaps)] / middle : 0;
    const double gainLeft = energy - g * cross[size_t(halfTaps)];
    if (filterLeft < 0.5 * gainLeft) fit.taps = h;
    fit.filterLeft = filterLeft / energy;
    fit.gainLeft = gainLeft / energy;
    return fit;
}
