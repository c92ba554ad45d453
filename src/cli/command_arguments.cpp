#include "cli/command_arguments.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace morvane::cli {

namespace {

std::string NumberText(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

// The allowed values in words, for the error line.
std::string Expected(const OptionRule& rule) {
    switch (rule.kind) {
        case ValueKind::Whole:
            return "a whole number from " + NumberText(rule.min) + " to " + NumberText(rule.max);
        case ValueKind::Real:
            return std::string(rule.what) + " from " + NumberText(rule.min) + " to " + NumberText(rule.max);
        case ValueKind::Choice: {
            std::string list = rule.choices;
            for (size_t bar = list.find('|'); bar != std::string::npos; bar = list.find('|', bar))
                list.replace(bar, 1, ", ");
            return "one of " + list;
        }
        case ValueKind::EventList: return "event numbers (I,J,...)";
        case ValueKind::Text: break;
    }
    return rule.what;
}

// The position of `text` among the '|'-separated choices, or -1.
int ChoiceIndex(const char* choices, std::string_view text) {
    int index = 0;
    for (std::string_view rest = choices;; ++index) {
        const size_t bar = rest.find('|');
        if (rest.substr(0, bar) == text) return index;
        if (bar == std::string_view::npos) return -1;
        rest.remove_prefix(bar + 1);
    }
}

bool ReadValue(const OptionRule& rule, const std::string& text, GivenOption* given) {
    double number = 0.0;
    switch (rule.kind) {
        case ValueKind::Text: break;
        case ValueKind::Whole:
            if (!ParseWholeNumber(text, rule.min, rule.max, &number)) return false;
            given->numbers.push_back(number);
            break;
        case ValueKind::Real:
            if (!ParseRealNumber(text, rule.min, rule.max, &number)) return false;
            given->numbers.push_back(number);
            break;
        case ValueKind::Choice: {
            const int index = ChoiceIndex(rule.choices, text);
            if (index < 0) return false;
            given->numbers.push_back(index);
            break;
        }
        case ValueKind::EventList:
            if (!ParseEventList(text, &given->events)) return false;
            break;
    }
    given->texts.push_back(text);
    return !text.empty();
}

const OptionRule* FindRule(const CommandRules& rules, std::string_view name) {
    for (const OptionRule& rule : rules.options)
        if (name == rule.name) return &rule;
    return nullptr;
}

// A value shown in an error line: cut short, with control characters as '?', so one
// hostile argument still makes one readable line.
std::string Shown(std::string_view text) {
    std::string shown(text.substr(0, 80));
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 32 || c == 127) c = '?';
    return text.size() > 80 ? shown + "..." : shown;
}

bool ReadOption(const OptionRule& rule, int argc, const char* const* argv, int* at, CommandLine* line,
                std::string* error) {
    const std::string name = rule.name;
    if (line->options.count(name) != 0) {
        *error = name + " is given twice";
        return false;
    }
    if (*at + rule.values >= argc) {
        *error = name + (rule.values == 1 ? " needs a value" : " needs " + std::to_string(rule.values) + " values");
        return false;
    }
    GivenOption given;
    for (int v = 0; v < rule.values; ++v) {
        const std::string text = argv[++*at];
        if (!ReadValue(rule, text, &given)) {
            *error = name + " takes " + Expected(rule) + ", not '" + Shown(text) + "'";
            return false;
        }
    }
    // A pair of numbers is a stretch: it has to end after it starts.
    if (given.numbers.size() == 2 && !(given.numbers[1] > given.numbers[0])) {
        *error = name + " " + given.texts[0] + " " + given.texts[1] + " ends before it starts";
        return false;
    }
    line->options.emplace(name, std::move(given));
    return true;
}

}  // namespace

bool ParseWholeNumber(std::string_view text, double min, double max, double* out) {
    long long value = 0;
    const char* first = text.data();
    const char* last = first + text.size();
    // from_chars takes a leading '-' but no '+', spaces or base prefix: exactly what we allow.
    const auto [end, code] = std::from_chars(first, last, value, 10);
    if (text.empty() || code != std::errc() || end != last) return false;
    const double number = static_cast<double>(value);
    if (number < min || number > max) return false;
    *out = number;
    return true;
}

bool ParseRealNumber(std::string_view text, double min, double max, double* out) {
    double value = 0.0;
    const char* first = text.data();
    const char* last = first + text.size();
    // Locale-independent, and no hexadecimal; "inf" and "nan" parse but are not finite.
    const auto [end, code] = std::from_chars(first, last, value, std::chars_format::general);
    if (text.empty() || code != std::errc() || end != last || !std::isfinite(value)) return false;
    if (value < min || value > max) return false;
    *out = value;
    return true;
}

bool ParseEventList(const std::string& text, std::vector<int>* events) {
    std::vector<int> list;
    size_t at = 0;
    while (at <= text.size()) {
        const size_t comma = std::min(text.find(',', at), text.size());
        double value = 0.0;
        if (!ParseWholeNumber(std::string_view(text).substr(at, comma - at), 0, kMaxEventNumber, &value)) return false;
        list.push_back(static_cast<int>(value));
        at = comma + 1;
    }
    events->insert(events->end(), list.begin(), list.end());
    return !list.empty();
}

bool ParseCommandLine(const CommandRules& rules, int argc, const char* const* argv, CommandLine* line,
                      std::string* error) {
    *line = CommandLine{};
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.size() > 1 && arg[0] == '-') {
            const OptionRule* rule = FindRule(rules, arg);
            if (rule == nullptr) {
                *error = "unknown option '" + Shown(arg) + "'";
                return false;
            }
            if (!ReadOption(*rule, argc, argv, &i, line, error)) return false;
        } else if (arg.empty()) {
            *error = "an argument is empty";
            return false;
        } else if (static_cast<int>(line->positionals.size()) >= rules.maxPositionals) {
            *error = "unexpected argument '" + Shown(arg) + "'";
            return false;
        } else {
            line->positionals.emplace_back(arg);
        }
    }
    if (static_cast<int>(line->positionals.size()) < rules.minPositionals) {
        *error = "missing argument";
        return false;
    }
    return true;
}

bool HasOption(const CommandLine& line, std::string_view name) { return line.options.find(name) != line.options.end(); }

std::string OptionText(const CommandLine& line, std::string_view name, const std::string& fallback) {
    const auto found = line.options.find(name);
    return found == line.options.end() || found->second.texts.empty() ? fallback : found->second.texts[0];
}

double OptionNumber(const CommandLine& line, std::string_view name, double fallback, size_t index) {
    const auto found = line.options.find(name);
    if (found == line.options.end() || index >= found->second.numbers.size()) return fallback;
    return found->second.numbers[index];
}

std::vector<int> OptionEvents(const CommandLine& line, std::string_view name) {
    const auto found = line.options.find(name);
    return found == line.options.end() ? std::vector<int>{} : found->second.events;
}

}  // namespace morvane::cli
