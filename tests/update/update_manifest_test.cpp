#include "update/update_manifest.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using nlohmann::json;

const char* const validDigest = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

json validManifest() {
  return {{"available", true},
          {"product", "NorvantaWin"},
          {"latestVersion", "2.2611.26321.2238"},
          {"sha256", validDigest},
          {"sizeBytes", 1048576},
          {"downloadPath", "/rss/v2/client/client-updates/norvanta-win/download"}};
}

// The valid manifest with some members replaced (or removed, for a
// discarded value) and returned as the text the server would send.
std::string manifestWith(std::initializer_list<std::pair<const char*, json>> changes) {
  json manifest = validManifest();
  for (const auto& [name, value] : changes) {
    if (value.is_discarded()) {
      manifest.erase(name);
    } else {
      manifest[name] = value;
    }
  }
  return manifest.dump();
}
const json removed = json(json::value_t::discarded);

enum class Outcome { accepted, ownError, typeError, parseError };

struct Case {
  const char* name;
  std::string text;
  Outcome outcome;
  std::string message;  // own message before the suffix, or the library's text
};

Case accepted(const char* name, std::string text) {
  return {name, std::move(text), Outcome::accepted, ""};
}
Case refused(const char* name, std::string text, const char* message) {
  return {name, std::move(text), Outcome::ownError, message};
}

const char* const notAvailable = "NorvantaWinのインストーラは現在配布されていません。";
const char* const otherProduct = "別製品の配布情報は使用できません。";
const char* const badVersion = "配布バージョンが不正です。";
const char* const invalidVersion = "Invalid version";
const char* const badDigest = "配布ファイルのハッシュ情報が不正です。";
const char* const badSize = "配布サイズが不正です。";
const char* const sizeOverLimit = "配布サイズが上限を超えています。";
const char* const pathNotAllowed = "許可されていないダウンロード先です。";

std::vector<Case> cases() {
  const std::string digest = validDigest;
  std::string oneBadDigit = digest;
  oneBadDigit[40] = 'g';
  std::string upperDigest = digest;
  for (char& c : upperDigest) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  const std::string path = "/rss/v2/client/client-updates/norvanta-win/download";
  return {
      accepted("valid", validManifest().dump()),
      accepted("unlisted members ignored",
               R"({"available":true,"product":"NorvantaWin","latestVersion":"1.0.0.0",)"
               R"("sha256":")" +
                   digest + R"(","sizeBytes":1,"downloadPath":")" + path +
                   R"(","Available":false,"extra":{"x":[1,2]},"product ":"other"})"),

      // Rule 1: an installer on offer.
      refused("array", "[1,2]", notAvailable),
      refused("string", R"("NorvantaWin")", notAvailable),
      refused("null", "null", notAvailable),
      refused("number", "1", notAvailable),
      refused("empty object", "{}", notAvailable),
      refused("available missing", manifestWith({{"available", removed}}), notAvailable),
      refused("available false", manifestWith({{"available", false}}), notAvailable),
      refused("available false, all else wrong",
              R"({"available":false,"product":"x","latestVersion":"1","sha256":"","sizeBytes":0,)"
              R"("downloadPath":"/"})",
              notAvailable),
      {"available a string", manifestWith({{"available", "true"}}), Outcome::typeError,
       "type must be boolean, but is string"},
      {"available a number", manifestWith({{"available", 1}}), Outcome::typeError,
       "type must be boolean, but is number"},
      {"available null", manifestWith({{"available", nullptr}}), Outcome::typeError,
       "type must be boolean, but is null"},
      {"not JSON", "available=true", Outcome::parseError, "syntax error"},
      {"comment", "{/* x */\"available\":true}", Outcome::parseError, "syntax error"},

      // Rule 2: this product.
      refused("product other case", manifestWith({{"product", "norvantawin"}}), otherProduct),
      refused("product trailing blank", manifestWith({{"product", "NorvantaWin "}}), otherProduct),
      refused("product missing", manifestWith({{"product", removed}}), otherProduct),
      refused("product not a string", manifestWith({{"product", 1}}), otherProduct),
      refused("product wrong before version wrong",
              manifestWith({{"product", "Other"}, {"latestVersion", "x"}}), otherProduct),

      // Rule 3: a four-part version.
      accepted("version 0.0.0.0", manifestWith({{"latestVersion", "0.0.0.0"}})),
      accepted("version 65535.65535.65535.65535",
               manifestWith({{"latestVersion", "65535.65535.65535.65535"}})),
      refused("version three parts", manifestWith({{"latestVersion", "1.2.3"}}), badVersion),
      refused("version five parts", manifestWith({{"latestVersion", "1.2.3.4.5"}}), badVersion),
      refused("version a number", manifestWith({{"latestVersion", 1.2}}), badVersion),
      refused("version missing", manifestWith({{"latestVersion", removed}}), badVersion),
      refused("version empty component", manifestWith({{"latestVersion", "1..2.3"}}),
              invalidVersion),
      refused("version trailing dot", manifestWith({{"latestVersion", "1.2.3."}}), invalidVersion),
      refused("version letter", manifestWith({{"latestVersion", "1.2.3.x"}}), invalidVersion),
      refused("version six digits", manifestWith({{"latestVersion", "1.2.3.000001"}}),
              invalidVersion),
      refused("version above 65535", manifestWith({{"latestVersion", "1.2.3.65536"}}),
              invalidVersion),
      refused("version wrong before digest wrong",
              manifestWith({{"latestVersion", "1.2.3"}, {"sha256", "x"}}), badVersion),

      // Rule 4: a SHA-256 digest.
      accepted("digest upper case", manifestWith({{"sha256", upperDigest}})),
      refused("digest 63 characters", manifestWith({{"sha256", digest.substr(1)}}), badDigest),
      refused("digest 65 characters", manifestWith({{"sha256", digest + "0"}}), badDigest),
      refused("digest non-hex character", manifestWith({{"sha256", oneBadDigit}}), badDigest),
      refused("digest with NUL", manifestWith({{"sha256", digest.substr(1) + '\0'}}), badDigest),
      refused("digest missing", manifestWith({{"sha256", removed}}), badDigest),
      refused("digest not a string", manifestWith({{"sha256", 12}}), badDigest),
      refused("digest wrong before size wrong", manifestWith({{"sha256", "x"}, {"sizeBytes", "x"}}),
              badDigest),

      // Rule 5: an integer size within the limit.
      accepted("size 1", manifestWith({{"sizeBytes", 1}})),
      accepted("size at the limit", manifestWith({{"sizeBytes", 268435456}})),
      accepted("size at the limit unsigned", manifestWith({{"sizeBytes", 268435456u}})),
      refused("size 0", manifestWith({{"sizeBytes", 0}}), sizeOverLimit),
      refused("size -1", manifestWith({{"sizeBytes", -1}}), sizeOverLimit),
      refused("size above the limit", manifestWith({{"sizeBytes", 268435457}}), sizeOverLimit),
      refused("size 2^63",
              R"({"available":true,"product":"NorvantaWin","latestVersion":)"
              R"("1.0.0.0","sha256":")" +
                  digest + R"(","sizeBytes":9223372036854775808,"downloadPath":")" + path + R"("})",
              sizeOverLimit),
      refused("size 2^64-1", manifestWith({{"sizeBytes", 18446744073709551615u}}), sizeOverLimit),
      refused("size most negative",
              manifestWith({{"sizeBytes", std::numeric_limits<std::int64_t>::min()}}),
              sizeOverLimit),
      refused("size fraction", manifestWith({{"sizeBytes", 1024.0}}), badSize),
      refused("size exponent",
              R"({"available":true,"product":"NorvantaWin","latestVersion":)"
              R"("1.0.0.0","sha256":")" +
                  digest + R"(","sizeBytes":1e3,"downloadPath":")" + path + R"("})",
              badSize),
      refused("size 2^64",
              R"({"available":true,"product":"NorvantaWin","latestVersion":)"
              R"("1.0.0.0","sha256":")" +
                  digest + R"(","sizeBytes":18446744073709551616,"downloadPath":")" + path +
                  R"("})",
              badSize),
      refused("size a string", manifestWith({{"sizeBytes", "1024"}}), badSize),
      refused("size true", manifestWith({{"sizeBytes", true}}), badSize),
      refused("size null", manifestWith({{"sizeBytes", nullptr}}), badSize),
      refused("size missing", manifestWith({{"sizeBytes", removed}}), badSize),
      refused("size wrong before path wrong",
              manifestWith({{"sizeBytes", 0}, {"downloadPath", "/"}}), sizeOverLimit),

      // Rule 6: the one permitted download path.
      refused("path trailing slash", manifestWith({{"downloadPath", path + "/"}}), pathNotAllowed),
      refused("path with query", manifestWith({{"downloadPath", path + "?v=2"}}), pathNotAllowed),
      refused(
          "path other case",
          manifestWith({{"downloadPath", "/rss/v2/client/client-updates/Norvanta-Win/download"}}),
          pathNotAllowed),
      refused("path absolute URL",
              manifestWith({{"downloadPath", "https://localhost:47443" + path}}), pathNotAllowed),
      refused("path with NUL", manifestWith({{"downloadPath", path + '\0'}}), pathNotAllowed),
      refused("path missing", manifestWith({{"downloadPath", removed}}), pathNotAllowed),
      refused("path not a string", manifestWith({{"downloadPath", json::array({path})}}),
              pathNotAllowed),
  };
}

TEST(ValidateManifest, AppliesTheRulesInOrderWithTheirMessages) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    // Parsed as the update check parses the server's answer.
    try {
      const json manifest = json::parse(c.text);
      const json before = manifest;
      SetLastError(4242);
      validateManifest(manifest);
      EXPECT_EQ(c.outcome, Outcome::accepted) << "accepted";
      EXPECT_EQ(manifest, before);
    } catch (const json::parse_error& error) {
      EXPECT_EQ(c.outcome, Outcome::parseError) << error.what();
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
    } catch (const json::type_error& error) {
      EXPECT_EQ(c.outcome, Outcome::typeError) << error.what();
      EXPECT_EQ(std::string(error.what()), "[json.exception.type_error.302] " + c.message);
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(c.outcome, Outcome::ownError) << error.what();
      EXPECT_EQ(std::string(error.what()), c.message + " (4242)");
    }
  }
}

TEST(TextField, ReturnsAStringMemberAndEmptyTextForEverythingElse) {
  const json object = {{"name", "value"},
                       {"empty", ""},
                       {"withNul", std::string("a\0b", 3)},
                       {"number", 7},
                       {"flag", true},
                       {"nothing", nullptr},
                       {"list", {"value"}},
                       {"object", {{"name", "value"}}}};
  const std::pair<const char*, std::string> members[] = {
      {"name", "value"}, {"empty", ""},  {"withNul", std::string("a\0b", 3)},
      {"number", ""},    {"flag", ""},   {"nothing", ""},
      {"list", ""},      {"object", ""}, {"Name", ""},
      {"missing", ""},
  };
  for (const auto& [name, expected] : members) {
    EXPECT_EQ(textField(object, name), expected) << name;
  }
  const json notObjects[] = {json::array({"name", "value"}), json("name"), json(nullptr), json(1)};
  for (const json& value : notObjects) {
    EXPECT_EQ(textField(value, "name"), "") << value.dump();
  }
}

}  // namespace
