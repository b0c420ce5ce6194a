// The picture of a run, drawn from its report and the two files it names:
// four lanes over the song's time axis, under the run's summary as title:
// - the original's spectrogram,
// - the voice's, on the same colour scale,
// - where the karaoke's blocks lie against the fitted position, in
//   milliseconds (the fitted line is the zero line; an edit shows as a jump,
//   a stretch of the original without a counterpart is shaded, a seam
//   marked),
// - how much each second's removal took out, in dB (a second that took out
//   almost nothing or added energy in the warning colour);
// and a legend. Drawn with QPainter on a QImage: no display is needed, but
// text needs a QGuiApplication (see PaintingApplication).
#pragma once

#include "Language.h"
#include "RunReport.h"
#include "Spectrogram.h"

#include <QColor>
#include <QImage>
#include <QRect>
#include <QSize>

#include <memory>
#include <optional>
#include <string>

class QGuiApplication;
class TWaveData;

struct RunPicture {
    RunReport report;
    std::string karaokeName;     // the karaoke's file name, for the title
    Spectrogram original, voice; // the voice empty after an analysis alone
};

// The smallest picture drawn; smaller sizes are raised to it.
inline constexpr QSize kMinimumPictureSize(1000, 500);
// The size the command line writes.
inline constexpr QSize kPlotSize(1400, 800);
// The spectrograms' columns when the picture will be drawn at many sizes.
inline constexpr int kPictureColumns = 2048;
// The spectrograms' top.
inline constexpr double kPictureMaxHz = 11000;

// The removal lane's colours: a second that took out at least 1 dB, and one
// that took out less or added energy.
inline const QColor kRemovedColour(46, 117, 182);
inline const QColor kWarningColour(222, 68, 30);
// A stretch of the original with no counterpart in the karaoke.
inline const QColor kUnmatchedColour(250, 218, 175);
// A spectrogram lane with nothing to show (no voice, a file not read).
inline const QColor kNothingColour(235, 235, 232);

// Reads the spectrograms of the run's original and, when given, of its voice
// (both open for reading, the voice as long as the original) into `columns`
// columns over the original's length. A file that cannot be read leaves its
// spectrogram empty, which the picture says.
void ReadRunPictureSpectrograms(RunPicture& picture, TWaveData& original, TWaveData* voice, int columns);

// Where the parts of a picture of a given size lie.
struct RunPictureLayout {
    enum Lane { kOriginal, kVoice, kPosition, kRemoval, kLanes };
    QSize size;
    QRect title, legend;
    QRect lanes[kLanes]; // the plotting areas, all of the same left and width
    double seconds = 0;  // the time axis runs from 0 at the lanes' left to this at their right
    double maxHz = kPictureMaxHz; // the spectrograms' top row

    // x of a moment of the song.
    int XAt(double second) const;
    // The moment of the song at x; none left or right of the lanes.
    std::optional<double> SecondsAt(int x) const;
    // The spectrogram row of a frequency, in a spectrogram lane.
    int YAtHz(Lane lane, double hz) const;
};
RunPictureLayout LayoutRunPicture(const RunPicture& picture, QSize size);

// The picture at `size` (raised to kMinimumPictureSize), its texts in
// `language`.
QImage DrawRunPicture(const RunPicture& picture, QSize size, Language language);

// Writes `image` as PNG to `path` by way of a temporary beside it that takes
// the name at the end, so that a picture there stays whole until the new one
// is; an existing file is replaced only when `replace`. Empty, or why not, in
// the command line's words ("what happened (cause)").
std::string SaveRunPicture(const QImage& image, const std::string& path, bool replace);

// Text on a picture needs the font database of a QGuiApplication. This makes
// one on the offscreen platform, which needs no display, unless the process
// has one already; it lives as long as this object.
class PaintingApplication {
public:
    PaintingApplication();
    ~PaintingApplication();
    PaintingApplication(const PaintingApplication&) = delete;
    PaintingApplication& operator=(const PaintingApplication&) = delete;

private:
    std::unique_ptr<QGuiApplication> app_;
};
