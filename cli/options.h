#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A command's options as the usual conventions have them: "--name VALUE", "--name=VALUE" or a short
// "-o VALUE"; "--" ends the options, so that the next arguments are taken as they are.
struct OptionSpec {
    std::string_view name; // "--size", "-o"
    bool takesValue;
};

struct ParsedOptions {
    std::vector<std::pair<std::string, std::string>> values; // in command-line order, repeats kept
    std::vector<std::string> flags;
    std::vector<std::string> positional;
    bool help { false };
    bool version { false };

    bool Has(std::string_view flag) const;
    // The last value given for the option, or nullptr.
    const std::string* Value(std::string_view name) const;
};

// Fills out; on a usage error returns false with the problem in error.
bool ParseOptions(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
    ParsedOptions& out, std::string& error);
