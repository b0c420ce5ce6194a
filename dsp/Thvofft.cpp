#include "Thvofft.h"

#include "BinKernels.h"

#include <algorithm>
#include <numbers>
#include <system_error>

ThVocalFFT::ThVocalFFT(AutoResetEvent* wake, std::mutex* lock, int32_t* count, ManualResetEvent* done)
    : wakeEvent(wake), doneEvent(done), pendingCount(count), pendingLock(lock)
{
    try {
        thread_ = std::thread(&ThVocalFFT::Execute, this);
    } catch (const std::exception&) {
        // No thread: Started() reports it and the owner gives up.
    }
}

ThVocalFFT::~ThVocalFFT()
{
    if (thread_.joinable()) {
        Terminate();
        Join();
    }
    Release();
}

void ThVocalFFT::Terminate()
{
    terminated_.store(true);
    wakeEvent->Set();
}

void ThVocalFFT::Join()
{
    if (thread_.joinable()) thread_.join();
}

void ThVocalFFT::UseReferenceKernels(bool on)
{
    reference_ = on;
    stream.UseReferenceTransforms(on);
}

void ThVocalFFT::Release()
{
    configured = false;
    stream.Release();
    phaseThreshold.reset();
    cosThreshold_.reset();
}

int ThVocalFFT::Configure(int n, int overlapCount, int modeValue, float strengthValue)
{
    Release();
    overlap = overlapCount;
    frameSize = n;
    strength = strengthValue;
    cappedStrength = strengthValue > 1.5f ? 1.5f : strengthValue;
    mode = modeValue;
    if (stream.Configure(n, overlapCount, 1, FrameStream::WindowAngle::Double) != 0) return 1;
    hop = stream.hop;
    const int half = n / 2;
    if (!AllocateAligned(phaseThreshold, static_cast<size_t>(half)) ||
        !AllocateAligned(cosThreshold_, static_cast<size_t>(half))) {
        Release();
        return 1;
    }
    for (int j = 0; j < half; ++j) {
        float t = static_cast<float>(std::numbers::pi / (static_cast<double>(half) / (j + 1)));
        if (t < 0.15f) t = 0.15f;
        phaseThreshold[j] = t * strength;
        cosThreshold_[j] = spectral::PhaseTestCosine(phaseThreshold[j]);
    }
    configured = true;
    return 0;
}

void ThVocalFFT::SetJob(const int32_t* orig, const int32_t* kar, double gain, int32_t* out, int count)
{
    jobOrig = orig;
    jobKar = kar;
    jobGain = gain;
    jobOut = out;
    jobCount = count;
}

void ThVocalFFT::Run(const int32_t* orig, const int32_t* kar, double gain, int32_t* out, int count)
{
    if (!configured || count <= 0) return;
    if (mode == 0) {
        const double g = std::min(gain, static_cast<double>(cappedStrength));
        const float cs = cappedStrength;
        const float* threshold = phaseThreshold.get();
        const double* cosines = cosThreshold_.get();
        if (reference_) {
            stream.Run(orig, kar, out, nullptr, count, [&](float* o, float* k, int bins) {
                spectral::QualityBinsReference(o, k, bins, g, cs, threshold);
            });
        } else {
            stream.Run(orig, kar, out, nullptr, count, [&](float* o, float* k, int bins) {
                spectral::QualityBinsFast(o, k, bins, g, cs, cosines);
            });
        }
    } else if (mode == 1) {
        const double g = std::min(gain, static_cast<double>(strength));
        const float s = strength;
        if (reference_) {
            stream.Run(orig, kar, out, nullptr, count, [&](float* o, float* k, int bins) {
                spectral::ExtractionBinsReference(o, k, bins, g, s);
            });
        } else {
            stream.Run(orig, kar, out, nullptr, count,
                       [&](float* o, float* k, int bins) { spectral::ExtractionBins(o, k, bins, g, s); });
        }
    }
}

void ThVocalFFT::Execute()
{
    while (!terminated_.load()) {
        wakeEvent->Wait();
        if (terminated_.load()) return;
        Run(jobOrig, jobKar, jobGain, jobOut, jobCount);
        std::lock_guard<std::mutex> guard(*pendingLock);
        if (--*pendingCount <= 0) doneEvent->Set();
    }
}
