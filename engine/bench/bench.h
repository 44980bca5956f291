#pragma once

#include <string>

class CRenderPool;

// Makes the pool's renders run the code GLIMMERSET_JIT asks for: off measures the batched
// interpreter, avx2 or avx512 the code generated for that set for every formula; unset, the default.
// Every pool a benchmark renders with goes through it.
void UseBenchCode(CRenderPool& pool);

// The rates the speed benchmarks measure, kept for the summary table that main prints.
void RecordRate(const std::string& scene, const std::string& way, double millionIterationsPerSecond);

// Measures every scene in every way in interleaved rounds and records the rates.
void RunSpeedTable();
