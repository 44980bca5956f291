#include "scriptfile.h"

#include "antialias.h"
#include "fixedlimits.h"
#include "numbertext.h"
#include "palettedecode.h"
#include "picturetext.h"
#include "safefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>

#include <cmath>

#include <unistd.h>

namespace {

// The keys of a script file, in the order the writer writes them. The constant keys have no colon.
const QString kKeyVersion = QStringLiteral(u"版本号:{");
const QString kKeyIteration = QStringLiteral(u"迭代公式:{");
const QString kKeyTermination = QStringLiteral(u"终止条件公式:{");
const QString kKeyColour = QStringLiteral(u"取色公式:{");
const QString kKeyPalette = QStringLiteral(u"调色板文件:{");
const QString kKeyMapping = QStringLiteral(u"调色板映射:{");
const QString kKeyOffset = QStringLiteral(u"复平面偏移:{");
const QString kKeyRatio = QStringLiteral(u"比率:{");
const QString kKeyImageSize = QStringLiteral(u"目标图像大小:{");
const QString kKeyMaxIter = QStringLiteral(u"最大迭代次数:{");
// Written after the constant lines, and only when it is not 1, so that the files of pictures
// without it stay as they were. It contains no other key, and no other key contains it: readers that
// do not know it never look at it.
const QString kKeyAntialias = QStringLiteral(u"抗锯齿采样:{");
// The exact decimal offset and ratio of a view deeper than doubles hold: "x, y, ratio". Written
// last, only for such views; the offset and ratio lines keep the nearest doubles, which is all that
// readers without this line see. Like the line above it contains no other key and no key contains it.
const QString kKeyExactView = QStringLiteral(u"精确视图:{");
// An iteration limit above the usual line's 10000: written last, only for such limits, while the usual
// line keeps 10000, all that readers without this line see. No other key contains it or is in it.
const QString kKeyExtendedLimit = QStringLiteral(u"扩展迭代上限:{");
const QString kEnd = QStringLiteral("}");

constexpr int kMaxConstantLines = 100;

QString ConstantKey(int number) { return QStringLiteral(u"常量%1{").arg(number, 2, 10, QLatin1Char('0')); }

QString Number(double value) { return QString::fromStdString(FormatScriptNumber(value)); }

std::string Utf8(const QString& text) { return text.toStdString(); }

// How reading a script's text ended.
enum class TextRead { Read, Unreadable, PictureWithoutScript };

// The text of a script file, or of the script a picture carries; Unreadable, with the reason, when
// it is not a regular file of a sane size, or a picture whose structure is damaged.
TextRead ReadScriptText(const QString& path, QString& text, QString& reason)
{
    if (IsPictureFile(path)) {
        if (!ReadPictureText(path, kPictureScriptKey, kMaxScriptBytes, text, reason)) {
            return TextRead::Unreadable;
        }
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        return text.isEmpty() ? TextRead::PictureWithoutScript : TextRead::Read;
    }
    // Only a regular file of a sane size: no script is megabytes long.
    qint64 fileSize = 0;
    const int fd = OpenRegularFile(path, fileSize, reason);
    if (fd < 0) {
        return TextRead::Unreadable;
    }
    if (fileSize > kMaxScriptBytes) {
        ::close(fd);
        reason = QStringLiteral("longer than the %1 MiB a script may have").arg(kMaxScriptBytes >> 20);
        return TextRead::Unreadable;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        reason = file.errorString();
        return TextRead::Unreadable;
    }
    // What is there when it is opened; a file that grows meanwhile is read to that size.
    const QByteArray bytes = file.read(fileSize);
    if (bytes.size() != fileSize) {
        reason = file.error() != QFileDevice::NoError
            ? file.errorString()
            : QStringLiteral("the file became shorter while it was read");
        return TextRead::Unreadable;
    }
    file.close();
    text = DecodeScriptText(bytes);
    return TextRead::Read;
}

} // namespace

QString ResolvePalettePath(const QString& name, const QString& scriptFolder)
{
    if (name.isEmpty() || QDir::isAbsolutePath(name) || scriptFolder.isEmpty()) {
        return name;
    }
    // Beside the script first, so that a script and its palette can move together; then the working
    // folder, where older files and callers found it.
    const QString beside = QDir(scriptFolder).filePath(name);
    return QFileInfo::exists(beside) ? beside : name;
}

QString DecodeScriptText(const QByteArray& bytes)
{
    QByteArrayView view(bytes);
    if (view.startsWith("\xEF\xBB\xBF")) {
        view = view.sliced(3);
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(view);
    if (utf8.hasError()) {
        // GB18030 accepts almost any bytes, so it is tried second.
        QStringDecoder gb18030("GB18030");
        text = gb18030(QByteArrayView(bytes));
    }
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

QByteArray EncodeScriptText(const QString& text)
{
    QString crlf = text;
    crlf.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    QStringEncoder gb18030("GB18030");
    return gb18030(crlf);
}

bool LooksLikeScriptText(const QString& text) { return text.contains(kKeyVersion); }

QString ExtractBetween(const QString& text, const QString& startKey, const QString& endKey)
{
    qsizetype start = 0;
    if (!startKey.isEmpty()) {
        start = text.indexOf(startKey);
        if (start < 0) {
            return {};
        }
        start += startKey.size();
    }
    if (endKey.isEmpty()) {
        return text.mid(start);
    }
    const qsizetype end = text.indexOf(endKey, start);
    if (end < 0) {
        return {};
    }
    return text.mid(start, end - start);
}

namespace {

QString ScriptVersion() { return QString::fromUtf8(kScriptVersion.data(), kScriptVersion.size()); }

QString Line(const QString& key, const QString& value) { return key + value + kEnd + '\n'; }

QString FormulaText(const CFormula& formula) { return QString::fromStdString(formula.GetText()); }

// The items after the formulas, each read as far as it converts: a failing item keeps its
// converted part, as older readers did.
std::string ReadNumbers(const QString& text, Picture& picture)
{
    double mapping[7];
    const int mapped = ScanNumbers(Utf8(ExtractBetween(text, kKeyMapping, kEnd)), mapping, 7);
    double* const members[] = { &picture.mapping.x0, &picture.mapping.y0, &picture.mapping.dx,
        &picture.mapping.dy, &picture.mapping.sin, &picture.mapping.cos, &picture.mapping.stretch };
    for (int k = 0; k < mapped; ++k) {
        *members[k] = mapping[k];
    }
    if (mapped < 7) {
        return "载入调色板映射失败";
    }
    double offset[2];
    const int offsets = ScanNumbers(Utf8(ExtractBetween(text, kKeyOffset, kEnd)), offset, 2);
    double ratio = 0.0;
    const int ratios = offsets < 2 ? 0 : ScanNumbers(Utf8(ExtractBetween(text, kKeyRatio, kEnd)), &ratio, 1);
    picture.view.offsetX = offsets > 0 ? offset[0] : picture.view.offsetX;
    picture.view.offsetY = offsets > 1 ? offset[1] : picture.view.offsetY;
    picture.view.ratio = ratios > 0 ? ratio : picture.view.ratio;
    picture.view.exact = {}; // until the exact line says otherwise
    if (offsets < 2) {
        return "载入复平面偏移失败";
    }
    if (ratios < 1) {
        return "载入比率失败";
    }
    // Sizes and limits that the setters would refuse are brought into their ranges: a size of 0
    // must never reach the preview size rule, which divides by it.
    int size[2];
    if (ScanIntegers(Utf8(ExtractBetween(text, kKeyImageSize, kEnd)), size, 2) < 2) {
        return "载入目标图像大小失败";
    }
    int maxIter = 0;
    const bool haveMaxIter = ScanIntegers(Utf8(ExtractBetween(text, kKeyMaxIter, kEnd)), &maxIter, 1) == 1;
    picture.imageWidth = ClampToRange(size[0], kMinImageSide, kMaxImageSide);
    picture.imageHeight = ClampToRange(size[1], kMinImageSide, kMaxImageSide);
    if (!haveMaxIter) {
        return "载入最大迭代次数失败";
    }
    picture.maxIter = ClampToRange(maxIter, kMinIterations, kMaxIterations);
    return {};
}

// The exact view line, when there is one that reads: three decimal numbers, the ratio above 0. A line
// that does not read is passed over: the offset and ratio lines hold the view as well as doubles can.
void ReadExactView(const QString& text, Picture& picture)
{
    const QStringList parts = ExtractBetween(text, kKeyExactView, kEnd).split(QLatin1Char(','));
    if (parts.size() != 3) {
        return;
    }
    const std::optional<PlaneView> view
        = ViewFromExact({ Utf8(parts[0].trimmed()), Utf8(parts[1].trimmed()), Utf8(parts[2].trimmed()) },
            picture.imageWidth, picture.imageHeight);
    if (view) {
        picture.view = *view;
    }
}

// The extended limit line, when there is one that reads a number above 10000 beside a usual line of
// 10000, as the writer writes them; anything else is passed over (a usual line edited by hand stands).
void ReadExtendedLimit(const QString& text, Picture& picture)
{
    int limit = 0;
    if (picture.maxIter == kMaxIterations
        && ScanIntegers(Utf8(ExtractBetween(text, kKeyExtendedLimit, kEnd)), &limit, 1) == 1
        && limit > kMaxIterations) {
        picture.maxIter = std::min(limit, kMaxExtendedIterations);
    }
}

// The constant lines, 常量00 on, up to the first that is missing.
std::string ReadConstants(const QString& text, CFormula& iter)
{
    for (int number = 0; number < kMaxConstantLines; ++number) {
        const QString value = ExtractBetween(text, ConstantKey(number), kEnd);
        if (value.isEmpty()) {
            break;
        }
        const qsizetype equals = value.indexOf(QLatin1Char('='));
        const QString name = equals < 0 ? value : value.left(equals);
        const QString numbers = equals < 0 ? QString() : value.mid(equals + 1);
        double parts[2];
        if (ScanNumbers(Utf8(numbers), parts, 2) < 2) {
            return "载入常量失败";
        }
        const int k = iter.FindConstant(Utf8(name));
        if (k >= 0 && !iter.SetConstant(k, { parts[0], parts[1] })) {
            return "载入常量失败";
        }
    }
    return {};
}

} // namespace

QString PaletteNameFrom(const QString& name, const QString& fromFolder, const QString& toFolder)
{
    if (name.isEmpty() || !QDir::isRelativePath(name)) {
        return name;
    }
    const QString file = QFileInfo(ResolvePalettePath(name, fromFolder)).absoluteFilePath();
    if (QFileInfo(ResolvePalettePath(name, toFolder)).absoluteFilePath() == file) {
        return name;
    }
    return QDir(toFolder).relativeFilePath(file);
}

QString ScriptNameProblem(const QString& name)
{
    if (name.contains(QLatin1Char('\n')) || name.contains(QLatin1Char('\r'))) {
        return QStringLiteral("it holds a line break");
    }
    if (name.contains(kEnd)) {
        return QStringLiteral("it holds '}', which ends a value");
    }
    // Every key ends in "{": a name without one holds none.
    if (!name.contains(QLatin1Char('{'))) {
        return {};
    }
    static const QString kKeys[]
        = { kKeyVersion, kKeyIteration, kKeyTermination, kKeyColour, kKeyPalette, kKeyMapping, kKeyOffset,
              kKeyRatio, kKeyImageSize, kKeyMaxIter, kKeyAntialias, kKeyExactView, kKeyExtendedLimit };
    for (const QString& key : kKeys) {
        if (name.contains(key)) {
            return QStringLiteral("it holds '%1', a key of script files").arg(key);
        }
    }
    for (int number = 0; number < kMaxConstantLines; ++number) {
        if (name.contains(ConstantKey(number))) {
            return QStringLiteral("it holds '%1', a key of script files").arg(ConstantKey(number));
        }
    }
    return {};
}

QString ScriptLineProblem(const Picture& picture, const QString& paletteName)
{
    if (const QString problem = ScriptNameProblem(paletteName); !problem.isEmpty()) {
        return QStringLiteral("the palette name '%1' cannot be written to a script file: %2")
            .arg(paletteName, problem);
    }
    const CFormula& iter = picture.iterFormula;
    for (int k = 0; k < iter.GetConstantCount(); ++k) {
        const QString name = QString::fromStdString(iter.GetConstantName(k));
        if (const QString problem = ScriptNameProblem(name); !problem.isEmpty()) {
            return QStringLiteral("the constant name '%1' cannot be written to a script file: %2")
                .arg(name, problem);
        }
    }
    return {};
}

QString ScriptText(const Picture& picture, const QString& paletteName)
{
    const PaletteMapping& m = picture.mapping;
    const CFormula& iter = picture.iterFormula;
    QString text = Line(kKeyVersion, ScriptVersion());
    text += Line(kKeyIteration, FormulaText(iter));
    text += Line(kKeyTermination, FormulaText(picture.termFormula));
    text += Line(kKeyColour, FormulaText(picture.colorFormula));
    text += Line(kKeyPalette, paletteName);
    text += Line(kKeyMapping,
        Number(m.x0) + ", " + Number(m.y0) + ", " + Number(m.dx) + ", " + Number(m.dy) + ", " + Number(m.sin)
            + ", " + Number(m.cos) + ", " + Number(m.stretch));
    text += Line(kKeyOffset, Number(picture.view.offsetX) + ", " + Number(picture.view.offsetY));
    text += Line(kKeyRatio, Number(picture.view.ratio));
    text += Line(
        kKeyImageSize, QString::number(picture.imageWidth) + ", " + QString::number(picture.imageHeight));
    text += Line(kKeyMaxIter, QString::number(std::min(picture.maxIter, kMaxIterations)));
    for (int k = 0; k < iter.GetConstantCount(); ++k) {
        const Complex value = iter.GetConstant(k);
        text += Line(ConstantKey(k),
            QString::fromStdString(iter.GetConstantName(k)) + '=' + Number(value.re) + ", "
                + Number(value.im));
    }
    if (picture.antialias > 1) {
        text += Line(kKeyAntialias, QString::number(picture.antialias));
    }
    if (!picture.view.exact.Empty()) {
        const ExactView& e = picture.view.exact;
        text += Line(kKeyExactView,
            QString::fromStdString(e.offsetX) + ", " + QString::fromStdString(e.offsetY) + ", "
                + QString::fromStdString(e.ratio));
    }
    if (picture.maxIter > kMaxIterations) {
        text += Line(kKeyExtendedLimit, QString::number(picture.maxIter));
    }
    return text;
}

bool SaveScript(const QString& path, const Picture& picture, const QString& paletteName, QString* reason)
{
    // Written as it is, such a name would be cut short or would bring items of its own.
    if (const QString problem = ScriptLineProblem(picture, paletteName); !problem.isEmpty()) {
        if (reason) {
            *reason = problem;
        }
        return false;
    }
    return WriteFileAtomically(path, EncodeScriptText(ScriptText(picture, paletteName)), reason);
}

bool ReadScriptPaletteName(const QString& path, QString& name)
{
    QString text;
    QString reason;
    if (ReadScriptText(path, text, reason) != TextRead::Read) {
        return false;
    }
    name = ExtractBetween(text, kKeyPalette, kEnd);
    return true;
}

ScriptLoad LoadScript(const QString& path, Picture& picture, const InstallPaletteFn& installPalette)
{
    ScriptLoad load;
    const auto fail = [&load](std::string message) {
        load.error = std::move(message);
        return load;
    };
    QString text;
    QString reason;
    switch (ReadScriptText(path, text, reason)) {
    case TextRead::Read: break;
    case TextRead::Unreadable: load.reason = reason.toStdString(); return fail("打开文件失败");
    case TextRead::PictureWithoutScript: return fail(kNoScriptInPicture);
    }
    load.opened = true;
    if (ExtractBetween(text, kKeyVersion, kEnd) != ScriptVersion()) {
        return fail("版本不正确");
    }
    FormulaError error = CompileFormulas(picture, Utf8(ExtractBetween(text, kKeyIteration, kEnd)),
        Utf8(ExtractBetween(text, kKeyTermination, kEnd)));
    if (error) {
        load.formulaError = error;
        return fail(std::move(error.message));
    }
    load.formulasRead = true;
    if ((error = CompileColorFormula(picture, Utf8(ExtractBetween(text, kKeyColour, kEnd))))) {
        load.formulaError = error;
        return fail(std::move(error.message));
    }
    // Loading the palette resets the mapping, which the next step reads.
    if (!installPalette(ExtractBetween(text, kKeyPalette, kEnd), picture)) {
        return fail("导入调色板失败");
    }
    std::string message = ReadNumbers(text, picture);
    if (message.empty()) {
        message = ReadConstants(text, picture.iterFormula);
    }
    if (message.empty()) {
        // Absent, or not a number: 1, as for every file written before the line existed.
        int samples = 1;
        ScanIntegers(Utf8(ExtractBetween(text, kKeyAntialias, kEnd)), &samples, 1);
        picture.antialias = ClampToRange(samples, kMinAntialias, kMaxAntialias);
        ReadExactView(text, picture);
        ReadExtendedLimit(text, picture);
    }
    return fail(std::move(message));
}
