#include "Settings.h"

#include "IniFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>

const std::vector<OptionKey>& OptionKeys() {
    using P = ProcessingOptions;
    static const std::vector<OptionKey> keys = {
        {"ProcMode", OptionKey::Int, &P::ProcMode},
        {"MergeMode", OptionKey::Int, &P::MergeMode},
        {"OvspFlg", OptionKey::Flag, &P::OvspFlg},
        {"OvspMx", OptionKey::Int, &P::OvspMx},
        {"BlkSize", OptionKey::Int, &P::BlkSize},
        {"AdptMode", OptionKey::Int, &P::AdptMode},
        {"AdptNum", OptionKey::Int, &P::AdptNum},
        {"CntrFlg", OptionKey::Flag, &P::CntrFlg},
        {"CntrPos", OptionKey::Int, &P::CntrPos},
        {"IntroMode", OptionKey::Int, &P::IntroMode},
        {"LevelAdpt", OptionKey::Int, &P::LevelAdpt},
        {"LPFFlg", OptionKey::Flag, &P::LPFFlg},
        {"LPFPos", OptionKey::Int, &P::LPFPos},
        {"HPFFlg", OptionKey::Flag, &P::HPFFlg},
        {"HPFPos", OptionKey::Int, &P::HPFPos},
        {"KvolPos", OptionKey::Int, &P::KvolPos},
        {"KlvlPos", OptionKey::Int, &P::KlvlPos},
        {"KnameFlg", OptionKey::Flag, &P::KnameFlg},
        {"VnameFlg", OptionKey::Flag, &P::VnameFlg},
        {"VnameTxt", OptionKey::Text, nullptr},
        {"KrkPhase", OptionKey::Int, &P::KrkPhase},
        {"SoundQty", OptionKey::Int, &P::SoundQty},
        {"AlignFlg", OptionKey::Flag, &P::AlignFlg},
        {"CleanMode", OptionKey::Int, &P::CleanMode},
    };
    return keys;
}

const OptionKey* FindOptionKey(const std::string& name) {
    for (const OptionKey& k : OptionKeys())
        if (EqualNoCase(k.name, name)) return &k;
    return nullptr;
}

int32_t ParseIniInt(const std::string& raw, int32_t fallback) {
    size_t b = raw.find_first_not_of(" \t");
    if (b == std::string::npos) return fallback;
    std::string t = raw.substr(b, raw.find_last_not_of(" \t") - b + 1);
    if (t.size() >= 3 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        std::string digits = t.substr(2);
        if (digits.empty() || digits.size() > 8 ||
            digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return fallback;
        // Eight hexadecimal digits fill the 32 bits, as two's complement.
        return static_cast<int32_t>(static_cast<uint32_t>(std::stoul(digits, nullptr, 16)));
    }
    size_t i = (t[0] == '-' || t[0] == '+') ? 1 : 0;
    if (i == t.size() || t.find_first_not_of("0123456789", i) != std::string::npos) return fallback;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(t.c_str(), &end, 10);
    if (errno == ERANGE || v > INT32_MAX || v < INT32_MIN) return fallback;
    return static_cast<int32_t>(v);
}

void ApplyOptionText(ProcessingOptions& options, const OptionKey& key, const std::string& text) {
    switch (key.kind) {
    case OptionKey::Int:
        options.*key.field = ParseIniInt(text, options.*key.field);
        break;
    case OptionKey::Flag:
        options.*key.field = ParseIniInt(text, options.*key.field != 0 ? 1 : 0) != 0 ? 1 : 0;
        break;
    case OptionKey::Text: {
        // At most 2,047 bytes, never cutting a multi-byte character.
        std::string v = text;
        if (v.size() > 2047) {
            size_t cut = 2047;
            while (cut > 0 && (static_cast<unsigned char>(v[cut]) & 0xC0) == 0x80) --cut;
            v.resize(cut);
        }
        options.VnameTxt = v;
        break;
    }
    }
}

std::vector<std::pair<std::string, std::string>> OptionEntries(const ProcessingOptions& options) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const OptionKey& k : OptionKeys()) {
        std::string v;
        if (k.kind == OptionKey::Text) {
            v = options.VnameTxt;
            // Quoted when blanks at either end would otherwise be lost on reading.
            if (!v.empty() && (v.front() == ' ' || v.front() == '\t' || v.back() == ' ' ||
                               v.back() == '\t' || v.front() == '\'' || v.front() == '"'))
                v = "\"" + v + "\"";
        } else if (k.kind == OptionKey::Flag) {
            v = options.*k.field != 0 ? "1" : "0";
        } else {
            v = std::to_string(options.*k.field);
        }
        out.emplace_back(k.name, v);
    }
    return out;
}

std::string LocalDataFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.local/share";
    return {};
}

std::string IniWriteErrorText(const std::string& iniPath) {
    return iniPath + " に書き込めません.";
}

void SettingsModel::BuildIniPath(const std::string& programFile, const std::string& dataFolder) {
    namespace fs = std::filesystem;
    std::string base = dataFolder.empty() ? LocalDataFolder() : dataFolder;
    if (base.empty()) {
        IniPath.clear();
        return;
    }
    fs::path folder = fs::path(base) / "SonveltRip";
    std::error_code ec;
    fs::create_directories(folder, ec); // a failure shows later, as defaults or a write error
    fs::path name = fs::path(programFile).filename();
    name.replace_extension(".ini");
    IniPath = (folder / name).string();
}

IniFile::LoadResult SettingsModel::LoadOptions(std::string* why, bool* hasSection) {
    if (hasSection) *hasSection = false;
    if (IniPath.empty()) return IniFile::LoadResult::Missing;
    IniFile ini;
    const IniFile::LoadResult r = ini.Read(IniPath, why);
    if (r != IniFile::LoadResult::Loaded) return r;
    if (hasSection) *hasSection = ini.HasSection(kIniSection);
    for (const OptionKey& k : OptionKeys()) {
        auto text = ini.Get(kIniSection, k.name);
        if (text) ApplyOptionText(EditedOptions, k, *text);
    }
    return r;
}

int SettingsModel::SaveOptions() {
    if (IniPath.empty()) return 1;
    IniFile ini;
    if (!ini.Load(IniPath)) return 1;
    for (const auto& [key, value] : OptionEntries(Options)) ini.Set(kIniSection, key, value);
    return ini.Save(IniPath) ? 0 : 1;
}

void SettingsModel::Initialise(const std::string& programFile, const std::string& dataFolder) {
    SetDefaults();
    BuildIniPath(programFile, dataFolder);
    LoadOptions();
    CommitOptions();
}
