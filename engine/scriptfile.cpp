#include "scriptfile.h"

#include "fractalscript.h"
#include "safefile.h"
#include "scriptnumbers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

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
const QString kEnd = QStringLiteral("}");

constexpr int kMaxConstantLines = 100;
constexpr int kMinImageSide = 100;
constexpr int kMaxImageSide = 4096;
constexpr int kMinIterations = 1;
constexpr int kMaxIterations = 10000;

QString ConstantKey(int number) { return QStringLiteral(u"常量%1{").arg(number, 2, 10, QLatin1Char('0')); }

QString Number(double value) { return QString::fromStdString(FormatScriptNumber(value)); }

std::string Utf8(const QString& text) { return text.toStdString(); }

// The text of a script file; false when it is not a regular file of a sane size.
bool ReadScriptText(const QString& path, QString& text)
{
    // Only a regular file of a sane size: no script is megabytes long.
    qint64 fileSize = 0;
    QString reason;
    const int fd = OpenRegularFile(path, fileSize, reason);
    if (fd < 0) {
        return false;
    }
    QFile file;
    if (fileSize > kMaxScriptBytes || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    // What is there when it is opened; a file that grows meanwhile is read to that size.
    const QByteArray bytes = file.read(fileSize);
    file.close();
    text = DecodeScriptText(bytes);
    return true;
}

} // namespace

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

bool CFractalScript::Save(const QString& path, QString* reason)
{
    const PaletteMapping m = GetMapping();
    QString text;
    text += kKeyVersion + QString::fromUtf8(kScriptVersion.data(), kScriptVersion.size()) + kEnd + '\n';
    text += kKeyIteration + QString::fromStdString(m_iterFormula.GetText()) + kEnd + '\n';
    text += kKeyTermination + QString::fromStdString(m_termFormula.GetText()) + kEnd + '\n';
    text += kKeyColour + QString::fromStdString(m_colorFormula.GetText()) + kEnd + '\n';
    // A relative palette name keeps naming the same file from the folder the script now goes to.
    const QString folder = QFileInfo(path).absolutePath();
    QString paletteName = m_strPaletteFile;
    if (!paletteName.isEmpty() && QDir::isRelativePath(paletteName)) {
        const QString file = QFileInfo(ResolvePalettePath(paletteName, m_strScriptFolder)).absoluteFilePath();
        if (QFileInfo(ResolvePalettePath(paletteName, folder)).absoluteFilePath() != file) {
            paletteName = QDir(folder).relativeFilePath(file);
        }
    }
    text += kKeyPalette + paletteName + kEnd + '\n';
    text += kKeyMapping + Number(m.x0) + ", " + Number(m.y0) + ", " + Number(m.dx) + ", " + Number(m.dy)
        + ", " + Number(m.sin) + ", " + Number(m.cos) + ", " + Number(m.stretch) + kEnd + '\n';
    text += kKeyOffset + Number(m_dOffsetX) + ", " + Number(m_dOffsetY) + kEnd + '\n';
    text += kKeyRatio + Number(m_dRatio) + kEnd + '\n';
    text += kKeyImageSize + QString::number(m_nImageWidth) + ", " + QString::number(m_nImageHeight) + kEnd
        + '\n';
    text += kKeyMaxIter + QString::number(m_nMaxIter) + kEnd + '\n';
    for (int k = 0; k < m_iterFormula.GetConstantCount(); ++k) {
        const Complex value = m_iterFormula.GetConstant(k);
        text += ConstantKey(k) + QString::fromStdString(m_iterFormula.GetConstantName(k)) + '='
            + Number(value.re) + ", " + Number(value.im) + kEnd + '\n';
    }

    // The old file is replaced only once the new one is complete.
    if (!WriteFileAtomically(path, EncodeScriptText(text), reason)) {
        return false;
    }
    {
        std::lock_guard lock(m_mutex);
        m_strPaletteFile = paletteName;
        m_strScriptFolder = folder;
    }
    m_bModified = false;
    return true;
}

bool CFractalScript::ReadPaletteName(const QString& path, QString& name)
{
    QString text;
    if (!ReadScriptText(path, text)) {
        return false;
    }
    name = ExtractBetween(text, kKeyPalette, kEnd);
    return true;
}

bool CFractalScript::Load(const QString& path, const DecodedPalette* palette)
{
    const auto fail = [this](const std::string& message) {
        SetLastError(message);
        return false;
    };
    QString text;
    if (!ReadScriptText(path, text)) {
        return fail("打开文件失败");
    }
    m_strScriptFolder = QFileInfo(path).absolutePath();

    if (ExtractBetween(text, kKeyVersion, kEnd)
        != QString::fromUtf8(kScriptVersion.data(), kScriptVersion.size())) {
        return fail("版本不正确");
    }
    std::string message;
    if (!SetFormulas(Utf8(ExtractBetween(text, kKeyIteration, kEnd)),
            Utf8(ExtractBetween(text, kKeyTermination, kEnd)), message)) {
        return fail(message);
    }
    if (!SetColorFormula(Utf8(ExtractBetween(text, kKeyColour, kEnd)), message)) {
        return fail(message);
    }
    // Loading the palette resets the mapping, which the next step reads.
    const QString paletteName = ExtractBetween(text, kKeyPalette, kEnd);
    const bool paletteLoaded = palette != nullptr && palette->name == paletteName
        ? SetDecodedPalette(*palette)
        : LoadPalette(paletteName);
    if (!paletteLoaded) {
        return fail("导入调色板失败");
    }

    // Converted values are stored as they are converted, so a failing step may have changed its
    // first members.
    double mapping[7];
    const int mapped = ScanNumbers(Utf8(ExtractBetween(text, kKeyMapping, kEnd)), mapping, 7);
    {
        std::lock_guard lock(m_mutex);
        double* const members[]
            = { &m_dMapX0, &m_dMapY0, &m_dMapDX, &m_dMapDY, &m_dMapSin, &m_dMapCos, &m_dMapStretch };
        for (int k = 0; k < mapped; ++k) {
            *members[k] = mapping[k];
        }
    }
    if (mapped < 7) {
        return fail("载入调色板映射失败");
    }
    double offset[2];
    const int offsets = ScanNumbers(Utf8(ExtractBetween(text, kKeyOffset, kEnd)), offset, 2);
    double ratio = 0.0;
    const int ratios = offsets < 2 ? 0 : ScanNumbers(Utf8(ExtractBetween(text, kKeyRatio, kEnd)), &ratio, 1);
    {
        std::lock_guard lock(m_mutex);
        m_dOffsetX = offsets > 0 ? offset[0] : m_dOffsetX;
        m_dOffsetY = offsets > 1 ? offset[1] : m_dOffsetY;
        m_dRatio = ratios > 0 ? ratio : m_dRatio;
    }
    if (offsets < 2) {
        return fail("载入复平面偏移失败");
    }
    if (ratios < 1) {
        return fail("载入比率失败");
    }
    // Sizes and limits that the setters would refuse are brought into their ranges: a size of 0
    // must never reach the preview size rule, which divides by it.
    int size[2];
    if (ScanIntegers(Utf8(ExtractBetween(text, kKeyImageSize, kEnd)), size, 2) < 2) {
        return fail("载入目标图像大小失败");
    }
    int maxIter = 0;
    const bool haveMaxIter = ScanIntegers(Utf8(ExtractBetween(text, kKeyMaxIter, kEnd)), &maxIter, 1) == 1;
    {
        std::lock_guard lock(m_mutex);
        m_nImageWidth = std::clamp(size[0], kMinImageSide, kMaxImageSide);
        m_nImageHeight = std::clamp(size[1], kMinImageSide, kMaxImageSide);
        if (haveMaxIter) {
            m_nMaxIter = std::clamp(maxIter, kMinIterations, kMaxIterations);
        }
    }
    if (!haveMaxIter) {
        return fail("载入最大迭代次数失败");
    }

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
            return fail("载入常量失败");
        }
        std::lock_guard lock(m_mutex);
        const int k = m_iterFormula.FindConstant(Utf8(name));
        if (k >= 0 && !m_iterFormula.SetConstant(k, { parts[0], parts[1] })) {
            m_strLastError = "载入常量失败";
            return false;
        }
    }
    m_nCurConst = m_iterFormula.GetConstantCount() > 0 ? 0 : -1;
    m_nStage.store(0);
    m_bModified = false;
    return true;
}
