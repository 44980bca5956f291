#include "options.h"

#include <algorithm>

bool ParsedOptions::Has(std::string_view flag) const
{
    return std::find(flags.begin(), flags.end(), flag) != flags.end();
}

const std::string* ParsedOptions::Value(std::string_view name) const
{
    for (auto it = values.rbegin(); it != values.rend(); ++it) {
        if (it->first == name) {
            return &it->second;
        }
    }
    return nullptr;
}

bool ParseOptions(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
    ParsedOptions& out, std::string& error)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            out.positional.insert(out.positional.end(), args.begin() + static_cast<long>(i) + 1, args.end());
            return true;
        }
        if (arg == "-h" || arg == "--help") {
            out.help = true;
            continue;
        }
        if (arg == "-V" || arg == "--version") {
            out.version = true;
            continue;
        }
        // "-" alone is an argument (standard input or output), not an option.
        if (arg.size() < 2 || arg[0] != '-') {
            out.positional.push_back(arg);
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const auto spec
            = std::find_if(specs.begin(), specs.end(), [&](const OptionSpec& s) { return s.name == name; });
        if (spec == specs.end()) {
            error = "unknown option '" + arg + "'";
            return false;
        }
        if (!spec->takesValue) {
            if (equals != std::string::npos) {
                error = "option '" + name + "' takes no value";
                return false;
            }
            out.flags.push_back(name);
        } else if (equals != std::string::npos) {
            out.values.emplace_back(name, arg.substr(equals + 1));
        } else if (i + 1 < args.size()) {
            out.values.emplace_back(name, args[++i]);
        } else {
            error = "option '" + name + "' needs a value";
            return false;
        }
    }
    return true;
}
