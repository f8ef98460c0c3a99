#include "common/text.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

template <typename Call>
std::string failureOf(Call call) {
  try {
    call();
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "<no failure>";
}

TEST(TextConversion, RoundTripsJapaneseAndSupplementaryCharacters) {
  const std::string utf8 = "NorvantaWinの最新版 \xF0\x9F\x98\x80";
  const std::wstring wide = L"NorvantaWinの最新版 \xD83D\xDE00";
  EXPECT_EQ(utf8ToWide(utf8), wide);
  EXPECT_EQ(wideToUtf8(wide), utf8);
}

TEST(TextConversion, EmptyInputNeedsNoPointer) {
  EXPECT_EQ(wideToUtf8(nullptr, 0), "");
  EXPECT_EQ(utf8ToWide(nullptr, 0), L"");
}

TEST(TextConversion, EmbeddedNulIsKeptAndCounted) {
  const std::wstring wide(L"a\0b", 3);
  const std::string utf8("a\0b", 3);
  EXPECT_EQ(wideToUtf8(wide), utf8);
  EXPECT_EQ(utf8ToWide(utf8), wide);
  EXPECT_EQ(wideToUtf8(wide).size(), 3u);
}

TEST(TextConversion, LengthLimitsTheInput) {
  EXPECT_EQ(wideToUtf8(L"abcdef", 3), "abc");
  EXPECT_EQ(utf8ToWide("abcdef", 2), L"ab");
}

TEST(TextConversion, InvalidInputIsRejectedWithNoUnicodeTranslation) {
  const wchar_t lone = 0xD800;
  EXPECT_EQ(failureOf([&] { wideToUtf8(&lone, 1); }), "Invalid Unicode text (1113)");
  const std::wstring lowSurrogateFirst = L"\xDC00\xD800";
  EXPECT_EQ(failureOf([&] { wideToUtf8(lowSurrogateFirst); }), "Invalid Unicode text (1113)");

  for (const std::string& bytes :
       {std::string("\xC3\x28"), std::string("\x80"), std::string("\xE3\x81"),
        std::string("\xC0\xAF"), std::string("\xED\xA0\x80")}) {
    EXPECT_EQ(failureOf([&] { utf8ToWide(bytes); }), "Invalid UTF-8 text (1113)")
        << "bytes of length " << bytes.size();
  }
}

TEST(DisplayText, ValidTextIsConvertedAndInvalidBytesAreReplaced) {
  EXPECT_EQ(displayText("画面を作成できません。 (5)"), L"画面を作成できません。 (5)");
  EXPECT_EQ(displayText(""), L"");
  EXPECT_EQ(displayText("bad \xC3\x28 text"), L"bad \xFFFD( text");
  EXPECT_EQ(displayText("\xFF"), L"\xFFFD");
}

TEST(ToLowerWide, OnlyAsciiCapitalsChange) {
  EXPECT_EQ(toLowerWide(L"/ShowUI ABCXYZ abc 09"), L"/showui abcxyz abc 09");
  EXPECT_EQ(toLowerWide(L"\x00C4"), L"\x00C4");  // A with diaeresis
  EXPECT_EQ(toLowerWide(L"\xFF21"), L"\xFF21");  // full-width A
  EXPECT_EQ(toLowerWide(L"\xD800"), L"\xD800");
  EXPECT_EQ(toLowerWide(L""), L"");
}

TEST(QuoteArgument, FollowsTheCommandLineParserRules) {
  struct Case {
    std::wstring text;
    std::wstring quoted;
  };
  const Case cases[] = {
      {L"", L"\"\""},
      {L"C:\\W\\NorvantaWinSetup.exe", L"\"C:\\W\\NorvantaWinSetup.exe\""},
      {L"C:\\Program Files\\x.exe", L"\"C:\\Program Files\\x.exe\""},
      {L"a\\b\" c\\", L"\"a\\b\\\" c\\\\\""},
      {L"end\\\\", L"\"end\\\\\\\\\""},
      {L"q\\\\\"", L"\"q\\\\\\\\\\\"\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(quoteArgument(c.text), c.quoted);
  }
}

TEST(QuoteArgument, CommandLineToArgvWGivesTheTextBack) {
  const std::wstring texts[] = {L"C:\\dir with space\\a.exe",
                                L"a\\b\" c\\",
                                L"\\\\server\\share\\",
                                L"\"",
                                L"tab\there",
                                L""};
  for (const std::wstring& text : texts) {
    const std::wstring line = L"program.exe " + quoteArgument(text);
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(line.c_str(), &count);
    ASSERT_NE(argv, nullptr);
    EXPECT_EQ(count, 2);
    if (count == 2) {
      EXPECT_EQ(std::wstring(argv[1]), text);
    }
    LocalFree(argv);
  }
}

}  // namespace
