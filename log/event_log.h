#pragma once

#include <nlohmann/json.hpp>

#include <string>

// Appends one JSON line to "client.jsonl" in the log folder, rotating to
// "client.previous.jsonl" above 4 MiB. Best effort: never throws except for
// a failure to lock its mutex.
void writeEvent(const std::string& event, nlohmann::json fields);
