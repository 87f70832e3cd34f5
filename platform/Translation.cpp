#include "platform/Translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace lynx::platform {

namespace {

// One context for every text of the tool.
constexpr const char* kContext = "Lynx";

struct Language {
    std::string name;
    // The tool's texts written in the other language: lynx_en for the
    // Chinese texts in English, lynx_zh for the English ones in Chinese.
    std::unique_ptr<QTranslator> translator;
    // Qt's own, installed in the application while it is the language.
    std::unique_ptr<QTranslator> qt;
};

Language& Current()
{
    static Language language;
    return language;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// A value of --lang or LYNX_LANG: "" for Chinese (zh, zh_CN...; C, the
// language the window's texts are written in), "en" for English (en,
// en_US...), "?" for any other.
std::string Normalise(const std::string& value)
{
    const std::string lang = Lower(value);
    if (lang == "zh" || StartsWith(lang, "zh_") || StartsWith(lang, "zh-") || lang == "c")
        return "";
    if (lang == "en" || StartsWith(lang, "en_") || StartsWith(lang, "en-"))
        return "en";
    return "?";
}

// Qt's translations of its own texts for the language, from the folder Qt
// was built to look in; none for English, Qt's source language.
std::unique_ptr<QTranslator> QtTranslator(const std::string& lang)
{
    if (!lang.empty())
        return nullptr;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return nullptr;
    return translator;
}

} // namespace

std::string LocaleLanguage()
{
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return StartsWith(Lower(value), "zh") ? "" : "en";
    }
    return "en";
}

LanguageChoice ChooseLanguage(int& argc, char** argv, LanguageDefault fallback)
{
    LanguageChoice choice;
    std::string asked;
    bool given = false;
    for (int i = 1; i < argc;) {
        const char* arg = argv[i];
        int taken = 0;
        if (std::strcmp(arg, "--lang") == 0) {
            if (i + 1 >= argc) {
                choice.error = "--lang needs a value (zh or en)";
                return choice;
            }
            asked = argv[i + 1];
            taken = 2;
        } else if (std::strncmp(arg, "--lang=", 7) == 0) {
            asked = arg + 7;
            taken = 1;
        }
        if (taken == 0) {
            ++i;
            continue;
        }
        given = true;
        for (int k = i; k + taken <= argc; ++k)
            argv[k] = argv[k + taken];
        argc -= taken;
    }
    if (!given) {
        const char* env = std::getenv("LYNX_LANG");
        given = env && *env;
        asked = given ? env : "";
    }
    const std::string fromDefault = fallback == LanguageDefault::Locale ? LocaleLanguage() : "";
    if (!given) {
        choice.lang = fromDefault;
        return choice;
    }
    choice.lang = Normalise(asked);
    if (choice.lang == "?") {
        choice.unknown = asked;
        choice.lang = fromDefault;
    }
    return choice;
}

QString UnknownLanguageWarning(const std::string& value)
{
    return Tr("未知的语言“%1”，已忽略（可用：zh、en）").arg(QString::fromStdString(value));
}

bool SelectLanguage(const std::string& lang)
{
    Language& current = Current();
    if (current.qt)
        QCoreApplication::removeTranslator(current.qt.get());
    current.qt.reset();
    current.translator.reset();
    current.name.clear();
    // Chinese: the translation of the texts written in English; English: of
    // those written in Chinese.
    auto translator = std::make_unique<QTranslator>();
    const QString file = lang.empty() ? QStringLiteral("zh") : QString::fromStdString(lang);
    if (translator->load(QStringLiteral(":/i18n/lynx_%1.qm").arg(file)))
        current.translator = std::move(translator);
    else if (!lang.empty())
        return false;
    current.name = lang;
    if (QCoreApplication::instance()) {
        current.qt = QtTranslator(lang);
        if (current.qt)
            QCoreApplication::installTranslator(current.qt.get());
    }
    return true;
}

const std::string& SelectedLanguage()
{
    return Current().name;
}

QString Tr(const char* source)
{
    const Language& current = Current();
    if (current.translator) {
        const QString text = current.translator->translate(kContext, source);
        if (!text.isEmpty())
            return text;
    }
    return QString::fromUtf8(source);
}

QString Tr(const QString& source)
{
    return Tr(source.toUtf8().constData());
}

std::string TrUtf8(std::string_view source)
{
    return Tr(std::string(source).c_str()).toStdString();
}

QString TrPrefixed(const char* sourcePrefix, const QString& rest)
{
    return Tr(sourcePrefix) + rest;
}

} // namespace lynx::platform
