#include "language.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QTranslator>

#include <algorithm>
#include <iterator>
#include <memory>

namespace {

const QString kChinese = QStringLiteral("zh_CN");
const QString kFolder = QStringLiteral(":/glimmerset/i18n");
const QString kPrefix = QStringLiteral("glimmerset_");

// The fixed texts the engine builds its messages from. Listed here, beside the message table of the
// formulas, so that the formulas stay free of Qt.
constexpr const char* kMessageContext = "Messages";
const char* const kFixedTexts[] = {
    QT_TRANSLATE_NOOP("Messages", "临时变量溢出"),
    QT_TRANSLATE_NOOP("Messages", "非法字符"),
    QT_TRANSLATE_NOOP("Messages", "变量溢出"),
    QT_TRANSLATE_NOOP("Messages", "常量溢出"),
    QT_TRANSLATE_NOOP("Messages", "缺少数据"),
    QT_TRANSLATE_NOOP("Messages", "未知运算符"),
    QT_TRANSLATE_NOOP("Messages", "编译错误"),
    QT_TRANSLATE_NOOP("Messages", "内部编译错误"),
    QT_TRANSLATE_NOOP("Messages", "错误的赋值语句"),
    QT_TRANSLATE_NOOP("Messages", "运算符号溢出"),
    QT_TRANSLATE_NOOP("Messages", "公式为空"),
    QT_TRANSLATE_NOOP("Messages", "迭代公式错误:"),
    QT_TRANSLATE_NOOP("Messages", "未发现迭代变量"),
    QT_TRANSLATE_NOOP("Messages", "终止条件公式错误:"),
    QT_TRANSLATE_NOOP("Messages", "取色公式错误:"),
    QT_TRANSLATE_NOOP("Messages", "载入调色板映射失败"),
    QT_TRANSLATE_NOOP("Messages", "载入复平面偏移失败"),
    QT_TRANSLATE_NOOP("Messages", "载入比率失败"),
    QT_TRANSLATE_NOOP("Messages", "载入目标图像大小失败"),
    QT_TRANSLATE_NOOP("Messages", "载入最大迭代次数失败"),
    QT_TRANSLATE_NOOP("Messages", "载入常量失败"),
    QT_TRANSLATE_NOOP("Messages", "打开文件失败"),
    QT_TRANSLATE_NOOP("Messages", "版本不正确"),
    QT_TRANSLATE_NOOP("Messages", "导入调色板失败"),
    QT_TRANSLATE_NOOP("Messages", "图片中没有脚本"),
    QT_TRANSLATE_NOOP("Messages", "导出成功！用时"),
    QT_TRANSLATE_NOOP("Messages", "保存文件失败！用时"),
    QT_TRANSLATE_NOOP("Messages", "导出已经被用户取消！用时"),
    QT_TRANSLATE_NOOP("Messages", "绘制失败！错误代码["),
    QT_TRANSLATE_NOOP("Messages", "]。用时"),
    QT_TRANSLATE_NOOP("Messages", "载入调色板失败!"),
};

// The compiler's words for what is wrong (ProblemMessage), the same texts as its table: the engine's
// language test checks that every one of them is here.
const char* const kProblemTexts[] = {
    QT_TRANSLATE_NOOP("Messages", "未知的名称“%1”：常量名以 C 开头"),
    QT_TRANSLATE_NOOP("Messages", "未知的名称“%1”：变量名以 z 或 V 开头"),
    QT_TRANSLATE_NOOP("Messages", "未知的函数“%1”"),
    QT_TRANSLATE_NOOP("Messages", "函数名“%1”后面要紧跟“(”"),
    QT_TRANSLATE_NOOP("Messages", "不能使用的字符“%1”"),
    QT_TRANSLATE_NOOP("Messages", "“!”后面要跟“=”：不等于写作 !="),
    QT_TRANSLATE_NOOP("Messages", "不完整的数“%1”"),
    QT_TRANSLATE_NOOP("Messages", "数后面直接跟着名称：请写作 %2"),
    QT_TRANSLATE_NOOP("Messages", "“%1”和“%2”之间缺少运算符"),
    QT_TRANSLATE_NOOP("Messages", "“%1”没有配对的“)”"),
    QT_TRANSLATE_NOOP("Messages", "“)”前面没有配对的“(”"),
    QT_TRANSLATE_NOOP("Messages", "运算符“%1”缺少运算数"),
    QT_TRANSLATE_NOOP("Messages", "“=”后面缺少值"),
    QT_TRANSLATE_NOOP("Messages", "函数“%1)”缺少参数"),
    QT_TRANSLATE_NOOP("Messages", "不能给常量“%1”赋值：公式只读取常量"),
    QT_TRANSLATE_NOOP("Messages", "只能给变量赋值，“%1”不是变量"),
    QT_TRANSLATE_NOOP("Messages", "表达式中间的“=”：相等比较写作 =="),
    QT_TRANSLATE_NOOP("Messages", "比较“%1”在这里要加括号"),
    QT_TRANSLATE_NOOP("Messages", "这里不能出现“%1”"),
    QT_TRANSLATE_NOOP("Messages", "语句留下了不止一个值：缺少运算符"),
    QT_TRANSLATE_NOOP("Messages", "记号超过 1024 个"),
    QT_TRANSLATE_NOOP("Messages", "数和中间结果超过 1024 个"),
    QT_TRANSLATE_NOOP("Messages", "变量超过 100 个：“%1”"),
    QT_TRANSLATE_NOOP("Messages", "常量超过 100 个：“%1”"),
    QT_TRANSLATE_NOOP("Messages", "指令超过 1024 条"),
};
// Where a formula error lies, before what is wrong there.
const char* const kWhereText = QT_TRANSLATE_NOOP("Messages", "第 %1 行，第 %2 列：%3");
static_assert(std::size(kProblemTexts) == static_cast<size_t>(FormulaProblem::kCount) - 1);

// %1 and %2 replaced in one pass, so that a quoted text holding "%1" stays as it is.
QString Filled(const QString& pattern, const QString& one, const QString& two)
{
    QString out;
    for (qsizetype k = 0; k < pattern.size(); ++k) {
        if (pattern.at(k) == QLatin1Char('%') && k + 1 < pattern.size()
            && (pattern.at(k + 1) == QLatin1Char('1') || pattern.at(k + 1) == QLatin1Char('2'))) {
            out += pattern.at(k + 1) == QLatin1Char('1') ? one : two;
            ++k;
        } else {
            out += pattern.at(k);
        }
    }
    return out;
}

QString s_strShown = kChinese;

std::unique_ptr<QTranslator>& Installed()
{
    static std::unique_ptr<QTranslator> translator;
    return translator;
}

// "en-US" -> "en_US"; the language alone is the part before the first '_'.
QString Normalised(QString name) { return name.replace(QLatin1Char('-'), QLatin1Char('_')); }

} // namespace

QStringList TranslatedLanguages()
{
    QStringList languages;
    const QStringList files
        = QDir(kFolder).entryList({ kPrefix + QStringLiteral("*.qm") }, QDir::Files, QDir::Name);
    for (const QString& file : files) {
        languages.append(file.mid(kPrefix.size(), file.size() - kPrefix.size() - 3));
    }
    return languages;
}

QString ChooseLanguage(const QStringList& uiLanguages, const QStringList& available)
{
    for (const QString& entry : uiLanguages) {
        const QString name = Normalised(entry);
        const QString language = name.section(QLatin1Char('_'), 0, 0);
        if (language.compare(QStringLiteral("zh"), Qt::CaseInsensitive) == 0) {
            return kChinese;
        }
        for (const QString& candidate : { name, language }) {
            const auto found = std::find_if(available.begin(), available.end(),
                [&candidate](const QString& a) { return a.compare(candidate, Qt::CaseInsensitive) == 0; });
            if (!candidate.isEmpty() && found != available.end()) {
                return *found;
            }
        }
    }
    return kChinese;
}

bool InstallLanguage(const QString& language)
{
    std::unique_ptr<QTranslator>& installed = Installed();
    if (installed) {
        QCoreApplication::removeTranslator(installed.get());
        installed.reset();
    }
    s_strShown = kChinese;
    if (language == kChinese) {
        return true;
    }
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(kPrefix + language, kFolder)
        || !QCoreApplication::installTranslator(translator.get())) {
        return false;
    }
    installed = std::move(translator);
    s_strShown = language;
    return true;
}

QString UserLanguage() { return ChooseLanguage(QLocale::system().uiLanguages(), TranslatedLanguages()); }

QString InstallUserLanguage()
{
    InstallLanguage(UserLanguage());
    return s_strShown;
}

QString TranslateIn(const QString& language, const char* context, const char* text)
{
    QTranslator translator;
    if (language == kChinese || !translator.load(kPrefix + language, kFolder)) {
        return QString::fromUtf8(text);
    }
    const QString translated = translator.translate(context, text);
    return translated.isEmpty() ? QString::fromUtf8(text) : translated;
}

QString ShownLanguage() { return s_strShown; }

QString TranslateMessage(const std::string& message)
{
    QString rest = QString::fromStdString(message);
    QString shown;
    for (;;) {
        // A number between two fixed texts ("绘制失败！错误代码[" 3 "]。用时") stays as it is.
        qsizetype digits = 0;
        while (digits < rest.size() && rest.at(digits).isDigit()) {
            ++digits;
        }
        // The longest fixed text first: a longer text may start with a shorter one.
        const char* longest = nullptr;
        qsizetype length = 0;
        for (const char* fixed : kFixedTexts) {
            const QString text = QString::fromUtf8(fixed);
            if (text.size() > length && rest.mid(digits).startsWith(text)) {
                longest = fixed;
                length = text.size();
            }
        }
        if (longest == nullptr) {
            return shown + rest;
        }
        shown += rest.left(digits) + QCoreApplication::translate(kMessageContext, longest);
        rest = rest.mid(digits + length);
    }
}

QString FormulaErrorDetail(const FormulaError& error)
{
    const CompileDiagnostic& where = error.where;
    if (where.line <= 0) {
        return {};
    }
    const QString what = Filled(QCoreApplication::translate(kMessageContext, ProblemMessage(where.problem)),
        QString::fromStdString(where.text), QString::fromStdString(where.other));
    return QCoreApplication::translate(kMessageContext, kWhereText)
        .arg(where.line)
        .arg(where.column)
        .arg(what);
}

QString FormulaErrorText(const FormulaError& error)
{
    const QString detail = FormulaErrorDetail(error);
    return TranslateMessage(error.message) + (detail.isEmpty() ? QString() : QLatin1Char('\n') + detail);
}

std::string FormulaErrorExcerpt(const FormulaError& error)
{
    const CompileDiagnostic& where = error.where;
    if (where.line <= 0 || where.offset > error.text.size()) {
        return {};
    }
    const std::string_view text = error.text;
    const size_t start = text.rfind('\n', where.offset == 0 ? 0 : where.offset - 1);
    const size_t from = start == std::string_view::npos || where.offset == 0 ? 0 : start + 1;
    size_t to = text.find('\n', where.offset);
    to = to == std::string_view::npos ? text.size() : to;
    std::string line(text.substr(from, to - from));
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
        line.pop_back();
    }
    std::replace(line.begin(), line.end(), '\t', ' '); // one character, one column: the mark stays under it
    // The mark: "^" under the first character, "~" under the rest of the marked text on this line.
    const auto characters = [](std::string_view part) {
        return static_cast<size_t>(std::count_if(
            part.begin(), part.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; }));
    };
    const size_t marked = characters(text.substr(where.offset, std::min(where.length, to - where.offset)));
    std::string mark(static_cast<size_t>(where.column - 1), ' ');
    mark += '^';
    mark.append(marked > 1 ? marked - 1 : 0, '~');
    return "  " + line + "\n  " + mark + "\n";
}
