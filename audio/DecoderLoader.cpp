// ProbeAudio, DecodeToWave and EncodeWaveToFlac for the programs: each opens
// the decoder module on first use (once per process) and calls into it.
//
// The module is looked for at $SONVELT_DECODER_MODULE when set, then beside
// the installed program (<prefix>/lib/sonvelt/), then where the build put it.
#include "Decoder.h"
#include "DecoderModule.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace {

struct Module {
    const DecoderModuleApi* api = nullptr;
    std::string error; // why it could not be loaded
};

std::vector<std::string> Candidates() {
    if (const char* path = std::getenv("SONVELT_DECODER_MODULE"); path && *path) return {path};
    std::vector<std::string> paths;
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) paths.push_back((exe.parent_path().parent_path() / "lib" / "sonvelt" / kDecoderModuleFile).string());
#ifdef SONVELT_DECODER_MODULE_BUILD
    paths.emplace_back(SONVELT_DECODER_MODULE_BUILD);
#endif
    return paths;
}

Module Load() {
    Module m;
    for (const std::string& path : Candidates()) {
        if (::access(path.c_str(), R_OK) != 0) {
            if (m.error.empty()) m.error = path + ": not found";
            continue;
        }
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = ::dlerror();
            m.error = why ? why : path + ": cannot be loaded";
            continue;
        }
        using Entry = const DecoderModuleApi* (*)();
        auto entry = reinterpret_cast<Entry>(::dlsym(handle, kDecoderModuleEntry));
        const DecoderModuleApi* api = entry ? entry() : nullptr;
        if (!api || api->version != kDecoderModuleVersion) {
            m.error = path + ": a decoder module of another build";
            ::dlclose(handle);
            continue;
        }
        m.api = api; // stays loaded until the process ends
        m.error.clear();
        return m;
    }
    if (m.error.empty()) m.error = std::string(kDecoderModuleFile) + ": not found";
    return m;
}

const DecoderModuleApi* Api(std::string* error) {
    static const Module module = Load();
    if (!module.api && error) *error = "audio decoding is not available (" + module.error + ")";
    return module.api;
}

} // namespace

int ProbeAudio(const std::string& path, AudioInfo& info, std::string* error) {
    const DecoderModuleApi* api = Api(error);
    return api ? api->probe(path, info, error) : kDecodeNotAudio;
}

int DecodeToWave(const std::string& path, const std::string& wavePath, int targetRate, int targetChannels,
                 std::string* error, const DecodeProgress& progress, DecodeReport* report) {
    const DecoderModuleApi* api = Api(error);
    return api ? api->decode(path, wavePath, targetRate, targetChannels, error, progress, report) : kDecodeFailed;
}

int EncodeWaveToFlac(int waveFd, int flacFd, std::string* error) {
    const DecoderModuleApi* api = Api(error);
    return api ? api->encode(waveFd, flacFd, error) : kDecodeFailed;
}
