// The options animate shares with render: the shard, the anti-aliasing, the threads and the PNG level.
#include "animate.h"

#include "antialias.h"
#include "exportworker.h"
#include "numbertext.h"
#include "renderpool.h"

#include <charconv>

namespace {

constexpr long long kMaxThreads = 256;

} // namespace

bool ParseWhole(std::string_view text, int& value)
{
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool ReadAntialias(const std::optional<std::string>& text, std::optional<int>& samples, std::string& problem)
{
    samples.reset();
    if (!text) {
        return true;
    }
    int value = 0;
    if (!ParseWhole(*text, value) || value < kMinAntialias || value > kMaxAntialias) {
        problem = "'--aa' needs a whole number from " + std::to_string(kMinAntialias) + " to "
            + std::to_string(kMaxAntialias) + ", not '" + *text + "'";
        return false;
    }
    samples = value;
    return true;
}

bool ReadThreadsAndPngLevel(const std::optional<std::string>& threads,
    const std::optional<std::string>& level, long long& pngLevel, std::string& problem)
{
    if (threads) {
        long long count = 0;
        if (!ParseCount(*threads, count) || count < 1 || count > kMaxThreads) {
            problem = "'--threads' needs a whole number from 1 to " + std::to_string(kMaxThreads) + ", not '"
                + *threads + "'";
            return false;
        }
        CRenderPool::Instance().SetThreads(static_cast<int>(count));
    }
    if (level && (!ParseCount(*level, pngLevel) || pngLevel > kMaxPngLevel)) {
        problem = "'--png-level' needs a whole number from 0 to 9, not '" + *level + "'";
        return false;
    }
    return true;
}

bool ReadShard(const std::optional<std::string>& shard, const std::optional<std::string>& shardCount,
    const std::function<const char*(const char*)>& getenv, Shard& result, std::string& problem)
{
    result = {};
    int count = 0;
    if (shardCount && (!ParseWhole(*shardCount, count) || count < 1)) {
        problem = "'--shard-count' needs a whole number of at least 1, not '" + *shardCount + "'";
        return false;
    }
    const auto check = [&](int index, int total, const std::string& what) {
        if (total < 1 || index < 0 || index >= total) {
            problem = what + " gives shard " + std::to_string(index) + "/" + std::to_string(total)
                + ", which is not one of 0/N to (N-1)/N";
            return false;
        }
        result.index = index;
        result.count = total;
        return true;
    };
    if (shard) {
        const size_t slash = shard->find('/');
        int index = 0;
        int total = 0;
        if (slash == std::string::npos || !ParseWhole(std::string_view(*shard).substr(0, slash), index)
            || !ParseWhole(std::string_view(*shard).substr(slash + 1), total)) {
            problem = "'--shard' needs K/N, such as 0/4, not '" + *shard + "'";
            return false;
        }
        return check(index, total, "'--shard " + *shard + "'");
    }
    const auto number = [&](const char* name, int& value) {
        const char* text = getenv(name);
        if (text == nullptr) {
            return false;
        }
        if (!ParseWhole(text, value)) {
            problem = std::string(name) + " is '" + text + "', not a whole number";
            value = -1;
        }
        return true;
    };
    int id = 0;
    int total = 0;
    if (number("SLURM_ARRAY_TASK_ID", id) && number("SLURM_ARRAY_TASK_COUNT", total)) {
        int first = 0;
        int step = 1;
        number("SLURM_ARRAY_TASK_MIN", first);
        number("SLURM_ARRAY_TASK_STEP", step);
        if (!problem.empty()) {
            return false;
        }
        if (step < 1 || (id - first) % step != 0) {
            problem = "SLURM_ARRAY_TASK_STEP " + std::to_string(step)
                + " does not lead from SLURM_ARRAY_TASK_MIN to SLURM_ARRAY_TASK_ID";
            return false;
        }
        result.source = "SLURM_ARRAY_TASK_ID";
        return check((id - first) / step, total, "the Slurm array");
    }
    if (!problem.empty()) {
        return false;
    }
    for (const auto& [name, base] :
        { std::pair { "JOB_COMPLETION_INDEX", 0 }, std::pair { "PARALLEL_SEQ", 1 } }) {
        if (!number(name, id)) {
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
        return check(id - base, count, name);
    }
    if (shardCount) {
        problem = "'--shard-count' needs JOB_COMPLETION_INDEX or PARALLEL_SEQ in the environment, or "
                  "'--shard K/N'";
        return false;
    }
    return true;
}
