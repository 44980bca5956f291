#pragma once

#include "picture.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <string>
#include <string_view>

// The version text of script files; a reader accepts only this.
inline constexpr std::string_view kScriptVersion = "Glimmerset0.01";

// The file a palette name stands for: an absolute name as it is; a relative one beside the script
// (scriptFolder) when such a file exists there, otherwise as given, against the working folder.
QString ResolvePalettePath(const QString& name, const QString& scriptFolder);

// The largest script file read: far beyond any script (a few hundred bytes, formulas of at most 1024
// tokens), far below memory.
inline constexpr qint64 kMaxScriptBytes = qint64 { 64 } << 20;

// The text of a script file: valid UTF-8 is read as UTF-8 (a byte-order mark is dropped), anything
// else as GB18030; every carriage return plus line feed becomes a line feed.
QString DecodeScriptText(const QByteArray& bytes);

// The bytes of a script file: GB18030, each line feed written as carriage return plus line feed.
QByteArray EncodeScriptText(const QString& text);
// Whether a text (the clipboard's) is meant as a script: it carries the version key every script starts
// with. The reader alone decides whether it reads.
bool LooksLikeScriptText(const QString& text);

// The reader's one parsing routine: the text after the first startKey up to the first endKey after
// it. An empty startKey starts at 0, an empty endKey runs to the end; a key not found gives "".
QString ExtractBetween(const QString& text, const QString& startKey, const QString& endKey);

// What the reader asks of its caller: the palette a script names installed into the picture being
// read (which puts the mapping back to the identity; the file's mapping follows). False: no palette.
using InstallPaletteFn = std::function<bool(const QString& name, Picture& picture)>;

// How far reading a script file came.
struct ScriptLoad {
    bool opened { false };       // the file was read: its folder is the script's from now on
    bool formulasRead { false }; // the formulas compiled: the picture has changed
    std::string error;           // the system's words; empty when the whole file was read
    std::string reason;          // why the file could not be read, when it could not (not translated)
    FormulaError formulaError;   // when a formula failed: which, where and what
};

// The key of the text an exported picture carries its script under (a PNG iTXt chunk, UTF-8, line
// feeds; a JPEG comment): the text SaveScript writes, before its encoding. EncodeScriptText of it
// gives exactly the bytes of the script file.
inline constexpr char kPictureScriptKey[] = "glimmerset-script";
// The load error of a picture that carries no script.
inline constexpr char kNoScriptInPicture[] = "图片中没有脚本";

// Reads a script file (".gsc"), or the script a picture carries (a PNG or JPEG file, found by its
// first bytes, decoded with the palette decoder's defences), into picture, item by item in the file's
// order. A failing item leaves the items before it (and the converted part of its own) in the picture.
ScriptLoad LoadScript(const QString& path, Picture& picture, const InstallPaletteFn& installPalette);

// Why name cannot stand as a palette or constant name in a script file: the reader takes a value up
// to the first "}" and each key where it first finds it, so a name holding "}", a key of the format
// (or a line break) would be cut short or bring items of its own. A phrase ("it holds a line
// break"); empty when the name can stand.
QString ScriptNameProblem(const QString& name);
// The same for what the script file of picture naming paletteName would hold, naming the field ("the
// palette name 'x' cannot be written to a script file: ..."); empty when the file can hold it all.
QString ScriptLineProblem(const Picture& picture, const QString& paletteName);

// The text of the script file of picture naming paletteName, line ends as line feeds: what SaveScript
// encodes, and what an exported picture carries.
QString ScriptText(const Picture& picture, const QString& paletteName);

// Writes the picture as a script file naming paletteName; the old file is replaced only once the new
// one is complete. On failure reason says why; a name the file cannot hold (ScriptLineProblem) is
// refused and nothing is written.
bool SaveScript(const QString& path, const Picture& picture, const QString& paletteName, QString* reason);

// The palette name a script file stores, without loading it; false when it cannot be read.
bool ReadScriptPaletteName(const QString& path, QString& name);

// A relative palette name as a script moved from one folder to another stores it, so that it keeps
// naming the same file; absolute and empty names, and names that still reach it, stay as they are.
QString PaletteNameFrom(const QString& name, const QString& fromFolder, const QString& toFolder);
