#include "language.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QTranslator>

#include <algorithm>
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

QString InstallUserLanguage()
{
    const QString language = ChooseLanguage(QLocale::system().uiLanguages(), TranslatedLanguages());
    InstallLanguage(language);
    return s_strShown;
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
