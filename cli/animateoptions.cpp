// The options animate shares with render: the shard, the anti-aliasing, the threads and the PNG level.
#include "animate.h"

#include "cli.h"

#include "antialias.h"
#include "exportworker.h"
#include "fixedlimits.h"
#include "numbertext.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace {

constexpr long long kMaxThreads = 256;

} // namespace

bool ParseWhole(std::string_view text, int& value)
{
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool ReadSize(const std::string& text, int& width, int& height, std::string& problem)
{
    const size_t x = text.find_first_of("xX");
    if (x == std::string::npos || !ParseWhole(std::string_view(text).substr(0, x), width)
        || !ParseWhole(std::string_view(text).substr(x + 1), height) || std::min(width, height) < kMinToolSide
        || std::max(width, height) > kMaxToolSide) {
        problem = Tr(QT_TRANSLATE_NOOP(
                         "glimmerset-cli", "'--size' needs WIDTHxHEIGHT, each side from %1 to %2, not '%3'"),
            { std::to_string(kMinToolSide), std::to_string(kMaxToolSide), text });
        return false;
    }
    return true;
}

bool ReadAntialias(const std::optional<std::string>& text, std::optional<int>& samples, std::string& problem)
{
    samples.reset();
    if (!text) {
        return true;
    }
    int value = 0;
    if (!ParseWhole(*text, value) || value < kMinAntialias || value > kMaxAntialias) {
        problem
            = Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "'--aa' needs a whole number from %1 to %2, not '%3'"),
                { std::to_string(kMinAntialias), std::to_string(kMaxAntialias), *text });
        return false;
    }
    samples = value;
    return true;
}

bool ReadThreadsAndPngLevel(const std::optional<std::string>& threads,
    const std::optional<std::string>& level, int& threadCount, long long& pngLevel, std::string& problem)
{
    if (threads) {
        long long count = 0;
        if (!ParseCount(*threads, count) || count < 1 || count > kMaxThreads) {
            problem = Tr(QT_TRANSLATE_NOOP(
                             "glimmerset-cli", "'--threads' needs a whole number from 1 to %1, not '%2'"),
                { std::to_string(kMaxThreads), *threads });
            return false;
        }
        threadCount = static_cast<int>(count);
    }
    if (level && (!ParseCount(*level, pngLevel) || pngLevel > kMaxPngLevel)) {
        problem = Tr(
            QT_TRANSLATE_NOOP("glimmerset-cli", "'--png-level' needs a whole number from %1 to %2, not '%3'"),
            { std::to_string(kMinPngLevel), std::to_string(kMaxPngLevel), *level });
        return false;
    }
    return true;
}

namespace {

// Reads a shard from --shard or from the environment, keeping the first problem.
class CShardReader {
public:
    CShardReader(const std::function<const char*(const char*)>& getenv, Shard& result, std::string& problem)
        : m_getenv(getenv)
        , m_result(result)
        , m_problem(problem)
    {
    }

    // In 64 bits: the index may come from the difference of two ints.
    bool Check(long long index, int total, const std::string& what)
    {
        if (total < 1 || index < 0 || index >= total) {
            m_problem = Tr(QT_TRANSLATE_NOOP(
                               "glimmerset-cli", "%1 gives shard %2/%3, which is not one of 0/N to (N-1)/N"),
                { what, std::to_string(index), std::to_string(total) });
            return false;
        }
        m_result.index = static_cast<int>(index);
        m_result.count = total;
        return true;
    }

    // Whether the variable is set; when it is not a whole number in the range of an int, value is -1
    // and the problem says why.
    bool Number(const char* name, int& value)
    {
        const char* text = m_getenv(name);
        if (text == nullptr) {
            return false;
        }
        const std::string_view digits(text);
        const auto read = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (read.ec == std::errc::result_out_of_range && read.ptr == digits.data() + digits.size()) {
            m_problem = Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "%1 is '%2', out of range (%3 to %4)"),
                { name, text, std::to_string(std::numeric_limits<int>::min()),
                    std::to_string(std::numeric_limits<int>::max()) });
            value = -1;
        } else if (!ParseWhole(text, value)) {
            m_problem
                = Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "%1 is '%2', not a whole number"), { name, text });
            value = -1;
        }
        return true;
    }

    bool FromOption(const std::string& shard)
    {
        const size_t slash = shard.find('/');
        int index = 0;
        int total = 0;
        if (slash == std::string::npos || !ParseWhole(std::string_view(shard).substr(0, slash), index)
            || !ParseWhole(std::string_view(shard).substr(slash + 1), total)) {
            m_problem = Tr(
                QT_TRANSLATE_NOOP("glimmerset-cli", "'--shard' needs K/N, such as 0/4, not '%1'"), { shard });
            return false;
        }
        return Check(index, total, "'--shard " + shard + "'");
    }

    // A Slurm job array of which SLURM_ARRAY_TASK_ID and SLURM_ARRAY_TASK_COUNT were read.
    bool FromSlurm(int id, int total)
    {
        int first = 0;
        int step = 1;
        Number("SLURM_ARRAY_TASK_MIN", first);
        Number("SLURM_ARRAY_TASK_STEP", step);
        if (!m_problem.empty()) {
            return false;
        }
        const long long span = static_cast<long long>(id) - first;
        if (step < 1 || span % step != 0) {
            m_problem = Tr(QT_TRANSLATE_NOOP("glimmerset-cli",
                               "SLURM_ARRAY_TASK_STEP %1 does not lead from SLURM_ARRAY_TASK_MIN to "
                               "SLURM_ARRAY_TASK_ID"),
                { std::to_string(step) });
            return false;
        }
        m_result.source = "SLURM_ARRAY_TASK_ID";
        return Check(span / step, total, Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "the Slurm array")));
    }

private:
    const std::function<const char*(const char*)>& m_getenv;
    Shard& m_result;
    std::string& m_problem;
};

} // namespace

bool ReadShard(const std::optional<std::string>& shard, const std::optional<std::string>& shardCount,
    const std::function<const char*(const char*)>& getenv, Shard& result, std::string& problem)
{
    result = {};
    int count = 0;
    if (shardCount && (!ParseWhole(*shardCount, count) || count < 1)) {
        problem = Tr(QT_TRANSLATE_NOOP(
                         "glimmerset-cli", "'--shard-count' needs a whole number of at least 1, not '%1'"),
            { *shardCount });
        return false;
    }
    CShardReader read(getenv, result, problem);
    if (shard) {
        return read.FromOption(*shard);
    }
    int id = 0;
    int total = 0;
    if (read.Number("SLURM_ARRAY_TASK_ID", id) && read.Number("SLURM_ARRAY_TASK_COUNT", total)) {
        return read.FromSlurm(id, total);
    }
    if (!problem.empty()) {
        return false;
    }
    for (const auto& [name, base] :
        { std::pair { "JOB_COMPLETION_INDEX", 0 }, std::pair { "PARALLEL_SEQ", 1 } }) {
        if (!read.Number(name, id)) {
            continue;
        }
        if (!problem.empty()) {
            return false;
        }
        // GNU Parallel and Kubernetes run many commands that are no shards; only --shard-count
        // makes their number one.
        if (!shardCount) {
            return true;
        }
        result.source = name;
        return read.Check(static_cast<long long>(id) - base, count, name);
    }
    if (shardCount) {
        problem = Tr(QT_TRANSLATE_NOOP("glimmerset-cli",
            "'--shard-count' needs JOB_COMPLETION_INDEX or PARALLEL_SEQ in the environment, or '--shard "
            "K/N'"));
        return false;
    }
    return true;
}
