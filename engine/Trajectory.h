// Where the karaoke's content lies for each frame of the original: a smooth
// position fitted to the shifts measured block by block, so that blocks where
// the voice dominates (and pulls a single block's measurement) count little,
// and a gain fitted to the blocks that hold no voice. Then the statistics of
// the quietest blocks read again along that position, which correct it, and
// the short filter fitted on them that matches a differently mastered
// karaoke to the original.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// One block's measurement: at original frame t the karaoke frame p (with its
// fraction) holds the same content, with variance var (frames squared). The
// least-squares gain g of the karaoke there, the karaoke's energy kk, the
// original's energy oo and the share of the original's energy that is left
// after subtraction (residual, 0 .. 1).
struct AlignPoint {
    int64_t t = 0;
    double p = 0;
    double var = 0;
    double g = 0;
    double kk = 0;
    double oo = 0;
    double residual = 1;
};

// One block's sums of the fit orig ~ g * kar(shift + i + d) (see
// TVocalFunc::FitBlock): solves for g and d and fills an AlignPoint for the
// block whose middle starts at original frame t and karaoke frame k (whole
// shift). False when the block carries no usable evidence (silence, a
// singular fit, or a fractional part beyond one frame, where the linear model
// does not hold).
bool SolveBlockFit(double oo, double kk, double ok, double ss, double os, double ks, int64_t n, int64_t t,
                   int64_t k, AlignPoint& point);

class Trajectory {
public:
    // Robust straight-line fit of p against t (Tukey's biweight on residuals
    // scaled by each point's standard error), starting from the slope
    // `slopeGuess`. False (and an invalid trajectory) with fewer than
    // `minPoints` points kept.
    bool Fit(const std::vector<AlignPoint>& points, double slopeGuess, int minPoints = 8);
    // After Fit: where the kept points of whole segments of segmentFrames sit
    // off the line by more than four standard errors (and more than 0.005
    // frame), the position follows the segments' mean residuals, shrunk by
    // their uncertainty and joined linearly; otherwise it stays the line.
    void FitWander(const std::vector<AlignPoint>& points, int64_t segmentFrames);

    // Karaoke frame for original frame t.
    double At(int64_t t) const;
    bool Valid() const { return valid_; }

    double Offset() const { return a_; }  // karaoke frame at original frame t0
    double Slope() const { return b_; }   // karaoke frames per original frame
    int64_t Origin() const { return t0_; }
    // The largest wander correction, frames (0 when none was needed).
    double MaxWander() const;
    // Points that the fit kept (weight above zero) and the spread of their
    // residuals, frames.
    int Inliers() const { return inliers_; }
    double Spread() const { return spread_; }
    // Marks which points the fit kept.
    const std::vector<bool>& Kept() const { return kept_; }

    // Moves the whole position by `frames`.
    void Shift(double frames) { a_ += frames; }
    // Turns the line by `slope` (frames per frame) about the frame t0_ + pivot
    // (the position there stays).
    void Tilt(double slope, double pivot)
    {
        b_ += slope;
        a_ -= slope * pivot;
    }
    // For tests: a line without wander.
    void SetLine(int64_t t0, double offset, double slope);

private:
    bool valid_ = false;
    int64_t t0_ = 0;
    double a_ = 0, b_ = 1;
    std::vector<int64_t> knotT_;
    std::vector<double> knotV_;
    int inliers_ = 0;
    double spread_ = 0;
    std::vector<bool> kept_;
};

// The karaoke gain by least squares over the evidence with the least voice:
// among the kept, audible points, the quarter with the smallest residual
// (at least `minPoints`), pooled. 0 when there is none.
double VoiceFreeGain(const std::vector<AlignPoint>& points, const std::vector<bool>& kept, int minPoints = 8);
// How closely the karaoke cancels the accompaniment where there is least
// voice: the 5th percentile of the residual share over the audible points,
// in dB (0 when there are none).
double CancellationDb(const std::vector<AlignPoint>& points);

// The blocks to read again along the fitted position: among the kept,
// audible points (AudibleFloor over the kept ones), those with the smallest
// residual share, at most 64, at least 8 (else a tenth of them). Indices
// into points, cleanest first; empty when fewer than four qualify.
std::vector<size_t> QuietestBlocks(const std::vector<AlignPoint>& points, const std::vector<bool>& kept);

// How the quietest blocks, read again along the fitted position (each
// point's p then the fraction left, t its middle), correct it. They are
// pooled by inverse variance; a block that still holds some voice has a
// larger residual and counts for less, blocks more than a quarter frame off
// the median are left out.
struct ProbeCorrection {
    double shiftFrames = 0; // the fraction left: the position moves by it
    // The fraction left as a line over the song: its slope (frames per
    // frame; 0 unless the probes are spread widely enough to tell) and the
    // frame it turns about, relative to the trajectory's origin. Valid when
    // `tilted`.
    bool tilted = false;
    double tilt = 0, pivotFrames = 0;
    std::optional<double> gain; // the pooled least-squares gain
    double cancellationDb = 0; // CleanestCancellationDb of the probes
    std::vector<size_t> used;  // the probes pooled
};
ProbeCorrection PoolProbes(const std::vector<AlignPoint>& probes, int64_t origin);
// Moves `track` as `correction` says: turned by the tilt, then shifted.
void ApplyProbeCorrection(Trajectory& track, const ProbeCorrection& correction);

// The cancellation where there is no voice at all: the third cleanest of
// the blocks' residual shares, so that one odd block does not decide, in dB.
// residuals must not be empty.
double CleanestCancellationDb(std::vector<double> residuals);

// The matching filter fitted from the normal equations of the probes (gram,
// cross; taps for offsets -halfTaps .. halfTaps) and the weighted energy of
// their original. It is kept when it leaves clearly less than the gain alone
// (the middle tap's own least-squares fit): under half of what the gain
// leaves.
struct MatchFit {
    bool solved = false;      // the equations could be solved
    std::vector<double> taps; // the filter when kept, else empty
    double filterLeft = 0, gainLeft = 0; // shares of the energy each leaves
};
MatchFit FitMatchingFilter(std::vector<double> gram, const std::vector<double>& cross, double energy, int halfTaps);
