#pragma once
// Reading the arguments of a command: one parser for every command of morvane-cli,
// driven by a table of the options each command takes. Every value is checked whole
// (no trailing text, no hexadecimal, no "inf" or "nan") and against its range before
// a command sees it, so a command never acts on a number it did not ask for.
//
// Parsing prints nothing and never ends the process (the caller reports the error),
// so it can be driven by tests and fuzzers. Any thread may call these; they keep no state.
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::cli {

enum class ValueKind {
    Text,       // any text but the empty one
    Whole,      // a whole number in decimal digits, within min .. max
    Real,       // a finite decimal number within min .. max
    Choice,     // one of `choices`; its number is the choice's position (0-based)
    EventList,  // "3,5,8": event numbers from 0 to kMaxEventNumber
};

inline constexpr int kMaxEventNumber = 1000000;

struct OptionRule {
    const char* name;  // "--range"
    int values = 0;    // values that follow the name: 0 (a switch), 1 or 2 (two numbers: a stretch, START < END)
    ValueKind kind = ValueKind::Text;
    double min = 0.0, max = 0.0;    // Whole and Real, both allowed
    const char* choices = nullptr;  // Choice: the allowed texts, separated by '|'
    const char* what = "a value";   // how an error names the value: "seconds", "a folder"
};

struct CommandRules {
    const char* command;  // "build"
    int minPositionals = 0, maxPositionals = 0;
    std::vector<OptionRule> options;
};

// What one given option held, value by value.
struct GivenOption {
    std::vector<std::string> texts;
    std::vector<double> numbers;  // Whole, Real and Choice values
    std::vector<int> events;      // an EventList value
};

struct CommandLine {
    std::vector<std::string> positionals;
    std::map<std::string, GivenOption, std::less<>> options;  // by option name
};

// Reads argv[1 .. argc-1] (argv[0] is the command name) by `rules`. False, with a
// one-line `error` such as "--event takes a whole number from 0 to 1000000, not '1e10'",
// for an unknown option, a missing, empty, malformed or out-of-range value, an option
// given twice, or too few or too many other arguments.
bool ParseCommandLine(const CommandRules& rules, int argc, const char* const* argv, CommandLine* line,
                      std::string* error);

// The rules of every command of morvane-cli, and those of one by name (null when none).
std::span<const CommandRules> AllCommandRules();
const CommandRules* FindCommandRules(std::string_view command);

bool HasOption(const CommandLine& line, std::string_view name);
// Value `index` of the option as text / as a number; `fallback` when it was not given.
std::string OptionText(const CommandLine& line, std::string_view name, const std::string& fallback = "");
double OptionNumber(const CommandLine& line, std::string_view name, double fallback, size_t index = 0);
std::vector<int> OptionEvents(const CommandLine& line, std::string_view name);

// "3,5,8" -> {3, 5, 8}; false for anything that is not a list of event numbers.
bool ParseEventList(const std::string& text, std::vector<int>* events);

// Strict readers of one number: the whole text, in range, finite.
bool ParseWholeNumber(std::string_view text, double min, double max, double* out);
bool ParseRealNumber(std::string_view text, double min, double max, double* out);

}  // namespace morvane::cli
