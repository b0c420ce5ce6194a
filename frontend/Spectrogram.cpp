#include "Spectrogram.h"

#include "BufferUtil.h"
#include "FFT.h"
#include "Twave.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace {

constexpr int kTransformsPerRead = 16;

} // namespace

bool ReadSpectrogram(TWaveData& wave, int64_t frames, int columns, double maxHz, Spectrogram& out) {
    out = Spectrogram{};
    const WaveFormat& format = wave.Format;
    const int channels = format.nChannels;
    if (!wave.IsOpen() || frames <= 0 || columns <= 0 || format.wBitsPerSample != 16 || channels < 1 ||
        format.nBlockAlign != channels * 2 || format.nSamplesPerSec == 0)
        return false;
    constexpr int n = Spectrogram::kFrameSize;
    const int64_t transforms = (frames + n - 1) / n;
    const int cols = int(std::min<int64_t>(columns, transforms));
    const double binHz = double(format.nSamplesPerSec) / n;
    const int bins = std::clamp(int(maxHz / binHz) + 1, 1, n / 2 + 1);

    CRealFFT fft;
    SampleArray<float> frame, spectrum;
    if (fft.Init(n) != 0 || !buffer_util::AllocateAligned(frame, n) || !buffer_util::AllocateAligned(spectrum, n + 2))
        return false;
    // The Hann window with the channels' mean and the 16-bit scale folded
    // in; a full-scale sine then has the power (sum of the window / 2)^2
    // before the scaling below.
    std::vector<float> window(n);
    double windowSum = 0;
    for (int j = 0; j < n; ++j) {
        const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * j / n);
        windowSum += w;
        window[size_t(j)] = float(w / (32768.0 * channels));
    }
    const double powerScale = 4.0 / (windowSum * windowSum);

    out.columns = cols;
    out.bins = bins;
    out.binHz = binHz;
    out.secondsPerColumn = double(transforms) * n / cols / format.nSamplesPerSec;
    out.db.assign(size_t(cols) * size_t(bins), Spectrogram::kFloorDb);
    std::vector<double> power(size_t(bins), 0.0);
    int column = 0, inColumn = 0;
    auto finishColumn = [&] {
        float* row = out.db.data() + size_t(column) * size_t(bins);
        for (int b = 0; b < bins; ++b) {
            const double p = power[size_t(b)] * powerScale / inColumn;
            row[b] = std::max(Spectrogram::kFloorDb, float(10 * std::log10(std::max(p, 1e-30))));
        }
        std::fill(power.begin(), power.end(), 0.0);
        inColumn = 0;
    };

    std::vector<int16_t> pcm(size_t(kTransformsPerRead) * n * size_t(channels));
    if (wave.SeekFrame(0) < 0) {
        out = Spectrogram{};
        return false;
    }
    for (int64_t t = 0; t < transforms;) {
        const int64_t count = std::min<int64_t>(kTransformsPerRead, transforms - t);
        const int64_t wanted = std::clamp<int64_t>(frames - t * n, 0, count * n);
        const int32_t got = wave.Read(pcm.data(), int32_t(wanted * channels * 2));
        if (got < 0) {
            out = Spectrogram{};
            return false;
        }
        std::memset(reinterpret_cast<char*>(pcm.data()) + got, 0, pcm.size() * sizeof(int16_t) - size_t(got));
        for (int64_t k = 0; k < count; ++k, ++t) {
            const int16_t* in = pcm.data() + size_t(k) * n * size_t(channels);
            for (int j = 0; j < n; ++j) {
                int sum = 0;
                for (int c = 0; c < channels; ++c) sum += in[size_t(j) * size_t(channels) + size_t(c)];
                frame[j] = float(sum) * window[size_t(j)];
            }
            fft.Forward(frame.get(), spectrum.get());
            const int c = int(t * cols / transforms);
            if (c != column) {
                finishColumn();
                column = c;
            }
            for (int b = 0; b < bins; ++b) {
                const double re = spectrum[2 * b], im = spectrum[2 * b + 1];
                power[size_t(b)] += re * re + im * im;
            }
            ++inColumn;
        }
    }
    finishColumn();
    return true;
}
