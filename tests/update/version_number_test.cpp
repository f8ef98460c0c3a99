#include "update/version_number.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

struct ParseCase {
  std::string text;
  VersionNumber expected;
};

TEST(ParseVersion, AcceptsOneToFourComponentsAndFillsTheRestWithZero) {
  const ParseCase cases[] = {
      {"1", {1, 0, 0, 0}},
      {"1.2", {1, 2, 0, 0}},
      {"1.2.3", {1, 2, 3, 0}},
      {"1.2.3.4", {1, 2, 3, 4}},
      {"0.0.0.0", {0, 0, 0, 0}},
      {"65535.65535.65535.65535", {65535, 65535, 65535, 65535}},
      {"00001", {1, 0, 0, 0}},
      {"00007.0.00000.10", {7, 0, 0, 10}},
      {"2.2611.26321.2238", {2, 2611, 26321, 2238}},
  };
  for (const ParseCase& c : cases) {
    EXPECT_EQ(parseVersion(c.text), c.expected) << c.text;
  }
}

TEST(ParseVersion, RefusesEverySyntaxFaultWithTheSameMessage) {
  const std::string cases[] = {
      "",       "1.2.3.4.5", "1..2", ".1", "1.2.", ".",  "65536", "1.65536",  "99999",
      "000001", " 1",        "1 ",   "+1", "-1",   "1a", "1,2",   "1.2.3.4.",
      "１",  // full-width digit one
      "0x10",
  };
  for (const std::string& text : cases) {
    SetLastError(0);
    try {
      parseVersion(text);
      ADD_FAILURE() << "accepted \"" << text << "\"";
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "Invalid version (0)") << text;
    }
  }
}

TEST(ParseVersion, ReadsOnlyTheGivenLength) {
  const char text[] = "1.2.3.4.5";
  EXPECT_EQ(parseVersion(text, 7), (VersionNumber{1, 2, 3, 4}));
  // An embedded NUL is a byte like any other, not an end.
  EXPECT_THROW(parseVersion(std::string("1\0", 2)), std::runtime_error);
  EXPECT_THROW(parseVersion(text, 0), std::runtime_error);
}

struct NewerCase {
  std::string candidate;
  std::string baseline;
  bool newer;
};

TEST(IsNewerVersion, ComparesComponentsNumericallyMostSignificantFirst) {
  const NewerCase cases[] = {
      {"1.2.3.4", "1.2.3.4", false},
      {"1.2.3.5", "1.2.3.4", true},
      {"1.2.3.4", "1.2.3.5", false},
      {"1.10", "1.9", true},
      {"1.9", "1.10", false},
      {"2", "1.65535.65535.65535", true},
      {"1.65535.65535.65535", "2", false},
      {"1.0", "1.0.0.0", false},
      {"1.0.0.0", "1.0", false},
      {"0.0.0.1", "0", true},
      {"00010", "9", true},
      {"1.2.4.0", "1.3.0.0", false},
  };
  for (const NewerCase& c : cases) {
    EXPECT_EQ(isNewerVersion(c.candidate, c.baseline), c.newer)
        << c.candidate << " against " << c.baseline;
  }
}

TEST(IsNewerVersion, AMalformedTextOnEitherSideRaises) {
  const std::pair<std::string, std::string> cases[] = {
      {"1.2.3.4", "1.2.3.x"}, {"1.2.3.x", "1.2.3.4"}, {"", "1"}, {"1", ""}};
  for (const auto& [candidate, baseline] : cases) {
    EXPECT_THROW(isNewerVersion(candidate, baseline), std::runtime_error)
        << candidate << " against " << baseline;
  }
}

}  // namespace
