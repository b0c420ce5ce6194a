// Fuzzing harness of the settings file. The input is an INI file: parsing
// must keep every byte but the leading byte-order marks; loading it and
// committing the options must give options in their domain; saving them into
// it and loading again must give exactly the saved options, and saving a
// second time must leave the file as it was.
#include "FuzzFile.h"
#include "IniFile.h"
#include "Settings.h"

#include <cstring>
#include <filesystem>
#include <string>

namespace {

// A folder of its own for the file, on a memory file system when there is
// one, removed at exit.
struct IniFolder {
    std::filesystem::path dir;
    IniFolder() {
        std::filesystem::path base = std::filesystem::exists("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                                         : std::filesystem::temp_directory_path();
        std::string tmpl = (base / "sonvelt-fuzz-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) std::abort();
        dir = tmpl;
    }
    ~IniFolder() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

const std::string& IniPath() {
    static const IniFolder folder;
    static const std::string path = (folder.dir / "sonvelt.ini").string();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    IniFile parsed;
    parsed.Parse(text);
    FUZZ_CHECK(parsed.Text() == text.substr(IniFile::LeadingMarksSize(text)));

    const std::string& path = IniPath();
    fuzz::WriteWholeFile(path, text);

    SettingsModel s;
    s.SetDefaults();
    s.IniPath = path;
    bool hasSection = false;
    FUZZ_CHECK(s.LoadOptions(nullptr, &hasSection) == IniFile::LoadResult::Loaded);
    FUZZ_CHECK(hasSection == parsed.HasSection(kIniSection));
    s.CommitOptions();
    const CommittedOptions& o = s.Options;
    FUZZ_CHECK(o.OvspMx >= 1 && o.BlkSize >= 50 && o.AdptNum >= 0);
    FUZZ_CHECK(o.VnameTxt.find_first_of("\\/:*?\"<>|\r\n") == std::string::npos);
    FUZZ_CHECK(!o.VnameTxt.empty() || o.VnameFlg == 0);

    // Loading what was saved gives back exactly the saved options.
    FUZZ_CHECK(s.SaveOptions() == 0);
    IniFile saved;
    FUZZ_CHECK(saved.Read(path) == IniFile::LoadResult::Loaded);
    const std::string savedText = saved.Text();
    SettingsModel again;
    again.SetDefaults();
    again.IniPath = path;
    FUZZ_CHECK(again.LoadOptions(nullptr, &hasSection) == IniFile::LoadResult::Loaded && hasSection);
    FUZZ_CHECK(again.EditedOptions == static_cast<const ProcessingOptions&>(o));

    // Saving them once more leaves the file as it was, byte for byte.
    again.CommitOptions();
    FUZZ_CHECK(again.SaveOptions() == 0);
    FUZZ_CHECK(saved.Read(path) == IniFile::LoadResult::Loaded);
    FUZZ_CHECK(saved.Text() == savedText);
    return 0;
}
