#include "jsonparse.h"

#include "cli.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <charconv>
#include <cstdio>
#include <set>

namespace {

constexpr char32_t kLastCodePoint = 0x10FFFF;
constexpr char32_t kFirstSurrogate = 0xD800;
constexpr char32_t kFirstLowSurrogate = 0xDC00;
constexpr char32_t kLastSurrogate = 0xDFFF;

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// A recursive descent over the bytes; m_nAt is the byte being looked at, and where a problem is.
class CJsonParser {
public:
    explicit CJsonParser(const QByteArray& text)
        : m_text(text)
    {
    }

    bool Parse(QJsonValue& value, JsonProblem& problem)
    {
        SkipSpace();
        bool parsed = Value(value, 0, std::string());
        if (parsed) {
            SkipSpace();
            parsed = AtEnd() || Fail(Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "text after the value")));
        }
        problem = m_problem;
        return parsed;
    }

private:
    bool Fail(std::string what)
    {
        m_problem = { m_nAt, std::move(what) };
        return false;
    }
    bool AtEnd() const { return m_nAt >= m_text.size(); }
    unsigned char Byte(qsizetype at) const
    {
        return at < m_text.size() ? static_cast<unsigned char>(m_text[at]) : 0;
    }
    void SkipSpace()
    {
        while (!AtEnd()
            && (Byte(m_nAt) == ' ' || Byte(m_nAt) == '\t' || Byte(m_nAt) == '\n' || Byte(m_nAt) == '\r')) {
            ++m_nAt;
        }
    }

    bool Value(QJsonValue& value, int depth, const std::string& path)
    {
        if (AtEnd()) {
            return Fail(Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "the text ends where a value should be")));
        }
        switch (Byte(m_nAt)) {
        case '{': return Object(value, depth + 1, path);
        case '[': return Array(value, depth + 1, path);
        case '"': {
            std::string text;
            if (!String(text)) {
                return false;
            }
            value = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
            return true;
        }
        case 't': return Literal("true", QJsonValue(true), value);
        case 'f': return Literal("false", QJsonValue(false), value);
        case 'n': return Literal("null", QJsonValue(QJsonValue::Null), value);
        default: return Number(value);
        }
    }

    bool Literal(std::string_view word, const QJsonValue& meaning, QJsonValue& value)
    {
        if (QByteArrayView(m_text).sliced(m_nAt).startsWith(QByteArrayView(word.data(), word.size()))) {
            m_nAt += static_cast<qsizetype>(word.size());
            value = meaning;
            return true;
        }
        return Fail(Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "not a JSON value")));
    }

    bool Object(QJsonValue& value, int depth, const std::string& path)
    {
        if (depth > kMaxJsonDepth) {
            return Fail(Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "nested deeper than %1"),
                { std::to_string(kMaxJsonDepth) }));
        }
        ++m_nAt;
        QJsonObject object;
        std::set<std::string> keys;
        SkipSpace();
        if (Byte(m_nAt) == '}') {
            ++m_nAt;
            value = object;
            return true;
        }
        for (;;) {
            SkipSpace();
            std::string key;
            const qsizetype keyAt = m_nAt;
            if (Byte(m_nAt) != '"') {
                return Fail(Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "a key (a string) should be here")));
            }
            if (!String(key)) {
                return false;
            }
            const std::string name = path.empty() ? key : path + "." + key;
            if (!keys.insert(key).second) {
                m_nAt = keyAt;
                return Fail(Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "'%1' is given twice"), { name }));
            }
            SkipSpace();
            if (Byte(m_nAt) != ':') {
                return Fail(Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "':' should follow a key")));
            }
            ++m_nAt;
            SkipSpace();
            QJsonValue member;
            if (!Value(member, depth, name)) {
                return false;
            }
            object.insert(QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size())), member);
            SkipSpace();
            if (Byte(m_nAt) == ',') {
                ++m_nAt;
                continue;
            }
            if (Byte(m_nAt) != '}') {
                return Fail(Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "',' or '}' should be here")));
            }
            ++m_nAt;
            value = object;
            return true;
        }
    }

    bool Array(QJsonValue& value, int depth, const std::string& path)
    {
        if (depth > kMaxJsonDepth) {
            return Fail(Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "nested deeper than %1"),
                { std::to_string(kMaxJsonDepth) }));
        }
        ++m_nAt;
        QJsonArray array;
        SkipSpace();
        if (Byte(m_nAt) == ']') {
            ++m_nAt;
            value = array;
            return true;
        }
        for (;;) {
            SkipSpace();
            QJsonValue element;
            if (!Value(element, depth, path + "[" + std::to_string(array.size()) + "]")) {
                return false;
            }
            array.append(element);
            SkipSpace();
            if (Byte(m_nAt) == ',') {
                ++m_nAt;
                continue;
            }
            if (Byte(m_nAt) != ']') {
                return Fail(Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "',' or ']' should be here")));
            }
            ++m_nAt;
            value = array;
            return true;
        }
    }

    // Four hexadecimal digits after "\u".
    bool Hex4(char32_t& unit)
    {
        unit = 0;
        for (int k = 0; k < 4; ++k) {
            const unsigned char c = Byte(m_nAt + 2 + k);
            const int digit = c >= '0' && c <= '9' ? c - '0'
                : c >= 'a' && c <= 'f'             ? c - 'a' + 10
                : c >= 'A' && c <= 'F'             ? c - 'A' + 10
                                                   : -1;
            if (digit < 0) {
                return Fail(Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "'\\u' needs four hexadecimal digits")));
            }
            unit = unit * 16 + static_cast<char32_t>(digit);
        }
        return true;
    }

    // An escape after the backslash at m_nAt; a surrogate must come as a pair.
    bool Escape(std::string& out)
    {
        static constexpr std::string_view kFrom = "\"\\/bfnrt";
        static constexpr std::string_view kTo = "\"\\/\b\f\n\r\t";
        const unsigned char c = Byte(m_nAt + 1);
        if (const size_t k = kFrom.find(static_cast<char>(c)); c != 0 && k != std::string_view::npos) {
            out += kTo[k];
            m_nAt += 2;
            return true;
        }
        char32_t unit = 0;
        if (c != 'u' || !Hex4(unit)) {
            return m_problem.what.empty() ? Fail(Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "not a JSON escape")))
                                          : false;
        }
        if (unit >= kFirstSurrogate && unit <= kLastSurrogate) {
            char32_t low = 0;
            const qsizetype high = m_nAt;
            m_nAt += 6;
            if (unit >= kFirstLowSurrogate || Byte(m_nAt) != '\\' || Byte(m_nAt + 1) != 'u' || !Hex4(low)
                || low < kFirstLowSurrogate || low > kLastSurrogate) {
                m_nAt = high;
                char text[8];
                std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(unit));
                return Fail(
                    Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "a lone surrogate \\u%1 in a string"), { text }));
            }
            unit = 0x10000 + ((unit - kFirstSurrogate) << 10) + (low - kFirstLowSurrogate);
        }
        AppendUtf8(out, unit);
        m_nAt += 6;
        return true;
    }

    // One UTF-8 character at m_nAt: the shortest form, no surrogate, nothing past U+10FFFF.
    bool Character(std::string& out)
    {
        const unsigned char lead = Byte(m_nAt);
        const int length = lead < 0x80     ? 1
            : lead >= 0xC2 && lead <= 0xDF ? 2
            : lead >= 0xE0 && lead <= 0xEF ? 3
            : lead >= 0xF0 && lead <= 0xF4 ? 4
                                           : 0;
        static constexpr char32_t kShortest[] = { 0, 0, 0x80, 0x800, 0x10000 };
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length; ++k) {
            const unsigned char next = Byte(m_nAt + k);
            if ((next & 0xC0) != 0x80) {
                return Fail(Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "not UTF-8")));
            }
            c = (c << 6) | (next & 0x3F);
        }
        if (length == 0 || c < kShortest[length] || c > kLastCodePoint
            || (c >= kFirstSurrogate && c <= kLastSurrogate)) {
            return Fail(Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "not UTF-8")));
        }
        out.append(m_text.constData() + m_nAt, static_cast<size_t>(length));
        m_nAt += length;
        return true;
    }

    bool String(std::string& out)
    {
        ++m_nAt;
        for (;;) {
            if (AtEnd()) {
                return Fail(Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "a string that does not end")));
            }
            const unsigned char c = Byte(m_nAt);
            if (c == '"') {
                ++m_nAt;
                return true;
            }
            if (c < 0x20) {
                return Fail(Tr(QT_TRANSLATE_NOOP(
                    "glimmerset-cli", "a control character in a string (write it as an escape)")));
            }
            if (!(c == '\\' ? Escape(out) : Character(out))) {
                return false;
            }
        }
    }

    bool Number(QJsonValue& value)
    {
        const qsizetype start = m_nAt;
        const auto digits = [this] {
            const qsizetype from = m_nAt;
            while (Byte(m_nAt) >= '0' && Byte(m_nAt) <= '9') {
                ++m_nAt;
            }
            return m_nAt > from;
        };
        if (Byte(m_nAt) == '-') {
            ++m_nAt;
        }
        const bool leadingZero = Byte(m_nAt) == '0' && Byte(m_nAt + 1) >= '0' && Byte(m_nAt + 1) <= '9';
        bool valid = !leadingZero && digits();
        if (valid && Byte(m_nAt) == '.') {
            ++m_nAt;
            valid = digits();
        }
        if (valid && (Byte(m_nAt) == 'e' || Byte(m_nAt) == 'E')) {
            ++m_nAt;
            if (Byte(m_nAt) == '+' || Byte(m_nAt) == '-') {
                ++m_nAt;
            }
            valid = digits();
        }
        if (!valid) {
            m_nAt = start;
            return Fail(Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "not a JSON value")));
        }
        double number = 0.0;
        const char* begin = m_text.constData() + start;
        if (std::from_chars(begin, m_text.constData() + m_nAt, number).ec != std::errc()) {
            const std::string text(begin, static_cast<size_t>(m_nAt - start));
            m_nAt = start;
            return Fail(Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "the number %1 is beyond what a double holds"),
                { text }));
        }
        value = number;
        return true;
    }

    const QByteArray& m_text;
    qsizetype m_nAt { 0 };
    JsonProblem m_problem;
};

} // namespace

bool ParseJson(const QByteArray& text, QJsonValue& value, JsonProblem& problem)
{
    return CJsonParser(text).Parse(value, problem);
}
