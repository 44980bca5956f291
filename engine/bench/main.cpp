#include "bench.h"

#include "batchformula.h"
#include "renderpool.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

namespace {

std::map<std::string, std::map<std::string, std::vector<double>>>& Rates()
{
    static std::map<std::string, std::map<std::string, std::vector<double>>> rates;
    return rates;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// One table: every scene, every way, the median rate and its ratio to the plain loop and to the
// interpreter.
void PrintSummary()
{
    if (Rates().empty()) {
        return;
    }
    double reference = 0.0;
    for (const auto& [scene, ways] : Rates()) {
        if (ways.count("plain C++ loop")) {
            reference = Median(ways.at("plain C++ loop"));
        }
    }
    std::printf(
        "\nMedians of five rounds; 'x plain' is against the plain C++ loop of the default picture.\n");
    std::printf("%-38s %-24s %12s %10s %14s\n", "picture", "way", "Miter/s", "x plain", "x interpreter");
    for (const auto& [scene, ways] : Rates()) {
        const double interpreter = Median(
            ways.count("one-pixel interpreter") ? ways.at("one-pixel interpreter") : std::vector<double> {});
        for (const auto& [way, rates] : ways) {
            const double rate = Median(rates);
            std::printf("%-38s %-24s %12.1f %10.2f %14.2f\n", scene.c_str(), way.c_str(), rate,
                reference > 0 ? rate / reference : 0.0, interpreter > 0 ? rate / interpreter : 0.0);
        }
        if (ways.count("batched, 1 thread") && ways.count("batched, all threads")) {
            std::printf("%-38s all threads / 1 thread = %.2f\n", scene.c_str(),
                Median(ways.at("batched, all threads")) / Median(ways.at("batched, 1 thread")));
        }
    }
}

} // namespace

void UseBenchCode(CRenderPool& pool)
{
    if (const char* wanted = std::getenv("GLIMMERSET_JIT")) {
        const std::string text(wanted);
        pool.SetJitUse(text == "off" ? JitUse::Off
                : text == "avx2"     ? JitUse::Avx2
                : text == "avx512"   ? JitUse::Avx512
                                     : JitUse::Default);
    }
}

void RecordRate(const std::string& scene, const std::string& way, double rate)
{
    Rates()[scene][way].push_back(rate);
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // GLIMMERSET_KERNELS=sse2, avx2 or avx512 measures one set of batch kernels instead of the widest.
    if (const char* wanted = std::getenv("GLIMMERSET_KERNELS")) {
        for (const BatchKernels* kernels : AvailableBatchKernels()) {
            if (std::string(kernels->name) == wanted) {
                UseBatchKernels(*kernels);
            }
        }
    }
    std::printf("batch kernels: %s, generated code: %s\n", ActiveBatchKernels().name,
        std::getenv("GLIMMERSET_JIT") ? std::getenv("GLIMMERSET_JIT") : "default");
    // The table of the speed work runs unless only some benchmarks were asked for.
    bool filtered = false;
    for (int i = 1; i < argc; ++i) {
        filtered = filtered || std::string(argv[i]).starts_with("--benchmark_filter");
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!filtered) {
        Rates().clear();
        RunSpeedTable();
    }
    PrintSummary();
    return 0;
}
