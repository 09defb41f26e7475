#include "agent/gsi_silence.h"

#include "core/clock.h"
#include "core/event_log.h"

void tell_gsi_silence(GsiSilence& silence, EventLog& log, bool player_asked, bool have_gsi) {
    if (silence.told || !player_asked || have_gsi) return;
    // The log starts with the run: its clock is the run's age.
    const std::int64_t age_ms = (monotonic_ns() - log.start) / 1000000;
    if (age_ms < kGsiSilenceGraceMs) return;
    silence.told = true;
    log_event(log, "gsi_silent", {{"seconds", age_ms / 1000}},
              "gsi: CS2 has not sent any game state since the agent started.\n"
              "    CS2 reads the GSI cfg only when it starts: restart CS2 (quit it and start it\n"
              "    again) so the agent can follow the match.");
}
