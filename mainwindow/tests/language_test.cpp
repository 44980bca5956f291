// The window in English, and a picture opened as its script.
#include "language.h"
#include "outportsetdlg.h"
#include "testwindow.h"

#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using namespace testwindow;

QStringList MenuTitles(CFractalDlg& window)
{
    QStringList titles;
    for (const QAction* action : window.menuBar()->actions()) {
        titles.append(action->text());
    }
    return titles;
}

TEST(WindowLanguage, EnglishScreens)
{
    QTemporaryDir dir;
    const QString plain = dir.filePath(QStringLiteral("plain.png"));
    ASSERT_TRUE(QImage(8, 8, QImage::Format_RGB32).save(plain));
    const struct Row {
        const char* language;
        QStringList menus;
        const char* title;
        const char* exportSettings;
        QString noScript;
    } rows[] = {
        { "en",
            { QStringLiteral("&File"), QStringLiteral("&Edit"), QStringLiteral("&View"),
                QStringLiteral("&Help") },
            "Glimmerset - Untitled", "Export settings",
            QStringLiteral("Cannot read the file [%1]!\nthe picture carries no script").arg(plain) },
        { "zh_CN",
            { QStringLiteral(u"文件(&F)"), QStringLiteral(u"编辑(&E)"), QStringLiteral(u"视图(&V)"),
                QStringLiteral(u"帮助(&H)") },
            "Glimmerset - 未命名", "导出设置",
            QStringLiteral(u"读取文件[%1]失败！\n图片中没有脚本").arg(plain) },
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(InstallLanguage(QString::fromLatin1(row.language)));
        StartedWindow started;
        EXPECT_EQ(MenuTitles(started.window), row.menus) << row.language;
        EXPECT_EQ(started.window.windowTitle().toStdString(), row.title);
        COutportSetDlg exportSettings(started.services);
        EXPECT_EQ(exportSettings.windowTitle().toStdString(), row.exportSettings);
        // A picture without a script says so, and leaves the window with its script.
        started.window.OnDropScript(plain);
        EXPECT_EQ(started.services.Last().toStdString(), row.noScript.toStdString()) << row.language;
        EXPECT_EQ(started.window.windowTitle().toStdString(), row.title);
    }
}

// The Alt letter of a menu text: the letter after its single "&", or none.
QChar Mnemonic(const QString& text)
{
    const qsizetype at = text.indexOf(QLatin1Char('&'));
    return at < 0 || at + 1 >= text.size() ? QChar() : text.at(at + 1).toLower();
}

// Every menu item has an Alt letter of its own within its menu; in English it is a letter of the item's
// own words ("&Save", never "Save (&W)").
void CheckMenu(const QList<QAction*>& actions, bool english, const std::string& where)
{
    QList<QChar> seen;
    for (const QAction* action : actions) {
        if (action->isSeparator()) {
            continue;
        }
        const QString text = action->text().section(QLatin1Char('\t'), 0, 0);
        const QChar letter = Mnemonic(text);
        const std::string name = where + " > " + text.toStdString();
        if (english) {
            EXPECT_TRUE(letter.isLetter()) << name;
            EXPECT_FALSE(text.contains(QStringLiteral("(&"))) << name;
        }
        if (!letter.isNull()) {
            EXPECT_FALSE(seen.contains(letter)) << name << ": its letter is taken";
            seen.append(letter);
        }
        if (action->menu()) {
            CheckMenu(action->menu()->actions(), english, name);
        }
    }
}

TEST(WindowLanguage, MenuLetters)
{
    for (const char* language : { "en", "zh_CN" }) {
        ASSERT_TRUE(InstallLanguage(QString::fromLatin1(language)));
        StartedWindow started;
        CheckMenu(started.window.menuBar()->actions(), std::string(language) == "en", language);
    }
}

// A picture opens as a new script: its file is never the one Save writes to.
TEST(WindowLanguage, PictureOpensAsANewScript)
{
    QTemporaryDir dir;
    StartedWindow first;
    first.Script().SetMaxIter(77);
    const QString picture = dir.filePath(QStringLiteral("p.png"));
    ASSERT_TRUE(first.Script().BeginExport(
        { picture, QString(), ExportView { 16, 16, { 0.0, 0.0, 0.1, {} } }, 1, {}, {}, std::nullopt }));
    ASSERT_TRUE(first.Script().WaitExport(std::chrono::seconds(60)));
    first.Script().JoinExport();
    StartedWindow opened(picture);
    EXPECT_EQ(opened.Script().GetMaxIter(), 77);
    EXPECT_EQ(opened.window.windowTitle(), QStringLiteral(u"Glimmerset - 未命名"));
    EXPECT_TRUE(opened.services.messages.empty()) << opened.services.Last().toStdString();
}

} // namespace
