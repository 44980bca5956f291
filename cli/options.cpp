#include "options.h"

#include "cli.h"

#include <QRegularExpression>

namespace {

std::vector<QCommandLineOption> WithHelpAndVersion(std::vector<QCommandLineOption> options)
{
    options.push_back(Flag({ QStringLiteral("h"), QStringLiteral("help") }));
    options.push_back(Flag({ QStringLiteral("V"), QStringLiteral("version") }));
    return options;
}

} // namespace

QCommandLineOption Flag(const QStringList& names) { return QCommandLineOption(names); }

QCommandLineOption Valued(const QStringList& names, const QString& valueName)
{
    return QCommandLineOption(names, QString(), valueName);
}

CCommandOptions::CCommandOptions(const std::vector<QCommandLineOption>& options)
    : m_options(WithHelpAndVersion(options))
{
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    for (const QCommandLineOption& option : m_options) {
        m_parser.addOption(option);
    }
}

bool CCommandOptions::Parse(const std::vector<std::string>& args, std::string& error)
{
    // parse(), not process(): a usage error must end with our exit status, not Qt's.
    QStringList list { QStringLiteral("glimmerset-cli") };
    for (const std::string& arg : args) {
        list.append(QString::fromStdString(arg));
    }
    if (m_parser.parse(list)) {
        return true;
    }
    error = Problem(args);
    return false;
}

const QCommandLineOption* CCommandOptions::Find(const QString& name) const
{
    for (const QCommandLineOption& option : m_options) {
        if (option.names().contains(name)) {
            return &option;
        }
    }
    return nullptr;
}

// The parser's own texts name a letter of "-2^2" or leave out the dashes; ours name the argument as
// it was typed.
std::string CCommandOptions::Problem(const std::vector<std::string>& args) const
{
    if (!m_parser.unknownOptionNames().isEmpty()) {
        for (const std::string& arg : args) {
            if (arg == "--") {
                break;
            }
            const QString text = QString::fromStdString(arg);
            if (text.startsWith(QStringLiteral("--"))) {
                if (!Find(text.mid(2).section(QLatin1Char('='), 0, 0))) {
                    return Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "unknown option '%1'"), { arg });
                }
            } else if (text.size() > 1 && text.startsWith(QLatin1Char('-'))) {
                // Compacted short options: letters until one that takes the rest as its value.
                for (qsizetype k = 1; k < text.size(); ++k) {
                    const QCommandLineOption* option = Find(text.mid(k, 1));
                    if (!option) {
                        return Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "unknown option '%1'"), { arg });
                    }
                    if (!option->valueName().isEmpty()) {
                        break;
                    }
                }
            }
        }
    }
    const QString text = m_parser.errorText();
    const QRegularExpressionMatch quoted = QRegularExpression(QStringLiteral("'([^']*)'")).match(text);
    const std::string name = quoted.captured(1).toStdString();
    if (text.startsWith(QStringLiteral("Missing value"))) {
        return Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "option '%1' needs a value"), { name });
    }
    if (text.startsWith(QStringLiteral("Unexpected value"))) {
        return Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "option '%1' takes no value"), { name });
    }
    return text.toStdString();
}

std::optional<std::string> CCommandOptions::Value(const QString& name) const
{
    const QStringList values = m_parser.values(name);
    if (values.isEmpty()) {
        return std::nullopt;
    }
    return values.last().toStdString();
}

std::vector<std::string> CCommandOptions::Values(const QString& name) const
{
    std::vector<std::string> values;
    for (const QString& value : m_parser.values(name)) {
        values.push_back(value.toStdString());
    }
    return values;
}

std::vector<std::string> CCommandOptions::Positional() const
{
    std::vector<std::string> positional;
    for (const QString& argument : m_parser.positionalArguments()) {
        positional.push_back(argument.toStdString());
    }
    return positional;
}
