#include "picture.h"

namespace {

// Compiles text into formula; on failure the error of kind, its message after prefix.
bool Compiled(
    CFormula& formula, std::string_view text, FormulaKind kind, const char* prefix, FormulaError& error)
{
    std::string message;
    CompileDiagnostic where;
    if (formula.Compile(text, message, &where) == kCompileOk) {
        return true;
    }
    error = { kind, prefix + message, std::move(where), std::string(text) };
    return false;
}

} // namespace

FormulaError CompileFormulas(Picture& picture, std::string_view iterText, std::string_view termText)
{
    FormulaError error;
    if (!Compiled(picture.iterFormula, iterText, FormulaKind::Iteration, "迭代公式错误:", error)) {
        return error;
    }
    if (picture.iterFormula.FindVariable("z") < 0) {
        return { FormulaKind::Iteration, "迭代公式错误:未发现迭代变量", {}, std::string(iterText) };
    }
    Compiled(picture.termFormula, termText, FormulaKind::Termination, "终止条件公式错误:", error);
    return error;
}

FormulaError CompileColorFormula(Picture& picture, std::string_view text)
{
    FormulaError error;
    Compiled(picture.colorFormula, text, FormulaKind::Colour, "取色公式错误:", error);
    return error;
}
