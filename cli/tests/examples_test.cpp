// The example scripts shipped in examples/: each one loads, renders through the command-line tool
// into a picture that is not one flat colour, is stored exactly as the program writes it, and has
// its thumbnail.
#include "cli.h"

#include "fractalscript.h"

#include <QFile>
#include <QHash>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The examples are in examples/ at the top of the source tree.
fs::path ExamplesDir() { return fs::path(GLIMMERSET_SOURCE_DIR) / "examples"; }

std::vector<std::string> ExampleNames()
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(ExamplesDir(), error)) {
        if (entry.is_regular_file() && entry.path().extension() == ".gsc") {
            names.push_back(entry.path().stem().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

QString ScriptPath(const std::string& name)
{
    return QString::fromStdString((ExamplesDir() / (name + ".gsc")).string());
}

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

Outcome Cli(const std::vector<std::string>& args)
{
    std::ostringstream out;
    std::ostringstream err;
    const int code = RunCommandLine(args, out, err);
    return { code, out.str(), err.str() };
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(ExampleFolder, HoldsScripts)
{
    ASSERT_TRUE(fs::is_directory(ExamplesDir())) << ExamplesDir();
    EXPECT_FALSE(ExampleNames().empty()) << "no .gsc file in " << ExamplesDir();
}

class ExampleScript : public testing::TestWithParam<std::string> {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QTemporaryDir m_dir;
};

TEST_P(ExampleScript, LoadsAndRendersMoreThanOneColour)
{
    const std::string script = ScriptPath(GetParam()).toStdString();
    const Outcome checked = Cli({ "check", script });
    ASSERT_EQ(checked.code, 0) << checked.err;
    EXPECT_TRUE(checked.out.starts_with("ok: ")) << checked.out;
    EXPECT_NE(checked.out.find("built-in palette"), std::string::npos)
        << "examples use the built-in palette, so that they work anywhere: " << checked.out;

    const std::string image = m_dir.filePath(QStringLiteral("picture.png")).toStdString();
    // 100 x 100 is the smallest target size a script can have.
    const Outcome rendered = Cli({ "render", script, "-o", image, "--size", "100x100", "--no-watermark" });
    ASSERT_EQ(rendered.code, 0) << rendered.err;

    const QImage picture(QString::fromStdString(image));
    ASSERT_EQ(picture.size(), QSize(100, 100));
    QHash<QRgb, int> counts;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            ++counts[picture.pixel(x, y)];
        }
    }
    ASSERT_GT(counts.size(), 1) << "the whole picture is one colour";
    const int commonest = *std::max_element(counts.cbegin(), counts.cend());
    EXPECT_LT(commonest, picture.width() * picture.height() * 9 / 10)
        << "nine tenths of the picture are one colour";
}

// The examples are kept as the program saves them (GB18030, CR LF, its number format), so that
// loading and saving one changes no byte.
TEST_P(ExampleScript, IsStoredAsTheProgramWritesIt)
{
    const QString path = ScriptPath(GetParam());
    CFractalScript script;
    ASSERT_TRUE(script.Load(path)) << script.GetLastError();
    const QString copy = m_dir.filePath(QStringLiteral("copy.gsc"));
    ASSERT_TRUE(script.Save(copy));
    const QByteArray original = ReadAll(path);
    ASSERT_FALSE(original.isEmpty());
    EXPECT_EQ(ReadAll(copy), original) << "load and save the example once to store it in the program's form";
}

TEST_P(ExampleScript, HasItsThumbnail)
{
    const fs::path thumbnail = ExamplesDir() / "thumbnails" / (GetParam() + ".png");
    const QImage picture(QString::fromStdString(thumbnail.string()));
    EXPECT_EQ(picture.size(), QSize(160, 160)) << thumbnail;
}

INSTANTIATE_TEST_SUITE_P(Examples, ExampleScript, testing::ValuesIn(ExampleNames()),
    [](const testing::TestParamInfo<std::string>& info) {
        std::string name = info.param;
        std::replace_if(
            name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
            '_');
        return name;
    });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ExampleScript);

} // namespace
