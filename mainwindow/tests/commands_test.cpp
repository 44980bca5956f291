#include "fractalapp.h"
#include "testwindow.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTranslator>

#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>

namespace {

using namespace testwindow;
using Kind = CFakeServices::FileDialogKind;

const QString kQuestion = QStringLiteral(u"当前脚本已经被修改，是否需要保存修改？");
const QString kUntitledTitle = QStringLiteral(u"Glimmerset - 未命名");

std::string Str(const QString& text) { return text.toStdString(); }

QByteArray Contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A readable script whose view differs from the defaults, so that an overwrite would show.
bool WriteScript(const QString& path)
{
    CFractalScript script;
    script.SetDefaults();
    script.LoadPalette(QString());
    script.SetView(0.5, 0.25, 0.01);
    return script.Save(path);
}

bool WriteBadVersion(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    file.write(QStringLiteral(u"版本号:{Glimmerset9.99}\n").toUtf8());
    return true;
}

// Timers and worker run again, as after every command.
void ExpectResumed(CFractalDlg& window, const char* text)
{
    EXPECT_TRUE(window.TimersRunning()) << text;
    EXPECT_TRUE(WaitForWorker(window, true)) << text << ": the preview worker runs";
}

void ExpectQuestion(const CFakeServices::Message& message, const char* text)
{
    EXPECT_EQ(Str(message.text), Str(kQuestion)) << text;
    EXPECT_EQ(Str(message.caption), "保存修改") << text;
    EXPECT_EQ(message.icon, MessageIcon::Question) << text;
    EXPECT_EQ(message.buttons, MessageButtons::YesNoCancel) << text;
}

// The system's reason that a save into a missing folder adds to the message.
QString NoSuchFile() { return QString::fromLocal8Bit(std::strerror(ENOENT)); }

void ExpectError(const CFakeServices::Message& message, const QString& expected, const char* text)
{
    EXPECT_EQ(Str(message.text), Str(expected)) << text;
    EXPECT_EQ(Str(message.caption), "错误") << text;
    EXPECT_EQ(message.icon, MessageIcon::Error) << text;
    EXPECT_EQ(message.buttons, MessageButtons::Ok) << text;
}

// Open offers the exported pictures that carry their script as its second filter.
void ExpectScriptFilter(const FileDialogRequest& request, const char* text, bool pictures = false)
{
    ASSERT_EQ(request.filters.size(), pictures ? 2u : 1u) << text;
    if (pictures) {
        EXPECT_EQ(Str(request.filters[1].description), "带脚本的图片 (*.png *.jpg *.jpeg)") << text;
    }
    EXPECT_EQ(Str(request.filters[0].description), "Glimmerset脚本文件 (*.gsc)") << text;
    EXPECT_EQ(request.filters[0].patterns, QStringList { QStringLiteral("*.gsc") }) << text;
    EXPECT_EQ(Str(request.defaultSuffix), "gsc") << text;
}

// A user's edit: one wheel notch.
void Edit(CFractalDlg& window)
{
    window.OnWheel(120, QPoint(100, 100));
    ASSERT_TRUE(window.Script().IsModified());
}

struct Files {
    QTemporaryDir dir;
    QString Path(const QString& name) const { return dir.filePath(name); }
};

TEST(Commands, OpenTitlesWithTheFileTitle)
{
    Files files;
    ASSERT_TRUE(QDir(files.dir.path()).mkdir(QStringLiteral("dir")));
    const QString path = files.Path(QStringLiteral("dir/name.x.gsc"));
    ASSERT_TRUE(WriteScript(path));

    StartedWindow w;
    w.services.ChooseFile(path);
    w.window.OnFileOpen();
    EXPECT_TRUE(w.services.messages.empty());
    EXPECT_EQ(Str(w.window.windowTitle()), "Glimmerset - name");
    EXPECT_EQ(w.window.ScriptPath(), path);
    EXPECT_EQ(w.Script().GetOffsetX(), 0.5) << "the file's view";
    EXPECT_EQ(w.Script().GetRatio(), 0.01);
    EXPECT_FALSE(w.Script().IsModified());
    EXPECT_EQ(w.window.ShownStage(), 0);
    ExpectResumed(w.window, "after Open");

    // Saved under the opened name: no dialog, and the title stays.
    Edit(w.window);
    EXPECT_TRUE(w.window.OnFileSave());
    EXPECT_EQ(w.services.fileRequests.size(), 1u) << "only Open's dialog";
    EXPECT_EQ(Str(w.window.windowTitle()), "Glimmerset - name");
    EXPECT_FALSE(w.Script().IsModified());
    EXPECT_TRUE(w.window.TimersRunning());
}

TEST(Commands, StartUpWithAScript)
{
    Files files;
    const QString good = files.Path(QStringLiteral("start.gsc"));
    const QString bad = files.Path(QStringLiteral("broken.gsc"));
    ASSERT_TRUE(WriteScript(good));
    ASSERT_TRUE(WriteBadVersion(bad));

    StartedWindow opened(good);
    EXPECT_EQ(Str(opened.window.windowTitle()), "Glimmerset - start");
    EXPECT_EQ(opened.window.ScriptPath(), good);
    EXPECT_EQ(opened.Script().GetRatio(), 0.01);
    EXPECT_TRUE(opened.services.messages.empty());
    ExpectResumed(opened.window, "started with a script");

    StartedWindow failed(bad);
    ASSERT_EQ(failed.services.messages.size(), 1u);
    ExpectError(failed.services.messages[0],
        QStringLiteral(u"读取文件[%1]失败！\n %2")
            .arg(bad, QString::fromStdString(failed.Script().GetLastError())),
        "start-up with a broken script");
    EXPECT_FALSE(failed.Script().GetLastError().empty());
    EXPECT_EQ(Str(failed.window.windowTitle()), Str(kUntitledTitle));
    EXPECT_TRUE(failed.window.ScriptPath().isEmpty());
    // The default picture, as New makes it, not what the failed load left.
    CFractalScript defaults;
    defaults.SetDefaults();
    EXPECT_EQ(failed.Script().GetOffsetX(), defaults.GetOffsetX());
    EXPECT_EQ(failed.Script().GetRatio(), defaults.GetRatio());
    EXPECT_EQ(failed.Script().GetMaxIter(), defaults.GetMaxIter());
    EXPECT_EQ(failed.Script().GetPaletteWidth(), 1000);
    EXPECT_FALSE(failed.Script().IsModified());
    ExpectResumed(failed.window, "started with a broken script");
}

TEST(Commands, NewAfterOpenForgetsTheFile)
{
    Files files;
    const QString path = files.Path(QStringLiteral("opened.gsc"));
    ASSERT_TRUE(WriteScript(path));
    const QByteArray original = Contents(path);

    StartedWindow w;
    w.services.ChooseFile(path);
    w.window.OnFileOpen();
    ASSERT_EQ(w.window.ScriptPath(), path);

    w.window.OnFileNew();
    EXPECT_TRUE(w.services.messages.empty()) << "nothing to save after a clean Open";
    EXPECT_EQ(Str(w.window.windowTitle()), Str(kUntitledTitle));
    EXPECT_TRUE(w.window.ScriptPath().isEmpty());
    EXPECT_EQ(w.Script().GetRatio(), 0.001953125) << "the defaults";
    EXPECT_EQ(w.Script().GetOffsetX(), -1.0);
    ExpectResumed(w.window, "after New");

    // Save now asks for a name instead of writing over the file opened before.
    Edit(w.window);
    EXPECT_FALSE(w.window.OnFileSave()) << "the dialog was cancelled";
    ASSERT_EQ(w.services.fileRequests.size(), 2u);
    EXPECT_EQ(w.services.fileRequests.back().kind, Kind::Save);
    EXPECT_EQ(Contents(path), original) << "the opened file is untouched";
    EXPECT_TRUE(w.window.TimersRunning());
}

TEST(Commands, OpenFailureLeavesNoFileName)
{
    Files files;
    const QString good = files.Path(QStringLiteral("good.gsc"));
    const QString bad = files.Path(QStringLiteral("bad.version.gsc"));
    ASSERT_TRUE(WriteScript(good));
    ASSERT_TRUE(WriteBadVersion(bad));

    StartedWindow w;
    w.services.ChooseFile(good);
    w.window.OnFileOpen();
    ASSERT_EQ(Str(w.window.windowTitle()), "Glimmerset - good");

    // A formula that does not compile also says which, where and what.
    const QString formula = files.Path(QStringLiteral("formula.gsc"));
    ASSERT_TRUE(WriteScript(formula));
    QFile file(formula);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const QByteArray text = file.readAll().replace("z * z + C", "z * z + D");
    file.seek(0);
    file.write(text);
    file.close();
    const struct {
        QString path;
        const char* text;
        QString more;
    } rows[] = {
        { bad, "wrong version", {} },
        { files.Path(QStringLiteral("missing.gsc")), "no such file", {} },
        { formula, "formula error",
            QStringLiteral(u"\n迭代公式错误:非法字符\n第 1 行，第 13 列：未知的名称“D”：常量名以 C 开头") },
    };
    for (const auto& row : rows) {
        w.services.messages.clear();
        w.services.ChooseFile(row.path);
        w.window.OnFileOpen();
        ASSERT_EQ(w.services.messages.size(), 1u) << row.text;
        ExpectError(
            w.services.messages[0], QStringLiteral(u"读取文件[%1]失败！").arg(row.path) + row.more, row.text);
        EXPECT_EQ(Str(w.window.windowTitle()), Str(kUntitledTitle)) << row.text;
        EXPECT_TRUE(w.window.ScriptPath().isEmpty()) << row.text;
        EXPECT_EQ(w.window.ShownStage(), 0) << row.text;
        ExpectResumed(w.window, row.text);
    }
}

TEST(Commands, OpenDialogRequest)
{
    StartedWindow w;
    const QString title = w.window.windowTitle();
    w.window.OnFileOpen(); // cancelled
    ASSERT_EQ(w.services.fileRequests.size(), 1u);
    const CFakeServices::FileRequest& asked = w.services.fileRequests[0];
    EXPECT_EQ(asked.kind, Kind::Open);
    ExpectScriptFilter(asked.request, "Open", true);
    EXPECT_TRUE(asked.request.mustExist);
    EXPECT_TRUE(asked.request.initialName.isEmpty());

    EXPECT_TRUE(w.services.messages.empty());
    EXPECT_EQ(w.window.windowTitle(), title) << "a cancelled dialog changes nothing";
    EXPECT_TRUE(w.window.ScriptPath().isEmpty());
    ExpectResumed(w.window, "after a cancelled Open");
}

TEST(Commands, SaveAsDialogRequest)
{
    Files files;
    StartedWindow w;
    EXPECT_FALSE(w.window.OnFileSaveAs()); // cancelled
    ASSERT_EQ(w.services.fileRequests.size(), 1u);
    const CFakeServices::FileRequest& asked = w.services.fileRequests[0];
    EXPECT_EQ(asked.kind, Kind::Save);
    ExpectScriptFilter(asked.request, "Save As");
    EXPECT_EQ(Str(asked.request.initialName), "未命名.gsc");
    EXPECT_TRUE(asked.request.overwritePrompt);
    EXPECT_TRUE(w.window.TimersRunning());

    // Saved under a name, the next Save As proposes that name.
    const QString path = files.Path(QStringLiteral("picked.gsc"));
    w.services.ChooseFile(path);
    EXPECT_TRUE(w.window.OnFileSaveAs());
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_EQ(w.window.ScriptPath(), path);
    EXPECT_EQ(Str(w.window.windowTitle()), "Glimmerset - picked");
    EXPECT_FALSE(w.window.OnFileSaveAs());
    ASSERT_EQ(w.services.fileRequests.size(), 3u);
    EXPECT_EQ(Str(w.services.fileRequests[2].request.initialName), "picked.gsc");
    EXPECT_TRUE(w.window.TimersRunning());
}

TEST(Commands, SaveFailure)
{
    Files files;
    const QString folder = files.Path(QStringLiteral("gone"));
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString opened = folder + QStringLiteral("/kept.gsc");
    ASSERT_TRUE(WriteScript(opened));
    const QString nowhere = files.Path(QStringLiteral("missing/folder/new.gsc"));

    const struct {
        bool openFirst; // Save to the opened file's name after its folder went away
        const char* text;
    } rows[] = {
        { false, "Save As into a missing folder" },
        { true, "Save into a folder that went away" },
    };
    for (const auto& row : rows) {
        StartedWindow w;
        QString path = nowhere;
        if (row.openFirst) {
            w.services.ChooseFile(opened);
            w.window.OnFileOpen();
            ASSERT_EQ(w.window.ScriptPath(), opened) << row.text;
            ASSERT_TRUE(QDir(folder).removeRecursively()) << row.text;
            path = opened;
        }
        Edit(w.window);
        w.services.messages.clear();
        if (row.openFirst) {
            EXPECT_FALSE(w.window.OnFileSave()) << row.text;
        } else {
            w.services.ChooseFile(path);
            EXPECT_FALSE(w.window.OnFileSaveAs()) << row.text;
        }
        ASSERT_EQ(w.services.messages.size(), 1u) << row.text;
        ExpectError(w.services.messages[0],
            QStringLiteral(u"保存到文件[%1]失败！\n%2").arg(path, NoSuchFile()), row.text);
        EXPECT_TRUE(w.window.ScriptPath().isEmpty()) << row.text;
        EXPECT_EQ(Str(w.window.windowTitle()), Str(kUntitledTitle)) << row.text;
        EXPECT_TRUE(w.Script().IsModified()) << row.text << ": still unsaved";
        EXPECT_TRUE(w.window.TimersRunning()) << row.text;
        EXPECT_FALSE(QFile::exists(path)) << row.text;
    }
}

// The save-changes question before closing, and what each answer leads to.
TEST(Commands, CloseQuery)
{
    Files files;
    const QString named = files.Path(QStringLiteral("named.gsc"));
    ASSERT_TRUE(WriteScript(named));
    enum class Chosen { None, Good, Bad };
    const struct {
        bool modified;
        bool openFirst;
        std::optional<MessageAnswer> answer;
        Chosen saveAs; // what the Save As dialog returns, if it is asked
        bool closes;
        bool saveDialog;
        bool errorShown;
        const char* text;
    } rows[] = {
        { false, false, std::nullopt, Chosen::None, true, false, false, "nothing to save" },
        { true, false, MessageAnswer::Cancel, Chosen::None, false, false, false, "Cancel" },
        { true, false, MessageAnswer::No, Chosen::None, true, false, false, "No" },
        { true, false, MessageAnswer::Yes, Chosen::Good, true, true, false, "Yes, saved under a new name" },
        { true, true, MessageAnswer::Yes, Chosen::None, true, false, false, "Yes, saved under its name" },
        { true, false, MessageAnswer::Yes, Chosen::None, false, true, false, "Yes, Save As cancelled" },
        { true, false, MessageAnswer::Yes, Chosen::Bad, false, true, true, "Yes, the save fails" },
    };
    int serial = 0;
    for (const auto& row : rows) {
        StartedWindow w;
        if (row.openFirst) {
            w.services.ChooseFile(named);
            w.window.OnFileOpen();
            w.services.fileRequests.clear();
        }
        if (row.modified) {
            Edit(w.window);
        }
        const QString good = files.Path(QStringLiteral("saved%1.gsc").arg(++serial));
        const QString bad = files.Path(QStringLiteral("missing/saved.gsc"));
        if (row.answer) {
            w.services.answers.push_back(*row.answer);
        }
        if (row.saveAs != Chosen::None) {
            w.services.ChooseFile(row.saveAs == Chosen::Good ? good : bad);
        }

        EXPECT_EQ(w.window.CloseQuery(), row.closes) << row.text;

        ASSERT_EQ(w.services.messages.size(), (row.modified ? 1u : 0u) + (row.errorShown ? 1u : 0u))
            << row.text;
        if (row.modified) {
            ExpectQuestion(w.services.messages[0], row.text);
        }
        if (row.errorShown) {
            ExpectError(w.services.messages[1],
                QStringLiteral(u"保存到文件[%1]失败！\n%2").arg(bad, NoSuchFile()), row.text);
        }
        EXPECT_EQ(w.services.fileRequests.size(), row.saveDialog ? 1u : 0u) << row.text;
        if (row.saveAs == Chosen::Good) {
            EXPECT_TRUE(QFile::exists(good)) << row.text;
        }
        if (row.answer == MessageAnswer::Yes && row.closes) {
            EXPECT_FALSE(w.Script().IsModified()) << row.text << ": saved";
        }
        if (!row.closes) {
            EXPECT_TRUE(w.Script().IsModified()) << row.text;
            ExpectResumed(w.window, row.text);
        }
    }
}

// New and Open ask the same question; a Yes whose save does not happen abandons them.
TEST(Commands, SaveChangesQueryBeforeNewAndOpen)
{
    Files files;
    const QString other = files.Path(QStringLiteral("other.gsc"));
    ASSERT_TRUE(WriteScript(other));
    const QString bad = files.Path(QStringLiteral("missing/saved.gsc"));

    const struct {
        bool open; // Open, else New
        MessageAnswer answer;
        std::optional<QString> saveAs;
        bool goesOn;
        const char* text;
    } rows[] = {
        { false, MessageAnswer::Cancel, std::nullopt, false, "New, Cancel" },
        { false, MessageAnswer::No, std::nullopt, true, "New, No" },
        { false, MessageAnswer::Yes, std::nullopt, false, "New, Yes, Save As cancelled" },
        { false, MessageAnswer::Yes, bad, false, "New, Yes, the save fails" },
        { false, MessageAnswer::Yes, files.Path(QStringLiteral("new.gsc")), true, "New, Yes, saved" },
        { true, MessageAnswer::Cancel, std::nullopt, false, "Open, Cancel" },
        { true, MessageAnswer::No, std::nullopt, true, "Open, No" },
        { true, MessageAnswer::Yes, std::nullopt, false, "Open, Yes, Save As cancelled" },
        { true, MessageAnswer::Yes, bad, false, "Open, Yes, the save fails" },
        { true, MessageAnswer::Yes, files.Path(QStringLiteral("open.gsc")), true, "Open, Yes, saved" },
    };
    for (const auto& row : rows) {
        StartedWindow w;
        Edit(w.window);
        const double editedRatio = w.Script().GetRatio();
        w.services.answers.push_back(row.answer);
        if (row.answer == MessageAnswer::Yes) {
            // The untitled script's Save As dialog comes first; an empty result cancels it.
            w.services.files.push_back(
                row.saveAs ? FileDialogResult { true, *row.saveAs, 0 } : FileDialogResult {});
        }
        if (row.open) {
            w.services.ChooseFile(other);
            w.window.OnFileOpen();
        } else {
            w.window.OnFileNew();
        }
        ASSERT_FALSE(w.services.messages.empty()) << row.text;
        ExpectQuestion(w.services.messages[0], row.text);

        const size_t saveDialogs = row.answer == MessageAnswer::Yes ? 1 : 0;
        const size_t openDialogs = row.open && row.goesOn ? 1 : 0;
        ASSERT_EQ(w.services.fileRequests.size(), saveDialogs + openDialogs) << row.text;
        if (saveDialogs) {
            EXPECT_EQ(w.services.fileRequests[0].kind, Kind::Save) << row.text;
        }
        if (openDialogs) {
            EXPECT_EQ(w.services.fileRequests.back().kind, Kind::Open) << row.text;
        }
        if (row.goesOn) {
            EXPECT_FALSE(w.Script().IsModified()) << row.text;
            EXPECT_EQ(w.Script().GetRatio(), row.open ? 0.01 : 0.001953125) << row.text << ": replaced";
            EXPECT_EQ(Str(w.window.windowTitle()), row.open ? "Glimmerset - other" : Str(kUntitledTitle))
                << row.text;
        } else {
            EXPECT_TRUE(w.Script().IsModified()) << row.text;
            EXPECT_EQ(w.Script().GetRatio(), editedRatio) << row.text << ": the edited script stays";
        }
        ExpectResumed(w.window, row.text);
    }
}

TEST(Commands, TitleMarksUnsavedEdits)
{
    Files files;
    StartedWindow w;
    w.window.OnPreviewTimer();
    EXPECT_EQ(Str(w.window.windowTitle()), Str(kUntitledTitle)) << "nothing edited yet";

    Edit(w.window);
    EXPECT_EQ(Str(w.window.windowTitle()), Str(kUntitledTitle)) << "the mark comes with the next tick";
    w.window.OnPreviewTimer();
    EXPECT_EQ(Str(w.window.windowTitle()), "Glimmerset - 未命名 *");

    const QString path = files.Path(QStringLiteral("marked.gsc"));
    w.services.ChooseFile(path);
    ASSERT_TRUE(w.window.OnFileSave());
    EXPECT_EQ(Str(w.window.windowTitle()), "Glimmerset - marked");
    w.window.OnPreviewTimer();
    EXPECT_EQ(Str(w.window.windowTitle()), "Glimmerset - marked") << "saved: no mark";

    w.window.OnMouseMove(QPoint(100, 100), false); // a hover is no edit
    w.window.OnKeyDown(Qt::Key_C, false);
    w.window.OnPreviewTimer();
    EXPECT_EQ(Str(w.window.windowTitle()), "Glimmerset - marked");

    Drag(w.window, QPoint(200, 200), QPoint(220, 210));
    w.window.OnPreviewTimer();
    EXPECT_EQ(Str(w.window.windowTitle()), "Glimmerset - marked *");
    ASSERT_TRUE(w.window.OnFileSave());
    EXPECT_EQ(Str(w.window.windowTitle()), "Glimmerset - marked");
}

// Every command ends a drag in progress: a move with the button still held changes nothing.
TEST(Commands, CommandsEndTheDrag)
{
    Files files;
    const struct {
        const char* text;
        std::function<void(CFractalDlg&)> command;
    } rows[] = {
        { "New", [](CFractalDlg& window) { window.OnFileNew(); } },
        { "Open, cancelled", [](CFractalDlg& window) { window.OnFileOpen(); } },
        { "Save As, cancelled", [](CFractalDlg& window) { window.OnFileSaveAs(); } },
        { "close query, cancelled", [](CFractalDlg& window) { window.CloseQuery(); } },
    };
    for (const auto& row : rows) {
        StartedWindow w;
        Edit(w.window);
        w.services.answers.push_back(MessageAnswer::Cancel);
        w.window.OnLeftButtonDown(QPoint(200, 200));
        ASSERT_EQ(w.window.GetDragMode(), DragPan) << row.text;
        row.command(w.window);
        EXPECT_EQ(w.window.GetDragMode(), DragNone) << row.text;
        const double ox = w.Script().GetOffsetX();
        const double oy = w.Script().GetOffsetY();
        w.window.OnMouseMove(QPoint(260, 230), true);
        EXPECT_EQ(w.Script().GetOffsetX(), ox) << row.text;
        EXPECT_EQ(w.Script().GetOffsetY(), oy) << row.text;
        EXPECT_TRUE(w.window.TimersRunning()) << row.text;
    }
}

// Escape and the close box run the close query; Enter does nothing.
TEST(Commands, EscapeRunsTheCloseQuery)
{
    StartedWindow w;
    w.window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w.window));
    Edit(w.window);

    w.window.OnKeyDown(Qt::Key_Return, false);
    w.window.OnKeyDown(Qt::Key_Enter, false);
    EXPECT_TRUE(w.window.isVisible());
    EXPECT_TRUE(w.services.messages.empty()) << "Enter asks nothing";

    w.services.answers.push_back(MessageAnswer::Cancel);
    w.window.OnKeyDown(Qt::Key_Escape, false);
    ASSERT_EQ(w.services.messages.size(), 1u);
    ExpectQuestion(w.services.messages[0], "Escape, Cancel");
    EXPECT_TRUE(w.window.isVisible()) << "Cancel keeps the window open";
    ExpectResumed(w.window, "Escape, Cancel");

    w.services.answers.push_back(MessageAnswer::Cancel);
    EXPECT_FALSE(w.window.close()) << "the close box, Cancel";
    EXPECT_TRUE(w.window.isVisible());

    w.services.answers.push_back(MessageAnswer::No);
    w.window.OnKeyDown(Qt::Key_Escape, false);
    EXPECT_EQ(w.services.messages.size(), 3u);
    EXPECT_FALSE(w.window.isVisible()) << "No closes";
    EXPECT_FALSE(w.window.TimersRunning());
}

TEST(Commands, About)
{
    StartedWindow w;
    w.window.OnAbout();
    EXPECT_EQ(w.services.aboutShown, 1);
    EXPECT_EQ(w.services.aboutParent, &w.window);
    EXPECT_TRUE(w.window.TimersRunning()) << "About does not pause";
    EXPECT_TRUE(w.services.messages.empty());
}

} // namespace

namespace {

QMimeData* DragOf(const QList<QUrl>& urls)
{
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
}

} // namespace

TEST(Commands, DroppingAScriptOpensIt)
{
    Files files;
    const QString path = files.Path(QStringLiteral("dropped.gsc"));
    ASSERT_TRUE(WriteScript(path));

    const struct {
        QList<QUrl> urls;
        bool accepted;
        const char* text;
    } rows[] = {
        { { QUrl::fromLocalFile(path) }, true, "one local script" },
        { { QUrl::fromLocalFile(files.Path(QStringLiteral("picture.png"))) }, true, "a picture" },
        { { QUrl::fromLocalFile(files.Path(QStringLiteral("picture.bmp"))) }, false, "not a script" },
        { { QUrl::fromLocalFile(path), QUrl::fromLocalFile(path) }, false, "two files" },
        { { QUrl(QStringLiteral("https://example.invalid/a.gsc")) }, false, "not a local file" },
        { {}, false, "no file" },
    };
    for (const auto& row : rows) {
        const std::unique_ptr<QMimeData> data(DragOf(row.urls));
        EXPECT_EQ(!CFractalDlg::DroppedScript(data.get()).isEmpty(), row.accepted) << row.text;
    }

    // With unsaved changes the question comes first; Cancel keeps the script, No opens the file.
    StartedWindow w;
    Edit(w.window);
    w.services.answers.push_back(MessageAnswer::Cancel);
    w.window.OnDropScript(path);
    EXPECT_TRUE(w.window.ScriptPath().isEmpty());
    EXPECT_EQ(w.services.messages.back().caption, QStringLiteral(u"保存修改"));
    ExpectResumed(w.window, "after a cancelled drop");

    w.services.answers.push_back(MessageAnswer::No);
    const std::unique_ptr<QMimeData> data(DragOf({ QUrl::fromLocalFile(path) }));
    ASSERT_TRUE(w.window.AcceptsDrop(data.get()));
    w.window.OnDrop(data.get()); // what the client area does with a drop it accepts
    WaitUntil([&] { return !w.window.ScriptPath().isEmpty(); }, 2000);
    EXPECT_EQ(w.window.ScriptPath(), path);
    EXPECT_EQ(Str(w.window.windowTitle()), "Glimmerset - dropped");
    EXPECT_EQ(w.Script().GetOffsetX(), 0.5) << "the file's view";
    ExpectResumed(w.window, "after the drop");
}

namespace {

// What the window program does with its command line, before any display is needed: its help and
// usage errors in the user's language.
TEST(StartUp, Arguments)
{
    const struct {
        QStringList args;
        bool exit;
        int exitCode;
        const char* out; // the start of standard output
        const char* err; // the start of standard error
        const char* script;
        const char* language = "en";
    } rows[] = {
        { {}, false, 0, "", "", "" },
        { { "a.gsc" }, false, 0, "", "", "a.gsc" },
        { { "a.gsc", "b.gsc" }, false, 0, "", "", "" }, // more than one: none is opened
        { { "--help" }, true, 0, "Usage: glimmerset [OPTION]... [SCRIPT]\n\nExplores", "", "" },
        { { "--help" }, true, 0, "用法：glimmerset [选项]... [脚本]\n\n探索", "", "", "zh_CN" },
        { { "a.gsc", "-h" }, true, 0, "Usage: glimmerset", "", "" },
        { { "--version" }, true, 0, "glimmerset 0.01\n", "", "" },
        { { "-V" }, true, 0, "glimmerset 0.01\n", "", "", "zh_CN" },
        { { "--frobnicate" }, true, 2, "", "glimmerset: unknown option '--frobnicate'\nUsage: glimmerset",
            "" },
        { { "--frobnicate" }, true, 2, "", "glimmerset：未知的选项“--frobnicate”\n用法：glimmerset", "",
            "zh_CN" },
        { { "-x", "a.gsc" }, true, 2, "", "glimmerset: unknown option '-x'", "" },
        { { "--", "--help" }, false, 0, "", "", "--help" },
        { { "-platform", "offscreen", "a.gsc" }, false, 0, "", "", "a.gsc" }, // Qt's own options pass
        { { "-style=fusion", "-reverse", "a.gsc" }, false, 0, "", "", "a.gsc" },
        { { "-" }, false, 0, "", "", "-" },
    };
    for (const auto& row : rows) {
        const std::string text = row.args.join(QLatin1Char(' ')).toStdString() + " in " + row.language;
        const StartRequest request = CFractalApp::ParseArguments(row.args, QString::fromLatin1(row.language));
        EXPECT_EQ(request.exit, row.exit) << text;
        EXPECT_EQ(request.exitCode, row.exitCode) << text;
        EXPECT_TRUE(Str(request.out).starts_with(row.out)) << text << ": " << Str(request.out);
        EXPECT_EQ(request.out.isEmpty(), *row.out == '\0') << text;
        EXPECT_TRUE(Str(request.err).starts_with(row.err)) << text << ": " << Str(request.err);
        EXPECT_EQ(request.err.isEmpty(), *row.err == '\0') << text;
        EXPECT_EQ(Str(request.scriptPath), row.script) << text;
    }
}

// Qt's standard buttons speak the window's language.
TEST(StartUp, QtTextsInTheShownLanguage)
{
    const struct Row {
        const char* language;
        const char* cancel;
    } rows[] = { { "zh_CN", "取消" }, { "en", "Cancel" } };
    for (const Row& row : rows) {
        const std::unique_ptr<QTranslator> translation
            = CFractalApp::LoadQtTranslation(QString::fromLatin1(row.language));
        ASSERT_NE(translation, nullptr)
            << "qtbase_" << row.language << ".qm is missing (qt6-translations-l10n)";
        QCoreApplication::installTranslator(translation.get());
        QDialogButtonBox buttons(QDialogButtonBox::Cancel | QDialogButtonBox::Yes);
        EXPECT_EQ(Str(buttons.button(QDialogButtonBox::Cancel)->text()), row.cancel) << row.language;
        QCoreApplication::removeTranslator(translation.get());
    }
}

} // namespace
