#include "common/unique_handle.h"

#include <gtest/gtest.h>

namespace {

struct CountingTraits {
  using Type = int;
  static int closed;
  static Type empty() noexcept { return -1; }
  static bool isValid(Type value) noexcept { return value >= 0; }
  static void close(Type) noexcept { ++closed; }
};
int CountingTraits::closed = 0;

TEST(UniqueHandle, ClosesExactlyOnceAcrossMovesAndResets) {
  CountingTraits::closed = 0;
  {
    UniqueHandle<CountingTraits> first(3);
    UniqueHandle<CountingTraits> second(std::move(first));
    EXPECT_FALSE(first.valid());
    EXPECT_EQ(second.get(), 3);
    UniqueHandle<CountingTraits> third(4);
    third = std::move(second);  // closes 4
    EXPECT_EQ(CountingTraits::closed, 1);
    EXPECT_EQ(third.release(), 3);  // released, not closed
    third.reset(5);
    *third.put() = 6;  // closes 5
    EXPECT_EQ(CountingTraits::closed, 2);
  }  // closes 6
  EXPECT_EQ(CountingTraits::closed, 3);
}

TEST(UniqueHandle, KernelHandleTreatsNullAndInvalidValueAsEmpty) {
  EXPECT_FALSE(UniqueHandleKernel().valid());
  EXPECT_FALSE(UniqueHandleKernel(INVALID_HANDLE_VALUE).valid());
  UniqueHandleKernel event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event.valid());
  const HANDLE raw = event.get();
  event.reset();
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(raw, &flags));
}

}  // namespace
