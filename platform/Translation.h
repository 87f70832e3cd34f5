// The interface's language. The texts are written in Simplified Chinese, the
// source language; an English translation (res/lynx_en.ts, compiled into the
// programs) is used when asked for: LYNX_LANG=en, or --lang en. Without it,
// every text is exactly the Chinese one.
#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace lynx::platform {

// The language asked for by the command line (--lang LANG or --lang=LANG,
// removed from the arguments) or else LYNX_LANG: "en" for English (en_US and
// the like too), "" for the source language. Anything else is an error
// (nullopt-like: *error set, "" returned).
std::string LanguageFromArguments(int& argc, char** argv, std::string* error);

// Makes lang the language of every text from now on; false when it has no
// translation (the source language stays).
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
