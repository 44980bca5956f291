#pragma once

#include <QString>

class CWindowServices;
class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QWidget;

// Moves a dialog's fields into their members (Read) or back (Write), one call per field in a fixed
// order. A read stops at the first field that fails: the user sees the framework's message with the
// exclamation icon, the focus moves to the field, and every later call does nothing. Members already
// read keep their new values.
class CFieldExchange {
public:
    enum class Direction { Read, Write };

    CFieldExchange(QWidget* dialog, CWindowServices& services, Direction direction);

    // The texts of Integer and Number are those of the field functions in numbertext.h.
    bool Text(QPlainTextEdit* field, QString& value);
    // A decimal integer within [minimum, maximum].
    bool Integer(QLineEdit* field, int& value, int minimum, int maximum);
    // A decimal number; with bounds, within [minimum, maximum].
    bool Number(QLineEdit* field, double& value);
    bool Number(QLineEdit* field, double& value, double minimum, double maximum);
    bool Check(QCheckBox* field, int& value);

    // True while no field has failed.
    bool Ok() const { return !m_bFailed; }

private:
    bool Fail(QWidget* field, const QString& message);

    QWidget* m_dialog;
    CWindowServices& m_services;
    Direction m_direction;
    bool m_bFailed { false };
};

// The framework's field messages.
inline constexpr const char* kEnterInteger = "Please enter an integer.";
inline constexpr const char* kEnterNumber = "Please enter a number.";
inline constexpr const char* kEnterIntegerBetween = "Please enter an integer between %1 and %2.";
inline constexpr const char* kEnterNumberBetween = "Please enter a number between %1 and %2.";
