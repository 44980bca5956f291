#include "renderreport.h"

#include "cli.h"

#include "fractalscript.h"
#include "numbertext.h"

#include <QString>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kBarWidth = 30;

std::string Clock(double seconds)
{
    const long s = static_cast<long>(seconds);
    char text[32];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%02ld:%02ld", s / 60, s % 60);
    }
    return text;
}

} // namespace

// A JSON string: quotes, backslashes and control characters escaped; text that is not UTF-8 is
// replaced, so that the line always parses.
std::string JsonString(const std::string& text)
{
    const std::string utf8
        = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toStdString();
    std::string json = "\"";
    for (const char c : utf8) {
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            json += escaped;
        } else {
            json += c;
        }
    }
    return json + '"';
}

namespace {

const char* OutcomeName(ExportOutcome outcome)
{
    switch (outcome) {
    case ExportOutcome::Succeeded: return "success";
    case ExportOutcome::Cancelled: return "cancelled";
    case ExportOutcome::SaveFailed: return "save-failed";
    default: return "render-failed";
    }
}

} // namespace

// One line on the terminal, redrawn in place.
void ShowProgress(double progress, double elapsed)
{
    const int filled = static_cast<int>(std::clamp(progress, 0.0, 1.0) * kBarWidth);
    std::string bar(filled, '#');
    bar.resize(kBarWidth, ' ');
    const std::string left = progress > 0.0
        ? Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "%1 left"), { Clock(elapsed * (1.0 - progress) / progress) })
        : std::string();
    const std::string spent = Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "%1 elapsed"), { Clock(elapsed) });
    std::fprintf(stderr, "\r[%s] %3d%%  %s  %s   ", bar.c_str(), static_cast<int>(progress * 100.0),
        spent.c_str(), left.c_str());
    std::fflush(stderr);
}

void ClearProgress() { std::fprintf(stderr, "\r%*s\r", kBarWidth + 40, ""); }

std::string JsonFailure(const std::string& outcome, const std::string& message, const std::string& path)
{
    return "{\"outcome\":" + JsonString(outcome) + ",\"message\":" + JsonString(message)
        + ",\"path\":" + JsonString(path) + "}\n";
}

namespace {

// A deep view's figures, present only when the deep path rendered the picture.
std::string DeepKeys(const ExportReport& report)
{
    if (!report.deep) {
        return {};
    }
    return ",\"deep_references\":" + std::to_string(report.deepReferences) + ",\"deep_skipped_iterations\":"
        + std::to_string(report.deepSkipped) + ",\"deep_rebases\":" + std::to_string(report.deepRebases)
        + ",\"deep_precise_pixels\":" + std::to_string(report.deepPrecisePixels)
        + ",\"deep_reference_bits\":" + std::to_string(report.deepReferenceBits);
}

} // namespace

std::string JsonReport(const ExportReport& report, const std::string& message, const std::string& path)
{
    return "{\"outcome\":\"" + std::string(OutcomeName(report.outcome))
        + "\",\"message\":" + JsonString(message) + ",\"path\":" + JsonString(path)
        + ",\"width\":" + std::to_string(report.width) + ",\"height\":" + std::to_string(report.height)
        + ",\"iterations\":" + std::to_string(report.iterations) + ",\"threads\":"
        + std::to_string(report.threads) + ",\"render_seconds\":" + FormatShortest(report.renderSeconds)
        + ",\"encode_seconds\":" + FormatShortest(report.encodeSeconds)
        + ",\"total_seconds\":" + FormatShortest(report.totalSeconds) + DeepKeys(report) + "}\n";
}

std::string BatchJson(const std::string& script, const std::string& path, const std::string* reportLine,
    const std::string& problem)
{
    const std::string line = reportLine ? *reportLine : JsonFailure("script-failed", problem, path);
    return "{\"script\":" + JsonString(script) + "," + line.substr(1);
}
