#pragma once

#include <QByteArray>
#include <QString>

// The largest script file read: far beyond any script (a few hundred bytes, formulas of at most 1024
// tokens), far below memory.
inline constexpr qint64 kMaxScriptBytes = qint64 { 64 } << 20;

// The text of a script file: valid UTF-8 is read as UTF-8 (a byte-order mark is dropped), anything
// else as GB18030; every carriage return plus line feed becomes a line feed.
QString DecodeScriptText(const QByteArray& bytes);

// The bytes of a script file: GB18030, each line feed written as carriage return plus line feed.
QByteArray EncodeScriptText(const QString& text);

// The reader's one parsing routine: the text after the first startKey up to the first endKey after
// it. An empty startKey starts at 0, an empty endKey runs to the end; a key not found gives "".
QString ExtractBetween(const QString& text, const QString& startKey, const QString& endKey);
