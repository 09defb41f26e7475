// The two renderings of a status block: a short summary for people and a JSON
// object with every field, for the event log.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "console/status_block.h"

// "status <time>: N connected [+P pending] [+B bots] (humans=H)
//  [reservation=R] [self='name']", then a line of the quoted player names.
std::string status_summary(const StatusBlock& block);

// Every field of the block; "source_slot" and "self_name" only when present.
nlohmann::json status_json(const StatusBlock& block);
