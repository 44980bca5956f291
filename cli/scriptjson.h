#pragma once

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

class CPictureDocument;

// A number as JSON: the shortest round-trip form; "nan", "inf", "-inf" and "-0" as strings (a JSON
// reader takes -0 for the integer 0, losing the sign).
std::string JsonNumber(double value);

// A script's members as text that ordinary tools read, diff and generate (dump, new --from-json).

// One "key: value" line per member, values as the override options take them; a formula's further
// lines follow indented by two blanks.
std::string ScriptText(const CPictureDocument& script);

// The members as a JSON object: numbers in their shortest round-trip form, so that reading it back
// gives the same doubles and the script file the same bytes; "nan", "inf", "-inf" and "-0" as strings.
std::string ScriptJson(const CPictureDocument& script);

// A script from such JSON, starting from the default script: every key may be left out. The palette
// name is given back as the script file will store it. False with the problem on JSON that does not
// parse, an unknown key, a value of the wrong kind, a formula that does not compile (its message) or
// a constant the iteration formula lacks. Values the script brings into its ranges give warnings.
bool ScriptFromJson(const QByteArray& json, CPictureDocument& script, QString& paletteName,
    std::string& problem, std::vector<std::string>& warnings);
