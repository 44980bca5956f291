#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <optional>
#include <string>
#include <vector>

// A command's options as the usual conventions have them, read by QCommandLineParser: "--name VALUE",
// "--name=VALUE", "-o VALUE" or "-oVALUE"; "--" ends the options, so that the next arguments are taken
// as they are; a lone "-" is an argument (standard input or output). Every command also has -h/--help
// and -V/--version. Options are named by their first name ("o", "size").
class CCommandOptions {
public:
    explicit CCommandOptions(const std::vector<QCommandLineOption>& options);

    // On a usage error returns false with the problem in error, naming the argument at fault.
    bool Parse(const std::vector<std::string>& args, std::string& error);

    bool Help() const { return m_parser.isSet(QStringLiteral("help")); }
    bool Version() const { return m_parser.isSet(QStringLiteral("version")); }
    bool Has(const QString& name) const { return m_parser.isSet(name); }
    // Whether the last Parse failed on an option the command does not have.
    bool HadUnknownOption() const { return !m_parser.unknownOptionNames().isEmpty(); }
    // The last value given for the option: when one is given twice, the last one counts.
    std::optional<std::string> Value(const QString& name) const;
    // Every value, in command-line order (repeatable options such as --set).
    std::vector<std::string> Values(const QString& name) const;
    std::vector<std::string> Positional() const;

private:
    std::string Problem(const std::vector<std::string>& args) const;
    const QCommandLineOption* Find(const QString& name) const;

    std::vector<QCommandLineOption> m_options;
    QCommandLineParser m_parser;
};

// Option constructors that read as the help texts do: Flag({ "code" }), Valued({ "o", "output" }, "IMAGE").
QCommandLineOption Flag(const QStringList& names);
QCommandLineOption Valued(const QStringList& names, const QString& valueName);
