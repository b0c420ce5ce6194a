// How each extraction mode aligns and removes the karaoke, as data.
//
// The classic modes (ProcMode x oversampling): the signal the block's shift
// is searched on, whether the karaoke is oversampled, the shift search (run
// once over whole frames, then, when oversampled, again over the fractions
// around the result), the adaptive gain search, and the removal by the
// waveform merge or the frequency merge (none for the oversampled modes:
// oversampling applies to the waveform merge only).
//
// The precise modes (ProcMode, with the karaoke read along the fitted
// position): the gain search and the two removals.
#pragma once

#include "Vfunc.h"

// How the karaoke is removed: frequency merge or waveform merge (MergeMode 0
// and 1; the automatic merge chooses one of them).
enum class Merge { Frequency = 0, Waveform = 1 };
// The channel handling (ProcMode): both channels, the side signal for the
// alignment and each channel for the removal, or the mid signal.
enum class ChannelMode { Normal = 0, LeftRight = 1, Mono = 2 };

enum class MonoForm { None, Side, Mid };

struct ModeRow {
    MonoForm form;
    bool oversampled;
    int (TVocalFunc::*findShift)(int center, int range, int step) const;
    double (TVocalFunc::*findGain)(int shift, double step, double range, double center) const;
    void (TVocalFunc::*subtract)(int shift, double gain);
    void (TVocalFunc::*spectral)(int start, int count, double gain, int shift);
};

// Indexed by ClassicMode(): ProcMode (0 normal, 1 left/right, 2 mono), plus
// 3 when the waveform merge oversamples.
inline constexpr ModeRow kModeTable[6] = {
    {MonoForm::None, false, &TVocalFunc::FindShiftStereo, &TVocalFunc::FindGainStereo,
     &TVocalFunc::SubtractStereo, &TVocalFunc::SpectralSubtractStereo},
    {MonoForm::Side, false, &TVocalFunc::FindShiftMono, &TVocalFunc::FindGainMono,
     &TVocalFunc::SubtractStereo, &TVocalFunc::SpectralSubtractStereo},
    {MonoForm::Mid, false, &TVocalFunc::FindShiftMono, &TVocalFunc::FindGainMono,
     &TVocalFunc::SubtractMid, &TVocalFunc::SpectralSubtractMid},
    {MonoForm::None, true, &TVocalFunc::FindShiftOvspStereo, &TVocalFunc::FindGainOvspStereo,
     &TVocalFunc::SubtractOvspStereo, nullptr},
    {MonoForm::Side, true, &TVocalFunc::FindShiftOvspMono, &TVocalFunc::FindGainOvspMono,
     &TVocalFunc::SubtractOvspStereo, nullptr},
    {MonoForm::Mid, true, &TVocalFunc::FindShiftOvspMono, &TVocalFunc::FindGainOvspMono,
     &TVocalFunc::SubtractOvspMid, nullptr},
};

inline const ModeRow& ClassicMode(ChannelMode channels, bool oversampled)
{
    return kModeTable[static_cast<int>(channels) + (oversampled ? 3 : 0)];
}

struct PreciseRow {
    double (TVocalFunc::*findGain)(int start, int count, double step, double range, double center) const;
    void (TVocalFunc::*subtract)(int start, int count, double gain);
    void (TVocalFunc::*spectral)(int start, int count, double gain);
};

// Indexed by ProcMode. Left/right removes per channel like normal; its
// difference lies in how the analysis measures the shift (on the side signal).
inline constexpr PreciseRow kPreciseTable[3] = {
    {&TVocalFunc::FindGainAlignedStereo, &TVocalFunc::SubtractAlignedStereo,
     &TVocalFunc::SpectralSubtractAlignedStereo},
    {&TVocalFunc::FindGainAlignedStereo, &TVocalFunc::SubtractAlignedStereo,
     &TVocalFunc::SpectralSubtractAlignedStereo},
    {&TVocalFunc::FindGainAlignedMono, &TVocalFunc::SubtractAlignedMid, &TVocalFunc::SpectralSubtractAlignedMid},
};

inline const PreciseRow& PreciseMode(ChannelMode channels)
{
    return kPreciseTable[static_cast<int>(channels)];
}
