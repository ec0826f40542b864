#include "device/Utf8.h"

#include <gtest/gtest.h>

namespace {

TEST(Utf8, RoundTripsAndReplacesWhatIsNotText) {
  const std::wstring text = L"Flug \u00fcber 1000 m \u20ac \U0001F680";
  EXPECT_EQ(ToUtf8(text), "Flug \xc3\xbc" "ber 1000 m \xe2\x82\xac \xf0\x9f\x9a\x80");
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  // A stray continuation byte, a lead byte cut short, an encoded surrogate.
  EXPECT_EQ(FromUtf8("a\x80" "b"), L"a\uFFFDb");
  EXPECT_EQ(FromUtf8("a\xe2\x82"), L"a\uFFFD");
  EXPECT_EQ(FromUtf8("\xed\xa0\x80"), L"\uFFFD");
}

}  // namespace
