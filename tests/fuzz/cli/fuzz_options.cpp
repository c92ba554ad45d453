// Feeds arbitrary command lines to the option parser of morvane-cli: the input is
// split at NUL bytes into arguments, and its first byte picks the command whose rules
// read them. Nothing may crash or hang; what the parser accepts must be what the rules
// allow, and what it refuses must be explained in one line. Every argument also goes
// through the JSON writer's escaping, which must give valid UTF-8 without raw control
// characters whatever bytes a file name holds.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/command_arguments.h"
#include "model/json.h"

using namespace morvane;
using namespace morvane::cli;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool ValidUtf8WithoutControls(const std::string& text) {
    for (size_t at = 0; at < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        if (lead < 32) return false;
        const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
        if (length == 0 || lead == 0xC0 || lead == 0xC1 || lead > 0xF4 || at + length > text.size()) return false;
        for (size_t i = 1; i < length; ++i)
            if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return false;
        at += length;
    }
    return true;
}

void CheckAccepted(const CommandRules& rules, const CommandLine& line) {
    Check(static_cast<int>(line.positionals.size()) >= rules.minPositionals);
    Check(static_cast<int>(line.positionals.size()) <= rules.maxPositionals);
    for (const std::string& positional : line.positionals) Check(!positional.empty());
    for (const auto& [name, given] : line.options) {
        const OptionRule* rule = nullptr;
        for (const OptionRule& r : rules.options)
            if (name == r.name) rule = &r;
        Check(rule != nullptr);
        Check(static_cast<int>(given.texts.size()) == rule->values);
        for (const std::string& text : given.texts) Check(!text.empty());
        for (double number : given.numbers) {
            Check(std::isfinite(number));
            if (rule->kind == ValueKind::Whole || rule->kind == ValueKind::Real)
                Check(number >= rule->min && number <= rule->max);
            if (rule->kind == ValueKind::Whole || rule->kind == ValueKind::Choice) Check(number == std::floor(number));
        }
        if (given.numbers.size() == 2) Check(given.numbers[1] > given.numbers[0]);
        if (rule->kind == ValueKind::EventList) {
            Check(!given.events.empty());
            for (int event : given.events) Check(event >= 0 && event <= kMaxEventNumber);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::span<const CommandRules> all = AllCommandRules();
    const CommandRules& rules = all[data[0] % all.size()];
    std::vector<std::string> args{rules.command};
    std::string current;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (size > 1) args.push_back(current);
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());

    CommandLine line;
    std::string error;
    if (ParseCommandLine(rules, static_cast<int>(argv.size()), argv.data(), &line, &error)) {
        CheckAccepted(rules, line);
    } else {
        Check(!error.empty() && error.size() < 400);
        Check(error.find('\n') == std::string::npos);
    }
    for (const std::string& arg : args) {
        std::string escaped;
        JsonEscape(escaped, arg, true);
        Check(ValidUtf8WithoutControls(escaped));
    }
    return 0;
}
