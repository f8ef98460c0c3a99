#include "common/ensure.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

std::string failureOf(bool ok, const std::string& message, DWORD lastError) {
  SetLastError(lastError);
  try {
    ensure(ok, message);
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "<no failure>";
}

TEST(Ensure, TrueConditionNeitherThrowsNorTouchesLastError) {
  SetLastError(1234);
  EXPECT_NO_THROW(ensure(true, "unused"));
  EXPECT_EQ(GetLastError(), 1234u);
}

TEST(Ensure, FalseConditionAppendsTheLastErrorInDecimal) {
  const std::string message = "ダウンロード用フォルダを作成できません。";
  EXPECT_EQ(failureOf(false, message, 0), message + " (0)");
  EXPECT_EQ(failureOf(false, message, 5), message + " (5)");
  EXPECT_EQ(failureOf(false, message, 4294967295u), message + " (4294967295)");
  EXPECT_EQ(failureOf(false, "", 183), " (183)");
}

}  // namespace
