#pragma once

#include <string>

// The rates the speed benchmarks measure, kept for the summary table that main prints.
void RecordRate(const std::string& scene, const std::string& way, double millionIterationsPerSecond);

// Measures every scene in every way in interleaved rounds and records the rates.
void RunSpeedTable();
