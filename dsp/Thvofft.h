// The spectral worker: a thread that runs the frequency merge for one channel.
// Frame by frame it subtracts the karaoke spectrum, scaled by the measured
// gain, from the original spectrum and silences the bins in which the karaoke
// outweighs the original by the strength factor (in quality-first mode only
// where the two also agree in phase).
//
// Hand-over: the owner stores a job with SetJob while the worker is idle and
// signals the worker's wake event; the worker runs the job, then under the
// shared lock decrements the shared pending count and, when it reaches 0 or
// below, sets the shared completion event. Jobs continue the same signal: the
// frame state carries from job to job and is reset only by Configure. The
// output lags the input by n - hop samples (7168).
//
// Shutdown: Terminate sets the stop flag and wakes the thread, which ends
// without running anything further; Join (or the destructor) waits for it.
// The events, lock and count belong to the owner and must outlive the worker.
#pragma once

#include "Events.h"
#include "FFT.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

class ThVocalFFT {
public:
    // Stores the shared objects and starts the thread, which waits for its
    // first job. Check Started(): a thread that could not be created leaves
    // the object inert.
    ThVocalFFT(AutoResetEvent* wakeEvent, std::mutex* pendingLock, int32_t* pendingCount,
               ManualResetEvent* doneEvent);
    virtual ~ThVocalFFT();
    ThVocalFFT(const ThVocalFFT&) = delete;
    ThVocalFFT& operator=(const ThVocalFFT&) = delete;

    bool Started() const { return thread_.joinable(); }

    // While the worker is idle: sizes and zeroes the frame state. mode 0 =
    // quality first, 1 = extraction first, anything else = jobs do nothing.
    // n a power of two (4 .. 2^24), 1 <= overlap <= n. Returns 0, or 1 when the
    // arguments are not allowed or the arrays cannot be allocated; the worker
    // is then unconfigured and runs no stream.
    int Configure(int n, int overlapCount, int modeValue, float strengthValue);
    // While the worker is idle, just before the wake event is signalled.
    void SetJob(const int32_t* orig, const int32_t* kar, double gain, int32_t* out, int count);
    // Runs one job's stream on the calling thread (the thread body does this
    // for each job). Only while the worker thread is idle.
    void Run(const int32_t* orig, const int32_t* kar, double gain, int32_t* out, int count);

    // Sets the stop flag and wakes the thread.
    void Terminate();
    // Waits for the thread to end (after Terminate).
    void Join();

    // The literal per-bin rules with two atan2 calls per bin instead of the
    // dot-product phase test, and the complex-transform frame path.
    void UseReferenceKernels(bool on);

    int32_t frameSize = 0;
    int32_t hop = 0;
    float strength = 0.0f;
    float cappedStrength = 0.0f;  // min(strength, 1.5)
    int32_t mode = 0;
    int32_t overlap = 0;
    AutoResetEvent* wakeEvent;
    ManualResetEvent* doneEvent;
    int32_t* pendingCount;
    std::mutex* pendingLock;
    AlignedArray<float> phaseThreshold;  // n/2
    bool configured = false;
    const int32_t* jobOrig = nullptr;
    const int32_t* jobKar = nullptr;
    int32_t jobCount = 0;
    int32_t* jobOut = nullptr;
    double jobGain = 0.0;

    // The frame state: window, histories (A original, B karaoke), the
    // accumulator, the two spectra and the read and write positions.
    FrameStream stream;

private:
    void Execute();
    void Release();

    AlignedArray<double> cosThreshold_;  // the phase thresholds for the dot-product test
    bool reference_ = false;
    std::atomic<bool> terminated_{false};
    std::thread thread_;  // last: started once everything else exists
};
