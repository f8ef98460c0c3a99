#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Applies the command-line arguments (after the program path) left to right:
// "/silent" and "/verysilent" select headless mode, "/showui" window mode,
// ASCII case ignored. Anything else throws "指定された起動引数は使用できません。"
// at once; silent keeps the value it had at that moment.
void applyArguments(const std::vector<std::wstring>& arguments, bool& silent);

// The arguments of this process, without the program path.
std::vector<std::wstring> commandLineArguments();

// The whole start-up: mode choice, COM, common controls, the run; returns the
// process exit code.
int startDownloader(HINSTANCE instance);
