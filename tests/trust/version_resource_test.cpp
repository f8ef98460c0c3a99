#include "trust/version_resource.h"

#include <gtest/gtest.h>

#include <string>

#include "common/text.h"
#include "fixtures.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

TEST(ReadVersionString, ReadsTheFirstTranslationAndTrimsTheEnd) {
  struct Case {
    const char* what;
    const wchar_t* file;
    const wchar_t* name;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {"product name", fixture::clientCurrent, L"ProductName", L"NorvantaWin"},
      {"implementation", fixture::clientCurrent, L"Implementation", L"Win32"},
      {"product version", fixture::clientCurrent, L"ProductVersion", L"1.2.3.4"},
      {"description", fixture::setupCurrent, L"FileDescription", L"NorvantaWin Setup"},
      {"absent string", fixture::setupCurrent, L"Implementation", L""},
      {"first of several translations", fixture::versionSeveralTranslations, L"ProductName",
       L"First"},
      {"string only under a later translation", fixture::versionSeveralTranslations,
       L"Implementation", L""},
      {"two trailing blanks", fixture::versionTrailingBlanks, L"ProductVersion", L"1.2.3.4"},
      {"leading blanks kept, trailing tab and blank removed", fixture::versionTrailingBlanks,
       L"ProductName", L"  NorvantaWin"},
      {"only blanks", fixture::versionTrailingBlanks, L"Implementation", L""},
      {"inner blanks kept", fixture::versionTrailingBlanks, L"FileDescription", L"In  side"},
      {"embedded NUL ends the value", fixture::versionEmbeddedNul, L"ProductName", L"Norvanta"},
      {"after an embedded NUL elsewhere", fixture::versionEmbeddedNul, L"ProductVersion",
       L"1.2.3.4"},
      {"translation table shorter than 4 bytes", fixture::versionShortTranslation, L"ProductName",
       L""},
      {"no translation table", fixture::versionNoTranslation, L"ProductName", L""},
      {"no version resource", fixture::versionNone, L"ProductName", L""},
      {"value claiming more than the resource holds", fixture::versionOverlongValue, L"ProductName",
       L"NorvantaWin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(readVersionString(c.file, c.name), c.expected);
  }
}

TEST(ReadVersionString, UnreadableFilesAndOddNamesGiveEmptyText) {
  const fs::path folder = testsupport::freshTestFolder("version-unreadable");
  testsupport::writeFile(folder / L"text.exe", "MZ but nothing more");
  testsupport::writeFile(folder / L"empty.exe", "");
  const std::wstring longName(400, L'N');
  struct Case {
    const char* what;
    fs::path path;
    std::wstring name;
  };
  const Case cases[] = {
      {"missing file", folder / L"missing.exe", L"ProductName"},
      {"missing folder", folder / L"none" / L"missing.exe", L"ProductName"},
      {"directory", folder, L"ProductName"},
      {"not an executable", folder / L"text.exe", L"ProductName"},
      {"empty file", folder / L"empty.exe", L"ProductName"},
      {"name too long for a query", fixture::clientCurrent, longName},
      {"empty name", fixture::clientCurrent, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(readVersionString(c.path, c.name), L"");
  }
}

}  // namespace
