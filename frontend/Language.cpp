#include "Language.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

namespace {

std::optional<Language> g_chosen;

constexpr const char* kIdeographicSpace = "\u3000";

// Chinese phrases and their English, without their padding. Longer phrases
// are replaced before the shorter ones they contain.
const std::vector<std::pair<std::string, std::string>>& Phrases() {
    static const std::vector<std::pair<std::string, std::string>> table = [] {
        std::vector<std::pair<std::string, std::string>> t = {
            // Checks before a run.
            {"一定要指定输入和输出文件名", "Please name both input files and the output file."},
            {"输入文件和输出文件名称重复", "The output file has the same name as an input file."},
            {"无法打开文件", "Cannot open this file."},
            {"请确保输入文件的通道数的采样率是相同条件的\n丅",
             "Both input files must have the same number of channels and the same sampling rate."},
            {"请确保输入文件的通道数的采样率是相同条件的",
             "Both input files must have the same number of channels and the same sampling rate."},
            {"请使用１６位采样位数", "Please use files with 16-bit samples."},
            {"有一个具有相同名称的文件。是否覆盖保存？", "A file with this name exists. Overwrite it?"},
            {"无法创建文件", "Cannot create this file."},
            // The file check.
            {"这是不能被处理的文件格式\n或文件被损坏", "This file format cannot be processed,\nor the file is damaged."},
            {"这是不能被处理的WAVE文件格式丅", "This WAVE format cannot be processed."},
            {"这是不能被处理的WAVE文件格式", "This WAVE format cannot be processed."},
            {"单声道", "mono"},
            {"立体声", "stereo"},
            // The engine.
            {"内存不足，无法处理。", "Not enough memory to process these files."},
            {"创建文件的过程中发生错误。", "An error occurred while writing the output file."},
            {"自动分析中", "Analysing"},
            {"初步处理中", "Preparing"},
            // The INI file.
            {" に書き込めません.", ": cannot write the settings file."},
        };
        std::stable_sort(t.begin(), t.end(),
                         [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
        return t;
    }();
    return table;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// The format label's bit depth: "16位" followed by its padding becomes "16-bit".
void ReplaceBitDepth(std::string& text) {
    const std::string bits = "位";
    for (size_t at = text.find(bits); at != std::string::npos; at = text.find(bits, at)) {
        if (at == 0 || text[at - 1] < '0' || text[at - 1] > '9') {
            at += bits.size();
            continue;
        }
        text.replace(at, bits.size(), "-bit");
    }
}

// A format label names the container after the channels, apart only by the
// channels' ideographic space ("立体声　FLAC"); in English a comma keeps the
// two words apart ("stereo, FLAC").
void SeparateContainer(std::string& text) {
    for (const std::string channels : {"单声道", "立体声"}) {
        const std::string padded = channels + kIdeographicSpace;
        for (size_t at = text.find(padded); at != std::string::npos; at = text.find(padded, at + 1)) {
            const size_t next = at + padded.size();
            if (next < text.size() && text[next] != ' ' && text[next] != '\n' &&
                text.compare(next, std::string(kIdeographicSpace).size(), kIdeographicSpace) != 0)
                text.replace(at, padded.size(), channels + ", ");
        }
    }
}

std::string EnglishText(const std::string& chinese) {
    // A message about a file begins with its name in quotes and a line feed;
    // the name stays as it is.
    std::string head, text = chinese;
    if (!text.empty() && text[0] == '"') {
        const size_t end = text.find("\"\n", 1);
        if (end != std::string::npos) {
            head = text.substr(0, end + 2);
            text = text.substr(end + 2);
        }
    }
    SeparateContainer(text);
    ReplaceAll(text, kIdeographicSpace, "");
    for (const auto& [zh, en] : Phrases()) ReplaceAll(text, zh, en);
    ReplaceBitDepth(text);
    // What the padding left behind: spaces at the ends of lines.
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ' ' && (i + 1 == text.size() || text[i + 1] == '\n' || text[i + 1] == ' ')) continue;
        out += text[i];
    }
    return head + out;
}

} // namespace

Language LanguageForLocale(const std::string& locale) {
    if (locale.empty() || locale == "C" || locale == "POSIX" || locale.rfind("C.", 0) == 0 ||
        locale.rfind("C@", 0) == 0 || locale.rfind("POSIX.", 0) == 0)
        return Language::Chinese;
    const std::string lang = locale.substr(0, locale.find_first_of("_.@"));
    if (lang == "zh" || lang == "ja") return Language::Chinese;
    return Language::English;
}

Language LanguageFromEnvironment() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) return LanguageForLocale(value);
    }
    return Language::Chinese;
}

Language CommandLineLanguage() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (!value || !*value) continue;
        const std::string locale = value;
        const std::string lang = locale.substr(0, locale.find_first_of("_.@"));
        return lang == "zh" || lang == "ja" ? Language::Chinese : Language::English;
    }
    return Language::English;
}

Language CurrentLanguage() {
    if (!g_chosen) g_chosen = LanguageFromEnvironment();
    return *g_chosen;
}

void SetLanguage(Language language) { g_chosen = language; }

std::string LocalisedText(const std::string& chinese, Language language) {
    return language == Language::Chinese ? chinese : EnglishText(chinese);
}

std::string LocalisedText(const std::string& chinese) { return LocalisedText(chinese, CurrentLanguage()); }
