#include "picture.h"

FormulaError CompileFormulas(Picture& picture, std::string_view iterText, std::string_view termText)
{
    std::string message;
    if (picture.iterFormula.Compile(iterText, message) != kCompileOk) {
        return { FormulaKind::Iteration, "迭代公式错误:" + message };
    }
    if (picture.iterFormula.FindVariable("z") < 0) {
        return { FormulaKind::Iteration, "迭代公式错误:未发现迭代变量" };
    }
    if (picture.termFormula.Compile(termText, message) != kCompileOk) {
        return { FormulaKind::Termination, "终止条件公式错误:" + message };
    }
    return {};
}

FormulaError CompileColorFormula(Picture& picture, std::string_view text)
{
    std::string message;
    if (picture.colorFormula.Compile(text, message) != kCompileOk) {
        return { FormulaKind::Colour, "取色公式错误:" + message };
    }
    return {};
}
