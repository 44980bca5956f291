#include "sweep.h"

#include <chrono>
#include <cstdio>
#include <fstream>

// The sweep: random formulas, views of each found as an explorer finds them, every one held to the
// oracle; what disagrees goes to a log as the command that shows it again.

namespace {

using Clock = std::chrono::steady_clock;

// Functions at a thousand bits make the oracle slow: such formulas get smaller pictures.
bool HasFunctions(const std::string& formula)
{
    for (const char* name :
        { "sin", "cos", "tan", "exp", "log", "sqrt", "^ 1.5", "^ 2.5", "^ 3.5", "cosh" }) {
        if (formula.find(name) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::string Command(const SweepView& v)
{
    std::string text = "glimmerset-deepsweep view '" + v.iteration + "' --term '" + v.termination + "' --max "
        + std::to_string(v.maxIter) + " --side " + std::to_string(v.side) + " --width " + v.width
        + " --center " + v.centreRe + "," + v.centreIm;
    for (const Complex& c : v.constants) {
        char pair[64];
        std::snprintf(pair, sizeof pair, " --c %.17g,%.17g", c.re, c.im);
        text += pair;
    }
    return text;
}

} // namespace

// More references than a view near a boundary should need.
constexpr int kManyReferences = 5;

SweepTotals RunSweep(double minutes, std::uint64_t seed, int side, int threads, const std::string& logPath)
{
    std::mt19937_64 rng(seed);
    const auto end = Clock::now() + std::chrono::duration<double, std::ratio<60>>(minutes);
    std::ofstream log(logPath, std::ios::app);
    SweepTotals totals;
    while (Clock::now() < end) {
        const FormulaSpec formula = RandomFormula(rng);
        ++totals.formulas;
        const int pictureSide = HasFunctions(formula.iteration) ? std::max(8, side * 3 / 4) : side;
        for (const SweepView& view : ViewsFor(formula, rng, pictureSide, 3)) {
            if (Clock::now() >= end) {
                break;
            }
            const SweepOutcome o = CheckView(view, threads, 2);
            if (!o.rendered) {
                continue;
            }
            ++totals.views;
            totals.pixels += o.pixels;
            totals.chaotic += o.chaotic;
            totals.wrong += static_cast<int>(o.wrong.size());
            std::printf("%-44s %-7s %-26s %4d px, %3d chaotic, %3zu wrong, %2d refs, %3d precise, %.2f s\n",
                view.iteration.substr(0, 44).c_str(), view.width.c_str(), view.note.c_str(), o.pixels,
                o.chaotic, o.wrong.size(), o.references, o.precisePixels, o.renderSeconds);
            std::fflush(stdout);
            if (!o.wrong.empty()) {
                ++totals.wrongViews;
                log << Command(view) << "\n";
                log.flush();
            } else if (o.references > kManyReferences) {
                // Right but slow: a view that keeps taking references is worth a look too.
                log << "# " << o.references << " references: " << Command(view) << "\n";
                log.flush();
            }
        }
    }
    return totals;
}
