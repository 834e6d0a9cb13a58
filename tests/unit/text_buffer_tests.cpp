// Bounded text helpers: every path and command line of the wrapper goes through them, so
// the edge that matters is the last character that fits and the first one that does not.
#include "support/text_buffer.h"

#include <gtest/gtest.h>
#include <limits.h>

#include <string>

#include "guarded_buffer.h"

namespace {

struct CopyCase {
  size_t capacity;
  std::string text;
  int expected;
};

TEST(CopyTextTest, FitsUpToCapacityMinusOneAndRefusesBeyondWithoutTouchingTheBuffer) {
  const CopyCase cases[] = {
      {1, "", 1},
      {1, "a", 0},
      {4, "abc", 1},
      {4, "abcd", 0},
      {4, "abcdefgh", 0},
      {1024, std::string(1023, 'x'), 1},
      {1024, std::string(1024, 'x'), 0},
  };
  for (const CopyCase& c : cases) {
    GuardedBuffer buffer(c.capacity);
    if (c.capacity > 1) buffer.Set("z");
    std::string before = buffer.Bytes();
    EXPECT_EQ(c.expected, CopyText(buffer.data(), c.capacity, c.text.c_str()))
        << "capacity " << c.capacity << ", length " << c.text.size();
    if (c.expected) {
      EXPECT_EQ(c.text, buffer.Text());
    } else {
      EXPECT_EQ(before, buffer.Bytes()) << "a refused copy changed the buffer";
    }
    EXPECT_TRUE(buffer.GuardIntact());
  }
}

TEST(CopyTextTest, ZeroCapacityIsRefused) {
  GuardedBuffer buffer(0);
  EXPECT_EQ(0, CopyText(buffer.data(), 0, ""));
  EXPECT_TRUE(buffer.GuardIntact());
}

struct AppendCase {
  size_t capacity;
  std::string start;
  std::string text;
  int expected;
};

TEST(AppendTextTest, FitsUpToCapacityMinusOneAndRefusesBeyondWithoutTouchingTheBuffer) {
  const AppendCase cases[] = {
      {5, "ab", "cd", 1},
      {5, "ab", "cde", 0},
      {5, "abcd", "", 1},
      {5, "abcd", "e", 0},
      {5, "", "abcd", 1},
      {1024, std::string(1000, 'a'), std::string(23, 'b'), 1},
      {1024, std::string(1000, 'a'), std::string(24, 'b'), 0},
  };
  for (const AppendCase& c : cases) {
    GuardedBuffer buffer(c.capacity);
    buffer.Set(c.start);
    std::string before = buffer.Bytes();
    EXPECT_EQ(c.expected, AppendText(buffer.data(), c.capacity, c.text.c_str()))
        << "start " << c.start.size() << ", text " << c.text.size();
    if (c.expected) {
      EXPECT_EQ(c.start + c.text, buffer.Text());
    } else {
      EXPECT_EQ(before, buffer.Bytes()) << "a refused append changed the buffer";
    }
    EXPECT_TRUE(buffer.GuardIntact());
  }
}

TEST(AppendTextTest, BufferWithoutTerminatorIsRefusedAndNotScannedPastItsCapacity) {
  GuardedBuffer buffer(8, 'q');
  memset(buffer.data(), 'q', 8);  // no terminator anywhere inside the capacity
  EXPECT_EQ(0, AppendText(buffer.data(), 8, ""));
  EXPECT_EQ(std::string(8, 'q'), buffer.Bytes());
  EXPECT_TRUE(buffer.GuardIntact());
}

TEST(FormatTextTest, PlaceholdersGiveExactText) {
  struct Case {
    std::string expected;
    std::string actual;
  };
  char b[kFormatLimit];
  auto format = [&b](int result) { return result ? std::string(b) : std::string("<refused>"); };
  const Case cases[] = {
      {"a-b", format(FormatText(b, sizeof b, "%s-%s", "a", "b"))},
      {"", format(FormatText(b, sizeof b, "%s", ""))},
      {"0 7 -7", format(FormatText(b, sizeof b, "%d %d %d", 0, 7, -7))},
      {"-2147483648 2147483647", format(FormatText(b, sizeof b, "%d %d", INT_MIN, INT_MAX))},
      {"0 4294967295", format(FormatText(b, sizeof b, "%u %u", 0u, UINT_MAX))},
      {"100%", format(FormatText(b, sizeof b, "%d%%", 100))},
      {"%%", format(FormatText(b, sizeof b, "%%%%"))},
      {"TRANSFORMS=:1041 x", format(FormatText(b, sizeof b, "TRANSFORMS=:%u %s", 1041u, "x"))},
      {"no placeholders", format(FormatText(b, sizeof b, "no placeholders"))},
      {"<refused>", format(FormatText(b, sizeof b, "%x", 1))},
      {"<refused>", format(FormatText(b, sizeof b, "ends in %"))},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, c.actual);
}

TEST(FormatTextTest, ResultOfCapacityMinusOneFitsAndOneMoreIsRefusedUnchanged) {
  // 1024 is the formatter's own limit: 1023 characters and the terminator.
  for (size_t capacity : {size_t{1}, size_t{16}, size_t{260}, kFormatLimit}) {
    GuardedBuffer fits(capacity);
    std::string text(capacity - 1, 'f');
    EXPECT_EQ(1, FormatText(fits.data(), capacity, "%s", text.c_str())) << capacity;
    EXPECT_EQ(text, fits.Text());
    EXPECT_TRUE(fits.GuardIntact());

    GuardedBuffer refused(capacity);
    refused.Set("");
    std::string before = refused.Bytes();
    std::string tooLong(capacity, 'f');
    EXPECT_EQ(0, FormatText(refused.data(), capacity, "%s", tooLong.c_str())) << capacity;
    EXPECT_EQ(before, refused.Bytes());
    EXPECT_TRUE(refused.GuardIntact());

    // The last piece that overflows may be a number or a literal character, not only text.
    GuardedBuffer number(capacity);
    number.Set("");
    std::string head(capacity - 1, 'n');
    EXPECT_EQ(0, FormatText(number.data(), capacity, "%s%d", head.c_str(), 5)) << capacity;
    EXPECT_EQ(0, FormatText(number.data(), capacity, "%s.", head.c_str())) << capacity;
    EXPECT_EQ(std::string(), number.Text());
    EXPECT_TRUE(number.GuardIntact());
  }
}

TEST(FormatTextTest, CapacityBeyondTheFormatterLimitOrZeroIsRefused) {
  GuardedBuffer big(kFormatLimit + 1);
  big.Set("keep");
  EXPECT_EQ(0, FormatText(big.data(), kFormatLimit + 1, "%s", "x"));
  EXPECT_EQ("keep", big.Text());
  GuardedBuffer none(0);
  EXPECT_EQ(0, FormatText(none.data(), 0, ""));
  EXPECT_TRUE(none.GuardIntact());
}

TEST(FormatTextTest, ArgumentMayBeTheBufferItself) {
  char buffer[64] = "C:\\Users\\me\\AppData\\LocalLow";
  ASSERT_EQ(1, FormatText(buffer, sizeof buffer, "%s\\Orvik\\", buffer));
  EXPECT_STREQ("C:\\Users\\me\\AppData\\LocalLow\\Orvik\\", buffer);
  ASSERT_EQ(1, FormatText(buffer, sizeof buffer, "<%s|%s>", buffer, "x"));
  EXPECT_STREQ("<C:\\Users\\me\\AppData\\LocalLow\\Orvik\\|x>", buffer);
}

}  // namespace
