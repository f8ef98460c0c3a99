#include "log/event_log.h"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "common/unique_handle.h"
#include "log/log_folder.h"
#include "log/log_texts.h"

namespace fs = std::filesystem;

namespace {

// Above this the current file becomes the previous generation.
constexpr std::uintmax_t rotationThreshold = 4194304;

std::int64_t utcMilliseconds() {
  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<std::int64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count());
}

// Best effort: when the previous generation cannot be replaced (for example
// it is held open elsewhere), records go on into the current file.
void rotate(const fs::path& dir, const fs::path& current) {
  const fs::path previous = dir / logText::previousLogFile;
  std::error_code ignored;
  fs::remove(previous, ignored);
  MoveFileExW(current.c_str(), previous.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
}

}  // namespace

void writeEvent(const std::string& event, nlohmann::json fields) {
  static std::mutex mutex;
  // Outside the handler: a failure to lock is the one failure callers see.
  const std::lock_guard<std::mutex> lock(mutex);
  try {
    // The first call of the process resolves the folder.
    const fs::path dir = preparedLogFolder();
    const fs::path file = dir / logText::currentLogFile;
    if (fs::exists(file) && fs::file_size(file) > rotationThreshold) {
      rotate(dir, file);
    }
    fields["event"] = event;
    fields["utcMs"] = utcMilliseconds();

    // Opened (and so created) before the record is serialised. Appends only,
    // shared as a C runtime stream would share it; a failed open is not an
    // error of its own: the write below then does nothing.
    const UniqueHandleKernel out(CreateFileW(file.c_str(), FILE_APPEND_DATA,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    // Strict serialisation: text that is not UTF-8 drops the whole record.
    // One write keeps the line and its LF together.
    const std::string line = fields.dump() + "\n";
    if (out.valid()) {
      DWORD written = 0;
      WriteFile(out.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
  } catch (...) {
    // Logging never stops a run.
  }
}
