// The README's first-run trap: the GSI cfg was written while CS2 was running,
// and CS2 reads it only when it starts, so no game state ever arrives. The
// player who asks for the room (or whose status block arrives) is told once.
#pragma once

#include <cstdint>

struct EventLog;

// CS2 posts at least every heartbeat (10 s in the agent's GSI cfg); a run
// younger than this has not missed one yet.
inline constexpr std::uint32_t kGsiSilenceGraceMs = 15000;

struct GsiSilence {
    bool told = false;
};

// Once per run: the player has asked (a room request or a status block), no
// valid GSI post has arrived since the start, and the run is older than the
// grace time. Logs "gsi_silent" with a plain explanation. Called every pass.
void tell_gsi_silence(GsiSilence& silence, EventLog& log, bool player_asked, bool have_gsi);
