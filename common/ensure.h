#pragma once

#include <string>

// The single failure check: throws std::runtime_error with
// message + " (" + GetLastError() + ")" when ok is false. Call it directly
// after the call whose failure it reports, on the same thread.
void ensure(bool ok, const std::string& message);
