// Mutated manifests and version texts, deterministic (fixed seed): every
// input is either accepted or refused with a std::exception; nothing else
// escapes, nothing crashes, nothing hangs.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <random>
#include <string>
#include <vector>

#include "update/update_manifest.h"
#include "update/version_number.h"

namespace {

constexpr std::uint32_t seed = 20261210;

const std::vector<std::string>& seedManifests() {
  static const std::vector<std::string> manifests = {
      R"({"available":true,"product":"NorvantaWin","latestVersion":"1.2.3.4",)"
      R"("sha256":"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef",)"
      R"("sizeBytes":1024,"downloadPath":"/rss/v2/client/client-updates/norvanta-win/download"})",
      R"({"available":false})",
      R"({"available":true,"product":"NorvantaWin","latestVersion":"65535.0.0.0",)"
      R"("sha256":"ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789",)"
      R"("sizeBytes":268435456,"downloadPath":"/rss/v2/client/client-updates/norvanta-win/download",)"
      R"("extra":[1,2.5,-3e10,null,{"nested":"\u00e9\ud83d\ude00"}]})",
      R"([1,"two",{"three":3}])",
  };
  return manifests;
}

// Pieces that steer mutations towards the parser's and the rules' edges.
const std::vector<std::string>& tokens() {
  static const std::vector<std::string> pieces = {
      "{",
      "}",
      "[",
      "]",
      "\"",
      ":",
      ",",
      "\\",
      "\\u",
      "\\ud800",
      "\\u0000",
      "null",
      "true",
      "false",
      "0",
      "-",
      "1e999",
      "-0",
      "18446744073709551616",
      "9223372036854775808",
      "0.5",
      ".",
      "..",
      "\xC3\x28",
      "\xFF",
      std::string(1, '\0'),
      "/*",
      "//",
      " ",
      "\t\n",
      "\"available\":",
      "\"sizeBytes\":",
      "\"latestVersion\":\"1.2.3.4\"",
  };
  return pieces;
}

std::string mutate(std::string text, std::mt19937& random) {
  const auto pick = [&](size_t bound) {
    return bound == 0 ? 0 : std::uniform_int_distribution<size_t>(0, bound - 1)(random);
  };
  const int steps = 1 + static_cast<int>(pick(4));
  for (int step = 0; step < steps; ++step) {
    const size_t at = pick(text.size() + 1);
    switch (pick(6)) {
      case 0:  // flip a byte
        if (!text.empty()) text[pick(text.size())] ^= static_cast<char>(1 + pick(255));
        break;
      case 1:  // insert a random byte
        text.insert(at, 1, static_cast<char>(pick(256)));
        break;
      case 2:  // delete a range
        text.erase(at, pick(8));
        break;
      case 3:  // insert a token
        text.insert(at, tokens()[pick(tokens().size())]);
        break;
      case 4: {  // duplicate a range
        const std::string range = text.substr(at, pick(16));
        text.insert(at, range);
        break;
      }
      default:  // cut
        text.resize(at);
        break;
    }
  }
  return text;
}

// Parses and validates like the update check does; false when refused.
bool acceptManifest(const std::string& text) {
  const nlohmann::json manifest = nlohmann::json::parse(text);
  validateManifest(manifest);
  // What the run reads afterwards.
  textField(manifest, "latestVersion");
  textField(manifest, "sha256");
  manifest.at("sizeBytes").get<std::int64_t>();
  return true;
}

template <typename Call>
void expectAcceptedOrRefused(Call call, const std::string& input) {
  try {
    call();
  } catch (const std::exception&) {
    // refused: fine
  } catch (...) {
    ADD_FAILURE() << "a non-standard exception escaped for input of " << input.size() << " bytes";
  }
}

TEST(MalformedInput, MutatedManifestsAreAcceptedOrRefused) {
  std::mt19937 random(seed);
  int accepted = 0;
  for (int round = 0; round < 20000; ++round) {
    const std::string& base = seedManifests()[round % seedManifests().size()];
    const std::string text = mutate(base, random);
    expectAcceptedOrRefused([&] { accepted += acceptManifest(text) ? 1 : 0; }, text);
  }
  // The seeds' own mutations must not all be refused, or the test would only
  // exercise the parser's first error.
  EXPECT_GT(accepted, 0);
}

TEST(MalformedInput, ExtremeManifestShapesAreRefusedCleanly) {
  const std::vector<std::string> shapes = {
      std::string(32768, '[') + std::string(32768, ']'),  // the deepest a 64 KiB body can nest
      std::string(65536, '['),
      "{\"a\":" + std::string(32000, '{'),
      std::string(65536, '"'),
      "{\"available\":true,\"product\":\"" + std::string(65000, 'x') + "\"}",
      "",
      std::string("\0", 1),
  };
  for (const std::string& text : shapes) {
    expectAcceptedOrRefused([&] { acceptManifest(text); }, text);
  }
}

TEST(MalformedInput, MutatedVersionTextsParseOrFail) {
  std::mt19937 random(seed);
  const std::string alphabet = std::string("0123456789.....+- a\xFF", 21) + std::string(1, '\0');
  const std::vector<std::string> bases = {"1.2.3.4", "65535.65535.65535.65535", "0", "00001.2"};
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    if (round % 2 == 0) {
      text = mutate(bases[round % bases.size()], random);
    } else {
      const size_t length = std::uniform_int_distribution<size_t>(0, 30)(random);
      for (size_t i = 0; i < length; ++i) {
        text += alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(random)];
      }
    }
    expectAcceptedOrRefused(
        [&] {
          const VersionNumber version = parseVersion(text.data(), text.size());
          for (const std::uint32_t component : version) {
            EXPECT_LE(component, 65535u) << "accepted " << testing::PrintToString(text);
          }
          isNewerVersion(text, "1.2.3.4");
        },
        text);
  }
}

}  // namespace
