// Writes events through the event log from a process of its own:
//
//   event_writer CONTROL-FOLDER EVENT...
//
// Event i (from 0) is written once CONTROL-FOLDER\go-i exists, and
// CONTROL-FOLDER\done-i is made after it. Each record carries the writer's
// process id as "pid".
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "common/text.h"
#include "log/event_log.h"

namespace fs = std::filesystem;

namespace {

bool waitFor(const fs::path& file) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (!fs::exists(file)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    return 2;
  }
  const fs::path control = argv[1];
  for (int index = 2; index < argc; ++index) {
    const std::wstring step = std::to_wstring(index - 2);
    if (!waitFor(control / (L"go-" + step))) {
      return 3;
    }
    writeEvent(wideToUtf8(argv[index]), {{"pid", GetCurrentProcessId()}});
    std::ofstream(control / (L"done-" + step)).close();
  }
  return 0;
}
