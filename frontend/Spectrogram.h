// A recording's spectrogram summarised to a fixed number of columns, for the
// picture of a run: the power spectra of Hann-windowed frames of the
// channels' mean, averaged over each column's stretch of time, in dB against
// a full-scale sine. It is read block by block, so its memory is that of the
// columns, however long the recording. No Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class TWaveData;

struct Spectrogram {
    static constexpr int kFrameSize = 1024; // frames per transform
    static constexpr float kFloorDb = -120; // what silence shows as

    int columns = 0; // 0: nothing was read
    int bins = 0;    // rows 0 .. bins - 1, bin b centred on b * binHz
    double binHz = 0;
    double secondsPerColumn = 0;
    std::vector<float> db; // column by column: db[column * bins + bin]

    bool Empty() const { return columns == 0; }
    float At(int column, int bin) const { return db[size_t(column) * size_t(bins) + size_t(bin)]; }
};

// Reads the first `frames` frames of `wave` (16-bit PCM, open for reading;
// frames past its end read as silence) into at most `columns` columns, one
// transform each at least, with the bins up to `maxHz`. False, with `out`
// empty, when the file cannot be read or there is nothing to read.
bool ReadSpectrogram(TWaveData& wave, int64_t frames, int columns, double maxHz, Spectrogram& out);
