#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "test_support.h"

// Where this prefix keeps the event log, and ways to put those places into
// the states that the tests need.
namespace logtest {

// ProgramData \ Kavori \ Velmora \ <SID of this user>.
std::filesystem::path preferredFolder();
// LocalAppData \ Kavori \ Velmora \ logs.
std::filesystem::path fallbackFolder();

// Linux path of a path on the prefix's C: drive or on Z:.
std::string unixPathOf(const std::filesystem::path& windowsPath);

bool isReparsePoint(const std::filesystem::path& path);

// Puts a Linux symbolic link at `link` (a junction as Windows programs see
// it) that points at the folder `target`.
void plantLink(const std::filesystem::path& link, const std::filesystem::path& target);

// Removes whatever stands at `path`: a link (not what it points at), a file
// or a folder with its contents.
void removeEntry(const std::filesystem::path& path);

// Renames from the Linux side, past any Windows share mode (the effect is
// awaited).
void moveThroughLinux(const std::filesystem::path& from, const std::filesystem::path& to);

// Removes a folder with its contents from the Linux side, past any Windows
// share mode (the effect is awaited).
void removeThroughLinux(const std::filesystem::path& path);

// Whether some process holds the folder open without delete sharing, as a
// process does with its log folder.
bool isHeld(const std::filesystem::path& folder);

// ProgramData \ Kavori and ProgramData \ Kavori \ Velmora.
std::filesystem::path vendorFolder();
std::filesystem::path productFolder();

// From construction to destruction, whatever the test does in between: no
// log folder in either place and no link at the shared parents, as on a
// machine that never logged. A log folder that this process holds (it does
// from its first event to its end) cannot go before the process does: it is
// emptied instead, and removeThroughLinux takes it away at the end.
class CleanLogPlaces {
 public:
  CleanLogPlaces();
  ~CleanLogPlaces();
  CleanLogPlaces(const CleanLogPlaces&) = delete;
  CleanLogPlaces& operator=(const CleanLogPlaces&) = delete;
};

// Removes what stands at `path` when the object goes, however the test ends.
class RemovedAtEnd {
 public:
  explicit RemovedAtEnd(std::filesystem::path path) : path_(std::move(path)) {}
  ~RemovedAtEnd() { removeEntry(path_); }
  RemovedAtEnd(const RemovedAtEnd&) = delete;
  RemovedAtEnd& operator=(const RemovedAtEnd&) = delete;

 private:
  std::filesystem::path path_;
};

// The records of a JSON-lines file, each line parsed.
std::vector<nlohmann::json> readRecords(const std::filesystem::path& file);

// The "event" members of a JSON-lines file, in order; empty when it is absent.
std::vector<std::string> eventsIn(const std::filesystem::path& file);

// A started helper process that writes the given events one at a time,
// each only once the test lets it.
class EventWriter {
 public:
  EventWriter(const std::string& name, const std::vector<std::wstring>& events);
  // Lets the helper write its next event and waits until it has.
  void writeNext();
  // Waits for the helper to end and returns its exit code.
  unsigned long finish();

 private:
  std::filesystem::path control_;
  int next_ = 0;
  testsupport::ChildProcess process_;
};

}  // namespace logtest
