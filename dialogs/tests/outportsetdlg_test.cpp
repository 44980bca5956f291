#include "fakeservices.h"
#include "outportsetdlg.h"

#include <QLineEdit>

#include <gtest/gtest.h>

namespace {

TEST(ExportSize, Bounds)
{
    CFakeServices services;
    const struct {
        const char* width;
        const char* height;
        const char* message; // nullptr: accepted
        const char* level = "1";
        const char* antialias = "1";
    } rows[] = { { "100", "4096", nullptr }, { "4096", "100", nullptr },
        { "99", "500", "Please enter an integer between 100 and 4096." },
        { "500", "4097", "Please enter an integer between 100 and 4096." },
        { "5e2", "500", "Please enter an integer." }, { " 640 ", "\t480", nullptr },
        { "640", "480", nullptr, "0" }, { "640", "480", nullptr, "9" },
        { "640", "480", "Please enter an integer between 0 and 9.", "10" },
        { "640", "480", nullptr, "1", "4" },
        { "640", "480", "Please enter an integer between 1 and 4.", "1", "0" },
        { "640", "480", "Please enter an integer between 1 and 4.", "1", "5" } };
    for (const auto& row : rows) {
        COutportSetDlg dialog(services);
        dialog.m_nWidth = 1024;
        dialog.m_nHeight = 1024;
        dialog.m_nPngLevel = 1;
        dialog.m_nAntialias = 2;
        dialog.InitDialog();
        EXPECT_EQ(dialog.AntialiasField()->text(), QStringLiteral("2"));
        EXPECT_EQ(dialog.WidthField()->text(), QStringLiteral("1024"));
        EXPECT_EQ(dialog.PngLevelField()->text(), QStringLiteral("1"));
        dialog.WidthField()->setText(QString::fromLatin1(row.width));
        dialog.HeightField()->setText(QString::fromLatin1(row.height));
        dialog.PngLevelField()->setText(QString::fromLatin1(row.level));
        dialog.AntialiasField()->setText(QString::fromLatin1(row.antialias));
        services.messages.clear();
        EXPECT_EQ(dialog.OnOk(), row.message == nullptr) << row.width << 'x' << row.height;
        if (row.message) {
            EXPECT_EQ(services.Last(), QString::fromLatin1(row.message)) << row.width << 'x' << row.height;
        } else {
            EXPECT_EQ(dialog.m_nWidth, QString::fromLatin1(row.width).trimmed().toInt());
            EXPECT_EQ(dialog.m_nPngLevel, QString::fromLatin1(row.level).toInt());
            EXPECT_EQ(dialog.m_nAntialias, QString::fromLatin1(row.antialias).toInt());
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
        }
    }
}

} // namespace
