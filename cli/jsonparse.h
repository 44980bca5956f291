#pragma once

#include <QByteArray>
#include <QJsonValue>

#include <string>

// How deep arrays and objects may nest in a JSON text the tool reads; a script needs three.
inline constexpr int kMaxJsonDepth = 64;

// Where and why a JSON text was refused: the byte it was found at, and what was found, in English.
struct JsonProblem {
    qsizetype offset { 0 };
    std::string what;
};

// Reads one JSON value (RFC 8259) strictly, so that nothing in the text is dropped or replaced
// without a word: UTF-8 throughout, no lone surrogate (\uD800) in a string, no key twice in one
// object (what names it: 'formulas.iteration' is given twice), nesting at most kMaxJsonDepth deep,
// numbers a double holds, nothing but white space after the value. Qt's own reader keeps the last of
// two keys and drops a lone surrogate. False, with the problem, on any of these.
bool ParseJson(const QByteArray& text, QJsonValue& value, JsonProblem& problem);
