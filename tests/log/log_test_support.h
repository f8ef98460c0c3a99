#pragma once

#include <filesystem>
#include <string>
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

// Both log places absent, as on a machine that never logged.
void resetLogFolders();

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
