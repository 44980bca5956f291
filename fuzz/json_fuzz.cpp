// Fuzzes new --from-json: the strict JSON reader and the script it describes.
//
// A text the reader takes is written out again by Qt's writer and read back to the same value. A
// script that reads is written as dump --json writes it, which reads back to the same text; the palette
// name it took must be one a script file holds.

#include "jsonparse.h"
#include "scriptjson.h"

#include "bignum.h"
#include "fractalscript.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// About 1e-10000, as a binary exponent.
constexpr long kFuzzedDeepestExponent = -33220;

void Require(bool condition, const char* what, const std::string& detail = {})
{
    if (!condition) {
        std::fprintf(stderr, "json_fuzz: %s %s\n", what, detail.c_str());
        std::abort();
    }
}

// The reader against itself: what it took, written by Qt (inside an array, which any value may
// stand in), reads back to the same value.
void CheckValue(const QByteArray& bytes)
{
    QJsonValue value;
    JsonProblem problem;
    if (!ParseJson(bytes, value, problem)) {
        Require(problem.offset >= 0 && problem.offset <= bytes.size() && !problem.what.empty(),
            "a refusal without its place or reason");
        return;
    }
    const QByteArray written = QJsonDocument(QJsonArray { value }).toJson(QJsonDocument::Compact);
    QJsonValue again;
    Require(ParseJson(written, again, problem), "Qt's writing of a value does not read:", problem.what);
    Require(again == QJsonValue(QJsonArray { value }), "a value changed on its way through Qt's writer",
        written.toStdString());
}

// Whether the JSON names an exact view far deeper than 1e-10000: the deepest views take their reader
// about a second even without sanitizers (their numbers need a million bits), which the tests of the
// limit cover.
bool FarTooDeep(const QByteArray& bytes)
{
    QJsonValue value;
    JsonProblem problem;
    if (!ParseJson(bytes, value, problem)) {
        return false;
    }
    const QJsonValue ratio = value.toObject().value(QStringLiteral("exact")).toArray().at(2);
    bool ok = false;
    const BigFloat number = BigFloat::Parse(ratio.toString().toStdString(), 64, &ok);
    return ok && !number.IsZero() && number.Exponent() < kFuzzedDeepestExponent;
}

void CheckScript(const QByteArray& bytes)
{
    if (FarTooDeep(bytes)) {
        return;
    }
    CFractalScript script;
    QString palette;
    std::string problem;
    std::vector<std::string> warnings;
    if (!ScriptFromJson(bytes, script, palette, problem, warnings)) {
        Require(!problem.empty(), "a refusal without its reason");
        return;
    }
    Require(ScriptLineProblem(script.TakeSnapshot(), palette).isEmpty(),
        "a name the script file cannot hold:", palette.toStdString());
    const std::string json = ScriptJson(script);
    CFractalScript again;
    Require(ScriptFromJson(QByteArray::fromStdString(json), again, palette, problem, warnings),
        "dump --json of a script does not read:", problem + "\n" + json);
    Require(ScriptJson(again) == json, "dump --json does not read back to itself:", json);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication* const app = new QCoreApplication(*argc, *argv);
    (void)app;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes
        = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    CheckValue(bytes);
    CheckScript(bytes);
    return 0;
}
