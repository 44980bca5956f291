#pragma once

#include "picture.h"

#include <QString>
#include <QStringList>

#include <string>

// The language the program shows. Its texts are written in Chinese (the source strings); other
// languages come from translations embedded in the programs (":/glimmerset/i18n/glimmerset_LANG.qm").
// Script file keys are file format and never translated.

// The languages translated from the Chinese source, as the embedded files name them ("en").
QStringList TranslatedLanguages();

// The language to show for the user's interface languages in order of preference
// (QLocale::uiLanguages(): "de-DE", "en", ...): the first one that is Chinese or has a translation
// in available, matched by its full name first, then by its language alone. Chinese ("zh_CN") when
// none matches, as for the "C" locale.
QString ChooseLanguage(const QStringList& uiLanguages, const QStringList& available);

// Installs the translation of language into the application (which must exist), replacing any
// installed before; Chinese installs none. Returns false when language has no translation.
bool InstallLanguage(const QString& language);

// The language chosen for the user's interface languages, installed. Returns its name.
QString InstallUserLanguage();
// The same choice, not installed (no application needs to exist).
QString UserLanguage();
// A text of context in language without installing anything: what a program says before it has an
// application (the window program's --help). Chinese, or a language without a translation, gives the
// text itself.
QString TranslateIn(const QString& language, const char* context, const char* text);

// The language installed last ("zh_CN" before any).
QString ShownLanguage();

// An engine message (the system's words, built from fixed texts such as "迭代公式错误:" and
// "非法字符", paths and numbers) in the shown language: each fixed text the message starts with is
// translated, the rest (a file name, a time, a code) is kept as it is.
QString TranslateMessage(const std::string& message);

// The line that follows a formula error's message: where and what ("第 1 行，第 13 列：未知的名称“D”：
// 常量名以 C 开头"), in the shown language; empty when the compiler could not point at a place.
QString FormulaErrorDetail(const FormulaError& error);
// The message and that line, as the window shows a formula error.
QString FormulaErrorText(const FormulaError& error);
// For a terminal: the formula's line with the offending text marked under it, each line indented by
// two blanks; empty without a place.
std::string FormulaErrorExcerpt(const FormulaError& error);
