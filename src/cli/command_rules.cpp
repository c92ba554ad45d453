// The options every command of morvane-cli takes, in one table, so that every command
// reads its numbers the same strict way.
#include <algorithm>

#include "cli/command_arguments.h"

namespace morvane::cli {

namespace {

// A timeline position or length in seconds: a million seconds is over eleven days.
constexpr double kMaxSeconds = 1000000.0;
constexpr double kMaxUint32 = 4294967295.0;

OptionRule Switch(const char* name) { return {name, 0, ValueKind::Text, 0, 0, nullptr, ""}; }
OptionRule TextOption(const char* name, const char* what) { return {name, 1, ValueKind::Text, 0, 0, nullptr, what}; }
OptionRule Whole(const char* name, double min, double max) { return {name, 1, ValueKind::Whole, min, max, nullptr, ""}; }
OptionRule Real(const char* name, int values, double min, double max, const char* what) {
    return {name, values, ValueKind::Real, min, max, nullptr, what};
}
OptionRule Choice(const char* name, const char* choices) { return {name, 1, ValueKind::Choice, 0, 0, choices, ""}; }
OptionRule Events(const char* name) { return {name, 1, ValueKind::EventList, 0, 0, nullptr, ""}; }
OptionRule Range() { return Real("--range", 2, 0.0, kMaxSeconds, "seconds"); }

const std::vector<CommandRules>& Rules() {
    static const std::vector<CommandRules> rules = {
        {"demo", 0, 0, {TextOption("--out", "a folder"), Switch("--force")}},
        {"scan", 1, 1, {Switch("--deep"), Whole("--threads", 1, 256)}},
        {"library", 1, 2, {Switch("--json")}},
        {"relink", 0, 0, {TextOption("--folder", "a folder")}},
        {"info", 1, 1, {Switch("--dump")}},
        {"trace", 1, 1,
         {TextOption("--project", "a project file"), Switch("--import"),
          Real("--sensitivity", 1, 0.0, 1.0, "a number")}},
        {"import-markers", 1, 1,
         {TextOption("--project", "a project file"), Real("--fps", 1, 1.0, 1000.0, "a frame rate")}},
        {"build", 1, 1,
         {Whole("--event", 0, kMaxEventNumber), Range(), Whole("--salt", 0, kMaxUint32),
          Whole("--seed", 0, kMaxUint32), Switch("--dry-run")}},
        {"export", 1, 1,
         {TextOption("--out", "a folder"), Switch("--mix"), Switch("--stems"), Switch("--tracks"), Switch("--clips"),
          Switch("--reverb-stem"), Choice("--lufs", "-14|-16|-18|-23"), Choice("--layout", "stereo|5.1|7.1.4|ambix"),
          Range(), Switch("--aaf"), Real("--handles", 1, 0.0, 3600.0, "seconds"), Switch("--full-source"),
          Real("--fade-in", 1, 0.0, 3600.0, "seconds"), Real("--fade-out", 1, 0.0, 3600.0, "seconds"), Switch("--snap"),
          Switch("--markers"), Switch("--clip-gain"), Switch("--source-channels"), Switch("--fill-virtual")}},
        {"variations", 1, 1, {Events("--events"), Whole("--count", 1, 100), TextOption("--out", "a folder")}},
        {"bounce", 1, 1, {Events("--events")}},
        {"revert-bounce", 1, 1, {Events("--event")}},
        {"render", 1, 1, {TextOption("--out", "a WAV file"), Range()}},
        {"play", 1, 1, {Real("--from", 1, 0.0, kMaxSeconds, "seconds")}},
    };
    return rules;
}

}  // namespace

std::span<const CommandRules> AllCommandRules() { return Rules(); }

const CommandRules* FindCommandRules(std::string_view command) {
    const std::vector<CommandRules>& rules = Rules();
    const auto found = std::find_if(rules.begin(), rules.end(), [&](const CommandRules& r) { return command == r.command; });
    return found == rules.end() ? nullptr : &*found;
}

}  // namespace morvane::cli
