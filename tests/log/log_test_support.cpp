#include "log_test_support.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "common/text.h"
#include "trust/installed_client.h"
#include "trust/work_folder.h"

namespace logtest {

namespace fs = std::filesystem;

fs::path preferredFolder() {
  return knownFolderPath(FOLDERID_ProgramData) / L"Kavori" / L"Velmora" / currentUserSid();
}

fs::path fallbackFolder() {
  return knownFolderPath(FOLDERID_LocalAppData) / L"Kavori" / L"Velmora" / L"logs";
}

std::string unixPathOf(const fs::path& windowsPath) {
  const std::wstring text = windowsPath.wstring();
  if (text.size() >= 3 && (text[0] == L'C' || text[0] == L'c') && text[1] == L':') {
    // The prefix's C: drive is its drive_c folder.
    return testsupport::unixPath(testsupport::binaryDir() / L"wineprefix" / L"drive_c" /
                                 text.substr(3));
  }
  return testsupport::unixPath(windowsPath);
}

bool isReparsePoint(const fs::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

namespace {

bool entryExists(const fs::path& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A Linux program started from Wine reports no usable exit code, so callers
// poll for its effect.
void startUnixCommand(const std::wstring& program, const std::vector<std::string>& arguments) {
  std::wstring commandLine = program;
  for (const std::string& argument : arguments) {
    commandLine += L" " + quoteArgument(utf8ToWide(argument));
  }
  testsupport::ChildProcess command(L"", commandLine);
  command.wait();
}

}  // namespace

void plantLink(const fs::path& link, const fs::path& target) {
  startUnixCommand(L"Z:\\bin\\ln", {"-s", unixPathOf(target), unixPathOf(link)});
  ASSERT_TRUE(testsupport::waitUntil([&] { return isReparsePoint(link); }))
      << "no link at " << link.u8string();
}

void removeEntry(const fs::path& path) {
  if (isReparsePoint(path)) {
    // Windows-side removal of a Linux link is not to be trusted to spare
    // the target.
    startUnixCommand(L"Z:\\bin\\rm", {"-f", unixPathOf(path)});
    ASSERT_TRUE(testsupport::waitUntil([&] { return !entryExists(path); }))
        << "link still at " << path.u8string();
    return;
  }
  std::error_code error;
  fs::remove_all(path, error);
  ASSERT_FALSE(entryExists(path)) << "cannot remove " << path.u8string() << ": " << error.message();
}

void moveThroughLinux(const fs::path& from, const fs::path& to) {
  startUnixCommand(L"Z:\\bin\\mv", {unixPathOf(from), unixPathOf(to)});
  ASSERT_TRUE(testsupport::waitUntil([&] { return !entryExists(from) && entryExists(to); }))
      << "cannot move " << from.u8string();
}

void removeThroughLinux(const fs::path& path) {
  startUnixCommand(L"Z:\\bin\\rm", {"-rf", unixPathOf(path)});
  ASSERT_TRUE(testsupport::waitUntil([&] { return !entryExists(path); }))
      << "still at " << path.u8string();
}

bool isHeld(const fs::path& folder) {
  const UniqueHandleKernel probe(CreateFileW(
      folder.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return !probe.valid() && GetLastError() == ERROR_SHARING_VIOLATION;
}

fs::path vendorFolder() { return knownFolderPath(FOLDERID_ProgramData) / L"Kavori"; }
fs::path productFolder() { return vendorFolder() / L"Velmora"; }

namespace {

void clearLogPlaces() {
  for (const fs::path& parent : {vendorFolder(), productFolder()}) {
    if (isReparsePoint(parent)) {
      removeEntry(parent);
    }
  }
  if (isHeld(preferredFolder())) {
    std::vector<fs::path> entries;
    for (const fs::directory_entry& entry : fs::directory_iterator(preferredFolder())) {
      entries.push_back(entry.path());
    }
    for (const fs::path& entry : entries) {
      removeEntry(entry);
    }
  } else {
    removeEntry(preferredFolder());
  }
  removeEntry(fallbackFolder());
}

}  // namespace

CleanLogPlaces::CleanLogPlaces() { clearLogPlaces(); }
CleanLogPlaces::~CleanLogPlaces() { clearLogPlaces(); }

std::vector<nlohmann::json> readRecords(const fs::path& file) {
  std::vector<nlohmann::json> records;
  for (const std::string& line : testsupport::readLines(file)) {
    records.push_back(nlohmann::json::parse(line));
  }
  return records;
}

std::vector<std::string> eventsIn(const fs::path& file) {
  std::vector<std::string> events;
  for (const nlohmann::json& record : readRecords(file)) {
    events.push_back(record.at("event").get<std::string>());
  }
  return events;
}

namespace {

fs::path writerPath() {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  return fs::path(self).parent_path() / L"event_writer.exe";
}

}  // namespace

EventWriter::EventWriter(const std::string& name, const std::vector<std::wstring>& events)
    : control_(testsupport::freshTestFolder(name)), process_(writerPath().wstring(), [&] {
        std::wstring commandLine =
            quoteArgument(writerPath().wstring()) + L" " + quoteArgument(control_.wstring());
        for (const std::wstring& event : events) {
          commandLine += L" " + quoteArgument(event);
        }
        return commandLine;
      }()) {}

void EventWriter::writeNext() {
  const std::wstring index = std::to_wstring(next_++);
  testsupport::writeFile(control_ / (L"go-" + index), "");
  const fs::path done = control_ / (L"done-" + index);
  ASSERT_TRUE(testsupport::waitUntil([&] { return fs::exists(done); }))
      << "the writer did not write event " << next_ - 1;
}

unsigned long EventWriter::finish() { return process_.wait(); }

}  // namespace logtest
