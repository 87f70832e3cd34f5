// The file dialogs' filters: the Windows form the window's code gives
// ("description|pattern|...") as the name filter Qt shows.
#include "app/shell/FileDialog.h"

#include <gtest/gtest.h>

namespace {

TEST(FileDialogFilter, EachPatternIsShownOnceBesideItsDescription)
{
    const struct {
        const char* windows;
        const char* qt;
    } cases[] = {
        {"(*.csv)|*.csv|", "(*.csv)"},
        {"(*.zip)|*.zip|", "(*.zip)"},
        {"CSV (*.csv)|*.csv|", "CSV (*.csv)"},
        {"Firmware|*.zip|", "Firmware (*.zip)"},
        {"Archives|*.zip;*.tar|", "Archives (*.zip *.tar)"},
        {"Archives (*.zip;*.tar)|*.zip;*.tar|", "Archives (*.zip *.tar)"},
        {"Plans (*.csv)|*.csv|All files|*|", "Plans (*.csv);;All files (*)"},
        {"(*.txt)|*.csv|", "(*.txt) (*.csv)"},  // a description naming other files is kept
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lynx::platform::QtNameFilter(QString::fromUtf8(c.windows)).toStdString(), c.qt) << c.windows;
}

} // namespace
