#pragma once

#include "cli.h"

#include <sstream>
#include <string>
#include <vector>

// One run of the tool in this process: its exit status and what it wrote.
struct Outcome {
    int code;
    std::string out;
    std::string err;
};

inline Outcome Cli(std::vector<std::string> args)
{
    std::ostringstream out;
    std::ostringstream err;
    const int code = RunCommandLine(args, out, err);
    return { code, out.str(), err.str() };
}
