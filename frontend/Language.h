// The language of the program's texts: the Chinese texts (with the Japanese
// captions of the standard dialogs) under a Chinese or Japanese locale and when
// no locale is set, English under any other explicit locale. No Qt here, so
// the command line can use it as it is.
#pragma once

#include <string>

enum class Language { Chinese, English };

// The language a locale name asks for ("zh_CN.UTF-8", "ja_JP", "C", "de_DE@euro").
// Empty, "C", "POSIX" and their variants, zh_* and ja_* mean Chinese.
Language LanguageForLocale(const std::string& locale);
// The language of the process environment: the first set of LC_ALL,
// LC_MESSAGES and LANG decides.
Language LanguageFromEnvironment();

// The command line's language: Chinese when the first of LC_ALL,
// LC_MESSAGES and LANG that is set and not empty names Chinese or Japanese
// (zh_*, ja_*); English otherwise, also when none is set or it is "C".
Language CommandLineLanguage();

// The language in use: LanguageFromEnvironment() unless SetLanguage() chose one.
Language CurrentLanguage();
void SetLanguage(Language language);

// A text of the system in the language in use. `chinese` is one of the
// system's own messages or labels, as the engine and the checks produce them
// (with a leading quoted file name and the padding of ideographic spaces);
// in English the known phrases are replaced, the padding is dropped and a
// leading quoted file name is kept as it is. Chinese returns the text
// unchanged.
std::string LocalisedText(const std::string& chinese);
// The same for a given language.
std::string LocalisedText(const std::string& chinese, Language language);
