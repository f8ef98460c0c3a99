#include "log/event_log.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>

#include "log/log_folder.h"
#include "log_test_support.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testsupport::readFile;
using testsupport::writeFile;

// Milliseconds since 1970 by the system's own clock, independent of the
// standard library's.
std::int64_t systemMilliseconds() {
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<std::int64_t>((ticks - 116444736000000000ull) / 10000);
}

// Compares file contents without printing megabytes on a mismatch.
::testing::AssertionResult sameContent(const std::string& actual, const std::string& expected) {
  if (actual == expected) {
    return ::testing::AssertionSuccess();
  }
  size_t first = 0;
  while (first < actual.size() && first < expected.size() && actual[first] == expected[first]) {
    ++first;
  }
  return ::testing::AssertionFailure()
         << actual.size() << " bytes instead of " << expected.size() << ", first difference at "
         << first << ": \"" << actual.substr(first, 80) << "\"";
}

// The process holds its log folder from the first event to its end, so the
// first test here starts without a folder and later ones with that folder
// emptied; the folder goes with the suite.
class EventLog : public ::testing::Test {
 protected:
  static void TearDownTestSuite() { logtest::removeThroughLinux(logtest::preferredFolder()); }
  void SetUp() override {
    folder_ = logFolder();
    ASSERT_EQ(folder_, logtest::preferredFolder());
  }

  fs::path current() const { return folder_ / L"client.jsonl"; }
  fs::path previous() const { return folder_ / L"client.previous.jsonl"; }

  logtest::CleanLogPlaces clean_;
  fs::path folder_;
};

TEST_F(EventLog, RecordIsOneCompactSortedLineOfRawUtf8) {
  json fields;
  fields["version"] = "2.1.0.5";
  fields["message"] = "ログを書き込めません\n\"引用\"";
  fields["exitCode"] = 3010;
  const std::int64_t before = systemMilliseconds();
  writeEvent("downloader_setup_finished", fields);
  const std::int64_t after = systemMilliseconds();

  const std::string content = readFile(current());
  ASSERT_FALSE(content.empty());
  EXPECT_EQ(content.find('\r'), std::string::npos);
  ASSERT_EQ(content.back(), '\n');
  const std::string line = content.substr(0, content.size() - 1);
  ASSERT_EQ(line.find('\n'), std::string::npos) << "more than one line: " << content;

  const json record = json::parse(line);
  ASSERT_TRUE(record.at("utcMs").is_number_integer());
  const std::int64_t utcMs = record.at("utcMs").get<std::int64_t>();
  EXPECT_GE(utcMs, before);
  EXPECT_LE(utcMs, after);
  EXPECT_EQ(line,
            "{\"event\":\"downloader_setup_finished\",\"exitCode\":3010,"
            "\"message\":\"ログを書き込めません\\n\\\"引用\\\"\",\"utcMs\":" +
                std::to_string(utcMs) + ",\"version\":\"2.1.0.5\"}");
}

TEST_F(EventLog, EventsAppendOneLineEachInOrder) {
  writeEvent("downloader_started", json::object());
  writeEvent("downloader_setup_not_required", {{"version", "1.0.0.0"}});
  writeEvent("downloader_gui_open_requested", json::object());

  const std::vector<std::string> lines = testsupport::readLines(current());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("{\"event\":\"downloader_started\",\"utcMs\":", 0), 0u) << lines[0];
  EXPECT_EQ(lines[0].back(), '}');
  EXPECT_EQ(logtest::eventsIn(current()),
            (std::vector<std::string>{"downloader_started", "downloader_setup_not_required",
                                      "downloader_gui_open_requested"}));
  EXPECT_FALSE(fs::exists(previous()));
}

TEST_F(EventLog, WriterValuesReplaceCallerFieldsOfTheSameName) {
  const std::int64_t before = systemMilliseconds();
  writeEvent("downloader_failed", {{"event", "forged"}, {"utcMs", "yesterday"}, {"message", "x"}});
  const std::int64_t after = systemMilliseconds();

  const std::vector<json> records = logtest::readRecords(current());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].at("event"), "downloader_failed");
  ASSERT_TRUE(records[0].at("utcMs").is_number_integer());
  EXPECT_GE(records[0].at("utcMs").get<std::int64_t>(), before);
  EXPECT_LE(records[0].at("utcMs").get<std::int64_t>(), after);
  EXPECT_EQ(records[0].at("message"), "x");
  EXPECT_EQ(records[0].size(), 3u);
}

TEST_F(EventLog, RotatesOnlyAboveFourMebibytes) {
  struct Case {
    std::uintmax_t size;
    bool rotated;
  };
  for (const Case& c : {Case{4194304, false}, Case{4194305, true}}) {
    SCOPED_TRACE(c.size);
    const std::string big(c.size, 'x');
    writeFile(current(), big);
    writeFile(previous(), "older generation\n");

    writeEvent("downloader_started", json::object());

    const std::string now = readFile(current());
    if (c.rotated) {
      EXPECT_TRUE(sameContent(readFile(previous()), big));
      EXPECT_EQ(logtest::eventsIn(current()), std::vector<std::string>{"downloader_started"});
      EXPECT_EQ(now.find('x'), std::string::npos);
    } else {
      EXPECT_EQ(readFile(previous()), "older generation\n");
      ASSERT_GT(now.size(), big.size());
      EXPECT_TRUE(sameContent(now.substr(0, big.size()), big));
      EXPECT_EQ(now.substr(big.size()).rfind("{\"event\":\"downloader_started\"", 0), 0u);
    }
  }
}

TEST_F(EventLog, LockedPreviousGenerationKeepsTheCurrentFileGrowing) {
  const std::string big = std::string(4194304, 'x') + "\n";
  writeFile(current(), big);
  writeFile(previous(), "older generation\n");
  {
    // Held open without delete sharing, as another program might.
    const UniqueHandleKernel lock(CreateFileW(previous().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                              nullptr));
    ASSERT_TRUE(lock.valid()) << GetLastError();

    EXPECT_NO_THROW(writeEvent("first", json::object()));
    EXPECT_NO_THROW(writeEvent("second", json::object()));

    const std::string grown = readFile(current());
    EXPECT_TRUE(sameContent(grown.substr(0, big.size()), big));
    const std::vector<std::string> lines = testsupport::readLines(current());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(json::parse(lines[1]).at("event"), "first");
    EXPECT_EQ(json::parse(lines[2]).at("event"), "second");
  }
  EXPECT_EQ(readFile(previous()), "older generation\n");

  // Once the lock is gone, the next event rotates the grown file.
  const std::string grown = readFile(current());
  writeEvent("third", json::object());
  EXPECT_TRUE(sameContent(readFile(previous()), grown));
  EXPECT_EQ(logtest::eventsIn(current()), std::vector<std::string>{"third"});
}

TEST_F(EventLog, RecordThatIsNotUtf8IsDroppedAlone) {
  struct Case {
    const char* what;
    std::string event;
    json fields;
  };
  const std::vector<Case> cases = {
      {"field value", "downloader_failed", {{"message", "\xC3\x28"}}},
      {"field name", "downloader_failed", {{"\xFF", "x"}}},
      {"event name", "downloader_\xE3\x81", json::object()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    logtest::removeEntry(current());
    writeEvent("before", json::object());
    EXPECT_NO_THROW(writeEvent(c.event, c.fields));
    writeEvent("after", json::object());

    EXPECT_EQ(logtest::eventsIn(current()), (std::vector<std::string>{"before", "after"}));
    EXPECT_EQ(readFile(current()).back(), '\n');
  }
}

TEST_F(EventLog, DirectoryInPlaceOfTheFileLosesEventsQuietly) {
  fs::create_directories(current());

  EXPECT_NO_THROW(writeEvent("downloader_started", json::object()));
  EXPECT_NO_THROW(writeEvent("downloader_failed", {{"message", "x"}}));

  EXPECT_TRUE(fs::is_directory(current()));
  EXPECT_TRUE(fs::is_empty(current()));
  EXPECT_FALSE(fs::exists(previous()));
}

TEST_F(EventLog, ConcurrentWritersProduceWholeLines) {
  constexpr int perThread = 40;
  // Records larger than any stream buffer, so an unserialised append would
  // interleave or overwrite.
  const std::string filler(16384, 'f');
  std::atomic<int> ready{0};
  auto writer = [&](const std::string& name) {
    ++ready;
    while (ready.load() < 2) {
      std::this_thread::yield();
    }
    for (int i = 0; i < perThread; ++i) {
      writeEvent(name, {{"sequence", i}, {"filler", filler}});
    }
  };
  std::thread first(writer, "first");
  std::thread second(writer, "second");
  first.join();
  second.join();

  const std::vector<std::string> lines = testsupport::readLines(current());
  ASSERT_EQ(lines.size(), 2u * perThread);
  int nextFirst = 0;
  int nextSecond = 0;
  for (const std::string& line : lines) {
    const json record = json::parse(line);
    EXPECT_TRUE(record.at("filler") == filler);
    int& next = record.at("event") == "first" ? nextFirst : nextSecond;
    EXPECT_EQ(record.at("sequence"), next);
    ++next;
  }
  EXPECT_EQ(nextFirst, perThread);
  EXPECT_EQ(nextSecond, perThread);
}

TEST_F(EventLog, ConcurrentWritersRotateOnce) {
  // Both writers find the file due for rotation; unserialised, the second
  // would delete the generation that the first has just moved aside.
  const std::string big = std::string(4194304, 'x') + "\n";
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    writeFile(current(), big);
    writeFile(previous(), "older generation\n");
    std::atomic<int> ready{0};
    auto writer = [&](const std::string& name) {
      ++ready;
      while (ready.load() < 2) {
        std::this_thread::yield();
      }
      writeEvent(name, json::object());
    };
    std::thread first(writer, "first");
    std::thread second(writer, "second");
    first.join();
    second.join();

    ASSERT_TRUE(sameContent(readFile(previous()), big));
    std::vector<std::string> events = logtest::eventsIn(current());
    std::sort(events.begin(), events.end());
    ASSERT_EQ(events, (std::vector<std::string>{"first", "second"}));
  }
}

}  // namespace
