// The interface's language. The window's texts, and lynx-cli's messages, are
// written in Simplified Chinese; an English translation of them
// (res/lynx_en.ts) is used in English. lynx-cli's help is written in English;
// a Chinese translation of it (res/lynx_zh.ts) is used in Chinese. Both are
// compiled into the programs. Which language: the command line (--lang), else
// LYNX_LANG, else the program's default: the window is Chinese, lynx-cli
// follows the locale as command-line tools do.
#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace lynx::platform {

// What a program speaks when neither --lang nor LYNX_LANG names a language.
enum class LanguageDefault {
    Chinese,  // the window
    Locale,   // lynx-cli: LocaleLanguage()
};

struct LanguageChoice {
    std::string lang;     // "en" for English, "" for Chinese
    std::string unknown;  // a value given that names no language we have: ignored, the default used
    std::string error;    // a command line that cannot be read (--lang without its value)
};

// The language asked for by the command line (--lang LANG or --lang=LANG, the
// last one winning; removed from the arguments), else by LYNX_LANG when set
// and not empty, else the default. zh, zh_CN and the like (and C) give
// Chinese; en, en_US and the like English.
LanguageChoice ChooseLanguage(int& argc, char** argv, LanguageDefault fallback);

// The locale's language: the first of LC_ALL, LC_MESSAGES and LANG that is
// set and not empty; Chinese ("") for a value starting with "zh", English
// ("en") for any other, C and POSIX and none at all included.
std::string LocaleLanguage();

// One line telling that a language value was ignored, naming it and the
// languages there are, in the selected language.
QString UnknownLanguageWarning(const std::string& value);

// Makes lang the language of every text from now on; false when it has no
// translation (the source texts stay). With a QCoreApplication running, Qt's
// own texts (file dialogs, standard buttons) follow too, from Qt's
// translations (qt6-translations-l10n) when installed.
bool SelectLanguage(const std::string& lang);
const std::string& SelectedLanguage();

// A source text (UTF-8) in the selected language: its translation, or the
// text itself when there is none.
QString Tr(const char* source);
QString Tr(const QString& source);
std::string TrUtf8(std::string_view source);
// A text that begins with a source text, as in "导出失败：disk full": the
// beginning translated, the rest kept.
QString TrPrefixed(const char* sourcePrefix, const QString& rest);

} // namespace lynx::platform
