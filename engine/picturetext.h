#pragma once

#include <QByteArray>
#include <QString>

// The text a picture carries under a key: a PNG text chunk (tEXt, zTXt or iTXt) or a JPEG comment
// "KEY: TEXT", the last one of that key when there are several, as Qt's readers give it. Only the
// file's structure is walked: no pixel is decoded and nothing beside the text is held, so that a
// picture of any size costs the memory of its text. A text longer than maxBytes (after inflating a
// compressed chunk) is refused before it is read whole. BMP and GIF pictures carry no text.
// False, with the reason, when the file cannot be read or its structure is damaged where it was
// walked; true with an empty text when it holds no text of that key.
bool ReadPictureText(
    const QString& path, const QByteArray& key, qint64 maxBytes, QString& text, QString& reason);
