#include "core/text_format.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace quorvane {
namespace {

std::string Format(const char* format, std::initializer_list<FormatArg> args) {
  char buffer[256];
  const std::size_t length = FormatText(buffer, format, args);
  EXPECT_EQ(length, std::string(buffer).size());
  return buffer;
}

TEST(FormatText, NumbersLikeWsprintf) {
  EXPECT_EQ(Format("%d", {0}), "0");
  EXPECT_EQ(Format("%d|%d", {-7, 2147483647}), "-7|2147483647");
  EXPECT_EQ(Format("%d", {INT32_MIN}), "-2147483648");
  EXPECT_EQ(Format("%02d:%02d", {5, 123}), "05:123");
  EXPECT_EQ(Format("%02d", {-5}), "-5");
  EXPECT_EQ(Format("%04d", {-5}), "-005");
  EXPECT_EQ(Format("%4d", {-5}), "  -5");
  EXPECT_EQ(Format("%02d", {INT32_MIN}), "-2147483648");
}

TEST(FormatText, TextsPercentAndMissingArguments) {
  EXPECT_EQ(Format("[%s]", {"abc"}), "[abc]");
  EXPECT_EQ(Format("%d%%", {50}), "50%");
  EXPECT_EQ(Format("a%db%sc%d", {}), "abc");
  EXPECT_EQ(Format("%d(%d,%d)", {1}), "1(,)");
  EXPECT_EQ(Format("%s", {7}), "");
  EXPECT_EQ(Format("%x%", {}), "%x%");
}

TEST(FormatText, CutsAtCapacityWithNul) {
  std::array<char, 12> bytes;
  bytes.fill('#');
  const std::size_t length = FormatText(std::span(bytes.data(), 5), "ab%dcdef", {123});
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(std::string(bytes.data(), 6), std::string("ab12\0#", 6));
  EXPECT_EQ(FormatText(std::span(bytes.data(), 1), "abc", {}), 0u);
  EXPECT_EQ(bytes[0], '\0');
  EXPECT_EQ(bytes[1], 'b');
}

}  // namespace
}  // namespace quorvane
