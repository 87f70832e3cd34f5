#include "platform/Translation.h"

#include <QTranslator>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace lynx::platform {

namespace {

// One context for every text of the tool.
constexpr const char* kContext = "Lynx";

struct Language {
    std::string name;
    std::unique_ptr<QTranslator> translator;
};

Language& Current()
{
    static Language language;
    return language;
}

std::string Normalise(std::string lang)
{
    for (char& c : lang)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lang.empty() || lang == "zh" || lang.rfind("zh_", 0) == 0 || lang.rfind("zh-", 0) == 0 || lang == "c")
        return "";
    if (lang == "en" || lang.rfind("en_", 0) == 0 || lang.rfind("en-", 0) == 0)
        return "en";
    return "?";
}

} // namespace

std::string LanguageFromArguments(int& argc, char** argv, std::string* error)
{
    std::string asked;
    bool given = false;
    for (int i = 1; i < argc;) {
        const char* arg = argv[i];
        int taken = 0;
        if (std::strcmp(arg, "--lang") == 0) {
            if (i + 1 >= argc) {
                *error = "--lang needs a value (zh or en)";
                return "";
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
        asked = env ? env : "";
    }
    const std::string lang = Normalise(asked);
    if (lang == "?") {
        *error = "unknown language '" + asked + "' (zh or en)";
        return "";
    }
    return lang;
}

bool SelectLanguage(const std::string& lang)
{
    Language& current = Current();
    current.translator.reset();
    current.name.clear();
    if (lang.empty())
        return true;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral(":/i18n/lynx_%1.qm").arg(QString::fromStdString(lang))))
        return false;
    current.translator = std::move(translator);
    current.name = lang;
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
