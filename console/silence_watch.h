// The watchdog that notices a console.log that stopped growing while GSI
// reports a map: CS2 was started without -condebug, or writes elsewhere.
#pragma once

#include <cstdint>

inline constexpr std::uint32_t kSilenceWarnMs = 60000;

struct SilenceWatch {
    std::uint32_t last_growth = 0;   // tick count of the last poll with lines
    bool warned = false;             // warned since the log last grew
};

void silence_reset(SilenceWatch& watch, std::uint32_t now);
// A poll brought lines.
void silence_note_growth(SilenceWatch& watch, std::uint32_t now);
// True once per silence: GSI is on a map and the log has not grown for 60 s.
// Marks the warning as given.
bool silence_warning_due(SilenceWatch& watch, std::uint32_t now, bool on_map);
