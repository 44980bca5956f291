#include "fractalscript.h"
#include "picturedocument.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

// The threads of this process, as the kernel counts them.
int ThreadCount()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("Threads:")) {
            return line.mid(8).trimmed().toInt();
        }
    }
    return -1;
}

} // namespace

// What the tool's set, dump and check do, on a document alone: no thread is started for it, and what
// was edited is what is saved and loaded back.
TEST(PictureDocument, EditsSavesAndLoadsWithoutAThread)
{
    const int before = ThreadCount();
    ASSERT_GT(before, 0);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.gsc"));
    CPictureDocument document;
    document.SetDefaults();
    ASSERT_TRUE(document.LoadPalette(QString()));
    PictureEdit edit;
    edit.iterText = "z = z * z + C + C2;";
    edit.constants = { { 1, Complex { 0.25, -0.5 } } };
    edit.maxIter = 700;
    edit.view = PlaneView { -0.5, 0.25, 0.0005, {} };
    ASSERT_FALSE(document.Apply(edit).Failed());
    EXPECT_TRUE(document.IsModified());
    ASSERT_TRUE(document.Save(path));
    EXPECT_FALSE(document.IsModified());

    CPictureDocument loaded;
    ASSERT_TRUE(loaded.Load(path)) << loaded.GetLastError();
    EXPECT_EQ(ThreadCount(), before);
    EXPECT_EQ(loaded.GetIterFormula().GetText(), "z = z * z + C + C2;");
    EXPECT_EQ(loaded.GetIterFormula().GetConstant(1).im, -0.5);
    EXPECT_EQ(loaded.GetMaxIter(), 700);
    EXPECT_EQ(loaded.GetOffsetY(), 0.25);
    EXPECT_EQ(loaded.GetCurrentConstantIndex(), 0);
}

// The tool edits a render's script through the document it is (its overrides, its JSON): every path
// of an edit through the document still restarts the script's preview.
TEST(PictureDocument, EditsThroughTheDocumentRestartTheScriptsRenders)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("b.gsc"));
    CFractalScript script;
    script.SetDefaults();
    ASSERT_TRUE(script.LoadPalette(QString()));
    ASSERT_TRUE(script.Save(path));
    CPictureDocument& document = script;
    const struct {
        const char* what;
        std::function<void()> edit;
    } rows[] = {
        { "Apply", [&] { document.SetView(0.5, 0.5, 0.001); } },
        { "SetCurrentConstant",
            [&] {
                document.SetCurrentConstant({ 0.1, 0.2 });
            } },
        { "Load", [&] { ASSERT_TRUE(document.Load(path)); } },
    };
    for (const auto& row : rows) {
        script.PreviewWorker().m_nStage.store(7);
        row.edit();
        EXPECT_EQ(script.PreviewWorker().m_nStage.load(), 0) << row.what;
    }
}
