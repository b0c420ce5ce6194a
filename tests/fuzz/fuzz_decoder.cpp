// Fuzzing harness of the decoder. The input is a file of any kind: probing it
// gives a sampling rate in range, channels and a finite length, or a reason;
// decoding it into a 16-bit WAVE file gives a result, a reason for a failure,
// and on success a WAVE file in the format asked for that holds exactly the
// frames the report gives. A file the probe refuses is never decoded.
#include "Decoder.h"
#include "FuzzFile.h"
#include "Twave.h"

#include <cmath>
#include <filesystem>
#include <vector>

namespace {

// Outputs far longer than any seed's fraction of a second only slow the
// fuzzer down (a few bytes of some codecs state minutes of silence).
constexpr uintmax_t kMaxOutputBytes = 32 << 20;

int64_t ReadToEnd(TWaveData& w) {
    static std::vector<uint8_t> buf(1 << 16);
    int64_t total = 0;
    for (int32_t n; (n = w.Read(buf.data(), int32_t(buf.size()))) > 0;) total += n;
    return total;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::MemoryFile in("decoder-in");
    // The decoder makes its output new, as it does a temporary: a fresh name
    // in a private folder for each input.
    static const struct OutFolder {
        std::string folder, path;
        OutFolder() {
            char name[] = "/tmp/fuzz-decoder-XXXXXX";
            if (::mkdtemp(name) == nullptr) std::abort();
            folder = name;
            path = folder + "/out.wav";
        }
        ~OutFolder() {
            ::unlink(path.c_str());
            ::rmdir(folder.c_str());
        }
    } out;
    const std::string& outPath = out.path;
    ::unlink(outPath.c_str());
    in.Fill(data, size);

    AudioInfo info;
    std::string probeError;
    const int probed = ProbeAudio(in.Path(), info, &probeError);
    FUZZ_CHECK(probed == kDecodeOk || probed == kDecodeNotAudio);
    if (probed == kDecodeOk) {
        FUZZ_CHECK(SampleRateProblem(info.sampleRate).empty());
        FUZZ_CHECK(info.channels >= 1 && info.bits >= 0 && info.bitRate >= 0);
        FUZZ_CHECK(std::isfinite(info.seconds) && info.seconds >= 0);
        FUZZ_CHECK(!info.container.empty() && !info.codec.empty());
    } else {
        FUZZ_CHECK(!probeError.empty());
    }

    // The output's format follows from the input, so that rate conversion
    // and both channel conversions are reached.
    static const int kRates[] = {44100, 48000, 8000};
    const int rate = kRates[size % 3], channels = 1 + int(size / 3 % 2);
    const auto tooLong = [&](double) {
        std::error_code ec;
        return std::filesystem::file_size(outPath, ec) > kMaxOutputBytes;
    };
    std::string error;
    DecodeReport report;
    const int decoded = DecodeToWave(in.Path(), outPath, rate, channels, &error, tooLong, &report);
    FUZZ_CHECK(decoded >= kDecodeOk && decoded <= kDecodeCancelled);
    FUZZ_CHECK(report.frames >= 0 && report.packetsSkipped >= 0);
    FUZZ_CHECK(std::isfinite(report.statedSeconds) && report.statedSeconds >= 0);
    if (decoded != kDecodeOk) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    FUZZ_CHECK(probed == kDecodeOk);
    FUZZ_CHECK(report.rate == rate);

    // Read back: 16-bit PCM of the asked format, exactly the frames reported.
    static TWaveData w;
    FUZZ_CHECK(w.OpenRead(outPath) == 0);
    const WaveFormat& f = w.Format;
    FUZZ_CHECK(f.wFormatTag == 1 && f.wBitsPerSample == 16 && f.nChannels == channels);
    FUZZ_CHECK(f.nSamplesPerSec == uint32_t(rate) && f.nBlockAlign == 2 * channels);
    FUZZ_CHECK(int64_t(w.DataBytes) == report.frames * f.nBlockAlign);
    FUZZ_CHECK(ReadToEnd(w) == int64_t(w.DataBytes));
    FUZZ_CHECK(w.Close() == 0);
    return 0;
}
