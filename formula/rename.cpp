#include "formula.h"
#include "lexer.h"

#include <algorithm>

std::optional<std::string> RenameFormulaNames(
    std::string_view text, const std::vector<std::pair<std::string, std::string>>& renames)
{
    // The lexer's own reading of the text: a name is exactly what it enters as a variable or a
    // named constant, never a part of a function's name or of a number.
    CFormula scratch;
    CLexer lexer(text, scratch);
    std::vector<int32_t> tokens;
    std::string message;
    if (lexer.Lex(tokens, message) != kCompileOk) {
        return std::nullopt;
    }
    std::string renamed(text);
    const std::vector<TokenSpan>& spans = lexer.Spans();
    // From the end, so that earlier offsets stay valid.
    for (size_t k = tokens.size(); k-- > 0;) {
        if (tokens[k] < 0 || tokens[k] >= kFirstScratchSlot) {
            continue;
        }
        const std::string& name = scratch.GetSlotName(tokens[k]);
        const auto it = std::find_if(
            renames.begin(), renames.end(), [&name](const auto& rename) { return rename.first == name; });
        if (it != renames.end()) {
            renamed.replace(spans[k].offset, spans[k].length, it->second);
        }
    }
    return renamed;
}
