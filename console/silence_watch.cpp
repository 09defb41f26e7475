#include "console/silence_watch.h"

#include "core/clock.h"

void silence_reset(SilenceWatch& watch, std::uint32_t now) {
    watch.last_growth = now;
    watch.warned = false;
}

void silence_note_growth(SilenceWatch& watch, std::uint32_t now) {
    silence_reset(watch, now);
}

bool silence_warning_due(SilenceWatch& watch, std::uint32_t now, bool on_map) {
    if (!on_map || watch.warned || ticks_since(now, watch.last_growth) < kSilenceWarnMs)
        return false;
    watch.warned = true;
    return true;
}
