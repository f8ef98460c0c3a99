#include "test_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "test_support.h"
#include "update/https_transfer.h"

namespace {

namespace fs = std::filesystem;
using testserver::Mode;
using testserver::Response;
using testserver::TestServer;

TEST(TestServer, StreamsAFileBodyAndAppliesEachNewScenario) {
  const fs::path folder = testsupport::freshTestFolder("test-server-file");
  // Larger than any single chunk and not a multiple of the pattern period.
  const std::string bytes = testserver::generatedBody(5 * 1024 * 1024 + 3);
  const fs::path source = folder / L"source.bin";
  testsupport::writeFile(source, bytes);

  TestServer server;
  server.start(Mode::https);
  server.setRoute("/download", Response::file(source));
  const fs::path received = folder / L"received.bin";
  EXPECT_EQ(fetchUrl(server.url("/download"), received, bytes.size(), {}).statusCode, 200u);
  EXPECT_TRUE(testsupport::readFile(received) == bytes);

  server.setRoute("/download", Response::text("replaced", 203));
  const TransferResult replaced = fetchUrl(server.url("/download?x=1"), {}, 1024, {});
  EXPECT_EQ(replaced.statusCode, 203u);
  server.clearRoutes();
  EXPECT_EQ(fetchUrl(server.url("/download"), {}, 1024, {}).statusCode, 404u);

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].target, "/download?x=1");
}

TEST(TestServer, ATakenPortIsReportedWithTheServersReason) {
  TestServer first;
  first.start(Mode::http);
  TestServer second;
  try {
    second.start(Mode::http, first.port());
    ADD_FAILURE() << "a second server bound port " << first.port();
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("in use"), std::string::npos) << error.what();
  }
  // The first one still answers.
  first.setRoute("/", Response::text("first"));
  EXPECT_EQ(fetchUrl(first.origin(), {}, 1024, {}).body, "first");
}

TEST(TestServer, EndsByItselfAfterItsLifetime) {
  TestServer server;
  server.start(Mode::http, 0, 1);
  EXPECT_TRUE(testsupport::waitUntil(
      [&] { return fs::exists(server.controlFolder() / L"stopped"); }, std::chrono::seconds(30)));
}

}  // namespace
