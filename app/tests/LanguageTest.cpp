// The interface's language: with English chosen, the window, both address
// dialogs and the boxes they show have no Chinese text left; without it, every
// text is the Chinese one; every Chinese text in the sources of the window,
// its dialogs and lynx-cli has an English translation; the language is chosen
// by --lang, else LYNX_LANG, else the program's default (the window Chinese,
// lynx-cli the locale's), a value not known only warned about; and Qt's own
// texts follow the window's language.
#include "app/tests/WindowTestSupport.h"

#include "app/dialogs/ModifyIp.h"
#include "app/dialogs/MulModifyIP.h"
#include "app/shell/ModalDialog.h"
#include "app/shell/PopupMenu.h"
#include "platform/Translation.h"
#include "app/shell/DialogBuilder.h"
#include "app/shell/DialogTemplate.h"
#include "app/shell/resource.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QRegularExpression>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

bool HasChinese(const QString& text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x4E00 && u <= 0x9FFF) || (u >= 0x3000 && u <= 0x303F) || (u >= 0xFF01 && u <= 0xFF5E))
            return true;
    }
    return false;
}

// Every text a person sees on a widget and its children.
QStringList VisibleTexts(QWidget& top)
{
    QStringList texts{top.windowTitle()};
    QList<QWidget*> widgets = top.findChildren<QWidget*>();
    for (QWidget* w : widgets) {
        texts << w->toolTip();
        if (auto* label = qobject_cast<QLabel*>(w))
            texts << label->text();
        if (auto* button = qobject_cast<QAbstractButton*>(w))
            texts << button->text();
        if (auto* combo = qobject_cast<QComboBox*>(w))
            for (int i = 0; i < combo->count(); ++i)
                texts << combo->itemText(i);
        if (auto* table = qobject_cast<QTableWidget*>(w)) {
            for (int c = 0; c < table->columnCount(); ++c)
                texts << table->horizontalHeaderItem(c)->text();
            for (int r = 0; r < table->rowCount(); ++r)
                for (int c = 0; c < table->columnCount(); ++c)
                    if (table->item(r, c))
                        texts << table->item(r, c)->text() << table->item(r, c)->toolTip();
        }
    }
    texts.removeAll(QString());
    return texts;
}

class Language : public ::testing::Test {
protected:
    void TearDown() override { lynx::platform::SelectLanguage(""); }
    ScriptedBoxes boxes;
};

TEST_F(Language, InEnglishNoChineseIsLeftInTheWindowItsDialogsOrItsBoxes)
{
    ASSERT_TRUE(lynx::platform::SelectLanguage("en"));
    CLynxDlg dlg;
    dlg.Create();
    DeliverReport(ReportJson("192.168.1.101", "00:1A:2B:00:00:01"));
    DeliverReport(ReportJson("192.168.1.101", "AA:BB:CC:00:00:02"));  // the same IP: marked, with a tooltip
    ASSERT_EQ(dlg.listDevice()->GetItemCount(), 2);
    dlg.site().SetStatus(dlg.listModel()->DeviceAt(0), {lynx::site::DeviceState::Succeeded});
    QStringList texts = VisibleTexts(dlg);
    if (const char* folder = std::getenv("LYNX_SCREENSHOT_DIR")) {
        dlg.show();
        dlg.grab().save(QString::fromLocal8Bit(folder) + QStringLiteral("/window-en.png"));
    }
    EXPECT_TRUE(texts.contains(QStringLiteral("Batch upgrade")));
    EXPECT_TRUE(texts.contains(QStringLiteral("Hide same IP")));

    // The context menu and the boxes of the window.
    lynx::platform::MenuItems menu;
    auto previousMenu = lynx::platform::SetPopupMenuHandler([&](const lynx::platform::MenuItems& items) {
        menu = items;
        return 0;
    });
    dlg.OnNMRClickList(0);
    lynx::platform::SetPopupMenuHandler(previousMenu);
    for (const auto& item : menu)
        texts << item.second;
    lynx::res::GetDlgItemAs<QAbstractButton>(dlg, IDC_BTN_OPEN)->click();        // nothing picked
    lynx::res::GetDlgItemAs<QAbstractButton>(dlg, IDC_BTN_MODIFY_IP)->click();    // nothing ticked
    lynx::res::GetDlgItemAs<QAbstractButton>(dlg, IDC_BTN_BATCH_UPGRADE)->click();  // nothing ticked
    for (const auto& box : boxes.shown)
        texts << box.text << box.caption;
    EXPECT_TRUE(texts.contains(QStringLiteral("Please select at least one device!")));

    // Both address dialogs, as they open.
    for (int which : {0, 1}) {
        std::unique_ptr<QDialog> dialog;
        if (which == 0)
            dialog = std::make_unique<ModifyIp>();
        else
            dialog = std::make_unique<MulModifyIP>();
        ScriptedDialogs scripted([&](QDialog& d) {
            texts << VisibleTexts(d);
            return lynx::platform::IDCANCEL;
        });
        lynx::platform::RunModalDialog(*dialog);
    }
    EXPECT_TRUE(texts.contains(QStringLiteral("Start IP")));
    for (const QString& text : texts)
        EXPECT_FALSE(HasChinese(text)) << text.toStdString();
}

TEST_F(Language, WithoutEnglishEveryTextIsTheChineseOne)
{
    ASSERT_TRUE(lynx::platform::SelectLanguage(""));
    CLynxDlg dlg;
    dlg.Create();
    ModifyIp single;
    MulModifyIP batch;
    const std::pair<QDialog*, const lynx::res::DialogTemplate*> dialogs[] = {
        {&dlg, &lynx::res::MainDialogTemplate()},
        {&single, &lynx::res::ModifyIpTemplate()},
        {&batch, &lynx::res::MulModifyIpTemplate()},
    };
    for (const auto& [dialog, t] : dialogs) {
        EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8(t->caption));
        const QStringList texts = VisibleTexts(*dialog);
        for (const auto& c : t->controls) {
            if (c.text[0] != '\0') {
                EXPECT_TRUE(texts.contains(QString::fromUtf8(c.text))) << c.text;
            }
        }
    }
    EXPECT_EQ(dlg.listDevice()->model()->headerData(7, Qt::Horizontal).toString(), QStringLiteral("状态"));
    EXPECT_EQ(lynx::res::GetDlgItemAs<QAbstractButton>(dlg, IDC_BTN_SEARCH)->text(), QStringLiteral("搜索"));
}

TEST_F(Language, EveryChineseTextInTheSourcesHasAnEnglishTranslation)
{
    const char* root = LYNX_SOURCE_TREE;
    ASSERT_TRUE(lynx::platform::SelectLanguage("en"));
    // String literals outside comments, in the files that hold the texts a
    // person sees: the dialog templates, the window, the messages of the
    // address and upgrade code, the boxes, lynx-cli.
    const QRegularExpression literal(QStringLiteral("\"((?:[^\"\\\\]|\\\\.)*)\""));
    int checked = 0;
    for (const char* folder : {"app", "app/shell", "app/dialogs", "addressing", "upgrade", "platform", "protocol", "site", "cli"}) {
        const QDir dir(QString::fromLocal8Bit(root) + "/" + folder);
        for (const QString& name : dir.entryList({QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files)) {
            QFile file(dir.filePath(name));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
            int lineNumber = 0;
            for (const QByteArray& raw : file.readAll().split('\n')) {
                ++lineNumber;
                QString line = QString::fromUtf8(raw);
                if (line.trimmed().startsWith(QStringLiteral("//")))
                    continue;
                // A comment after code, unless the "//" is inside a string.
                const qsizetype comment = line.indexOf(QStringLiteral("// "));
                if (comment >= 0 && line.left(comment).count(QLatin1Char('"')) % 2 == 0)
                    line = line.left(comment);
                for (auto it = literal.globalMatch(line); it.hasNext();) {
                    QString text = it.next().captured(1);
                    if (!HasChinese(text))
                        continue;
                    text.replace(QStringLiteral("\\r"), QStringLiteral("\r")).replace(QStringLiteral("\\n"), QStringLiteral("\n"));
                    ++checked;
                    const QString english = lynx::platform::Tr(text);
                    EXPECT_FALSE(HasChinese(english))
                        << folder << "/" << name.toStdString() << ":" << lineNumber << ": no English for \"" << text.toStdString() << "\"";
                }
            }
        }
    }
    EXPECT_GT(checked, 80);
}

} // namespace

namespace {

// The environment a case runs in: each variable set to the value, or unset
// when null.
class Environment {
public:
    Environment(std::initializer_list<std::pair<const char*, const char*>> values)
    {
        for (const auto& [name, value] : values) {
            const char* old = std::getenv(name);
            m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            if (value)
                setenv(name, value, 1);
            else
                unsetenv(name);
        }
    }
    ~Environment()
    {
        for (const auto& [name, value] : m_saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

using lynx::platform::LanguageDefault;

TEST(LanguageChoice, CommandLineOverLynxLangOverTheDefaultWhichIsChineseForTheWindowAndTheLocaleForTheCli)
{
    const struct {
        std::vector<std::string> args;
        const char* lynxLang;  // null: unset
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        LanguageDefault fallback;
        const char* chosen;    // "" Chinese, "en" English
        const char* unknown;   // the value warned about and ignored
        bool error;
        int argsLeft;
    } cases[] = {
        // The window: Chinese unless asked, whatever the locale.
        {{"lynx"}, nullptr, nullptr, nullptr, nullptr, LanguageDefault::Chinese, "", "", false, 1},
        {{"lynx"}, nullptr, "en_US.UTF-8", nullptr, "en_US.UTF-8", LanguageDefault::Chinese, "", "", false, 1},
        {{"lynx"}, "en", nullptr, nullptr, nullptr, LanguageDefault::Chinese, "en", "", false, 1},
        {{"lynx"}, "en_US.UTF-8", nullptr, nullptr, nullptr, LanguageDefault::Chinese, "en", "", false, 1},
        {{"lynx"}, "zh_CN.UTF-8", nullptr, nullptr, "en_US.UTF-8", LanguageDefault::Chinese, "", "", false, 1},
        {{"lynx", "--lang", "en", "search"}, "zh", nullptr, nullptr, nullptr, LanguageDefault::Chinese, "en", "", false, 2},
        {{"lynx", "search", "--lang=zh"}, "en", nullptr, nullptr, nullptr, LanguageDefault::Chinese, "", "", false, 2},
        // A language not known: warned about, the window still opens, in Chinese.
        {{"lynx"}, "fr", nullptr, nullptr, nullptr, LanguageDefault::Chinese, "", "fr", false, 1},
        {{"lynx", "--lang", "xx"}, "en", nullptr, nullptr, nullptr, LanguageDefault::Chinese, "", "xx", false, 1},
        {{"lynx", "--lang"}, nullptr, nullptr, nullptr, nullptr, LanguageDefault::Chinese, "", "", true, 2},
        // lynx-cli: the first of LC_ALL, LC_MESSAGES, LANG set and not empty.
        {{"lynx-cli"}, nullptr, nullptr, nullptr, nullptr, LanguageDefault::Locale, "en", "", false, 1},
        {{"lynx-cli"}, nullptr, nullptr, nullptr, "C", LanguageDefault::Locale, "en", "", false, 1},
        {{"lynx-cli"}, nullptr, nullptr, nullptr, "POSIX", LanguageDefault::Locale, "en", "", false, 1},
        {{"lynx-cli"}, nullptr, nullptr, nullptr, "C.UTF-8", LanguageDefault::Locale, "en", "", false, 1},
        {{"lynx-cli"}, nullptr, nullptr, nullptr, "fr_FR.UTF-8", LanguageDefault::Locale, "en", "", false, 1},
        {{"lynx-cli"}, nullptr, nullptr, nullptr, "zh_CN.UTF-8", LanguageDefault::Locale, "", "", false, 1},
        {{"lynx-cli"}, nullptr, nullptr, "zh_CN.UTF-8", "en_US.UTF-8", LanguageDefault::Locale, "", "", false, 1},
        {{"lynx-cli"}, nullptr, "en_US.UTF-8", "zh_CN.UTF-8", "zh_CN.UTF-8", LanguageDefault::Locale, "en", "", false, 1},
        {{"lynx-cli"}, nullptr, "zh_TW.UTF-8", nullptr, "C", LanguageDefault::Locale, "", "", false, 1},
        {{"lynx-cli"}, nullptr, "", "", "zh_SG.UTF-8", LanguageDefault::Locale, "", "", false, 1},
        {{"lynx-cli"}, nullptr, "", "C", "zh_CN.UTF-8", LanguageDefault::Locale, "en", "", false, 1},
        // LYNX_LANG over the locale, the command line over both.
        {{"lynx-cli"}, "en", nullptr, nullptr, "zh_CN.UTF-8", LanguageDefault::Locale, "en", "", false, 1},
        {{"lynx-cli"}, "zh", "C", nullptr, nullptr, LanguageDefault::Locale, "", "", false, 1},
        {{"lynx-cli"}, "", nullptr, nullptr, "zh_CN.UTF-8", LanguageDefault::Locale, "", "", false, 1},
        {{"lynx-cli", "--lang", "zh", "search"}, "en", "en_US.UTF-8", nullptr, nullptr, LanguageDefault::Locale, "", "", false, 2},
        {{"lynx-cli", "search", "--lang=en"}, "zh", nullptr, nullptr, "zh_CN.UTF-8", LanguageDefault::Locale, "en", "", false, 2},
        // Not known: warned about, the locale's language used.
        {{"lynx-cli"}, "fr", nullptr, nullptr, "zh_CN.UTF-8", LanguageDefault::Locale, "", "fr", false, 1},
        {{"lynx-cli", "--lang=xx", "search"}, "zh", nullptr, nullptr, nullptr, LanguageDefault::Locale, "en", "xx", false, 2},
    };
    for (const auto& c : cases) {
        const Environment env{{"LYNX_LANG", c.lynxLang}, {"LC_ALL", c.lcAll}, {"LC_MESSAGES", c.lcMessages}, {"LANG", c.lang}};
        std::vector<std::string> storage = c.args;
        std::vector<char*> argv;
        for (std::string& a : storage)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int argc = static_cast<int>(c.args.size());
        const std::string where = c.args[0] + " args " + std::to_string(c.args.size()) + " LYNX_LANG=" +
                                  (c.lynxLang ? c.lynxLang : "-") + " LC_ALL=" + (c.lcAll ? c.lcAll : "-") +
                                  " LC_MESSAGES=" + (c.lcMessages ? c.lcMessages : "-") + " LANG=" + (c.lang ? c.lang : "-");
        const lynx::platform::LanguageChoice choice = lynx::platform::ChooseLanguage(argc, argv.data(), c.fallback);
        EXPECT_EQ(choice.lang, c.chosen) << where;
        EXPECT_EQ(choice.unknown, c.unknown) << where;
        EXPECT_EQ(!choice.error.empty(), c.error) << where << ": " << choice.error;
        EXPECT_EQ(argc, c.argsLeft) << where;
        EXPECT_EQ(argv[argc], nullptr) << where;
    }
}

TEST(LanguageChoice, TheWarningNamesTheValueAndTheLanguagesThereAreOnOneLine)
{
    for (const char* lang : {"", "en"}) {
        ASSERT_TRUE(lynx::platform::SelectLanguage(lang));
        const QString warning = lynx::platform::UnknownLanguageWarning("fr_FR");
        EXPECT_TRUE(warning.contains(QStringLiteral("fr_FR")) && warning.contains(QStringLiteral("zh")) &&
                    warning.contains(QStringLiteral("en")) && !warning.contains(QLatin1Char('\n')))
            << warning.toStdString();
        EXPECT_EQ(HasChinese(warning), std::string(lang).empty()) << warning.toStdString();
    }
    lynx::platform::SelectLanguage("");
}

// Qt's own texts (the file dialogs, the standard buttons) speak the window's
// language, from Qt's translations.
TEST(LanguageChoice, QtsOwnTextsFollowTheWindowsLanguage)
{
    const struct {
        const char* lang;
        const char* cancel;
        const char* lookIn;
    } cases[] = {
        {"", "取消", "查找范围："},
        {"en", "Cancel", "Look in:"},
        {"", "取消", "查找范围："},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(lynx::platform::SelectLanguage(c.lang));
        QDialogButtonBox box(QDialogButtonBox::Cancel);
        EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text(), QString::fromUtf8(c.cancel)) << c.lang;
        EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), QString::fromUtf8(c.lookIn)) << c.lang;
    }
    lynx::platform::SelectLanguage("");
}

} // namespace
