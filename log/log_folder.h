#pragma once

#include <filesystem>

// The log folder of this process, resolved on the first call and cached.
std::filesystem::path logFolder();

// ProgramData \ Kavori \ Velmora \ <SID> when it can be made and checked,
// else LocalAppData \ Kavori \ Velmora \ logs.
std::filesystem::path resolveLogFolder();
