// Unit tests of the library's own building blocks, compiled once per unit width.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "../../glue/callback.h"
#include "../../glue/kxpqutil.h"
#include "../../glue/omstring.h"
#include "../../plugin/moravel.h"

namespace {

std::vector<qchar> Q(const char* ascii)
{
  std::vector<qchar> v(std::strlen(ascii) + 1);
  CHRcopyAsciiStringToQchar(ascii, v.data(), 1);
  return v;
}

std::vector<qchar> Repeat(qchar c, size_t n)
{
  std::vector<qchar> v(n + 1, c);
  v[n] = 0;
  return v;
}

TEST(CountedString, LongTextsReachTheHostAs254Characters)
{
  _str255 str;
  sthandle(Repeat('a', 254).data(), &str);
  EXPECT_EQ(str.length, 254u);
  EXPECT_EQ(str.chars[253], 'a');
  EXPECT_EQ(str.chars[254], 0);
  sthandle(Repeat('b', 255).data(), &str);
  EXPECT_EQ(str.length, 254u);
  sthandle(Repeat('c', 1000).data(), &str);
  EXPECT_EQ(str.length, 254u);
  EXPECT_EQ(str.chars[254], 'c');  // 255 units copied, 254 announced
  sthandle(Q("").data(), &str);
  EXPECT_EQ(str.length, 0u);
}

TEST(StringFunctions, SearchCompareAndNumbers)
{
  auto text = Q("abcabc");
  EXPECT_EQ(OMstrstr(text.data(), Q("cab").data()), text.data() + 2);
  EXPECT_EQ(OMstrstr(text.data(), Q("").data()), text.data());
  EXPECT_EQ(OMstrstr(text.data(), Q("abcabcd").data()), nullptr);
  EXPECT_EQ(OMstrstr(nullptr, Q("a").data()), nullptr);
  EXPECT_EQ(OMstrstr(text.data(), Q("bca").data()), text.data() + 1);

  EXPECT_EQ(OMstrncmp(Q("AB").data(), Q("ABC").data(), 2), 0);
  EXPECT_EQ(OMstrncmp(Q("AB").data(), Q("ABC").data(), 3), -1);
  EXPECT_EQ(OMstrncmp(Q("ABD").data(), Q("ABC").data(), 3), 1);
  EXPECT_EQ(OMstrncmp(Q("AB").data(), Q("AB").data(), 10), 0);
  std::vector<qchar> high = {0xE9, 0};
  EXPECT_EQ(OMstrncmp(high.data(), Q("z").data(), 1), 1);  // unsigned

  EXPECT_EQ(OMstrlen(nullptr), 0);
  std::vector<qchar> buf(32, 0xFF);
  OMstrcpy(buf.data(), Q("ab").data());
  OMstrcat(buf.data(), Q("cd").data());
  EXPECT_EQ(buf, [] { auto v = Q("abcd"); v.resize(32, 0xFF); return v; }());
  EXPECT_EQ(OMstrcpy(nullptr, Q("x").data()), nullptr);

  for (auto [n, want] : std::vector<std::pair<qlong, const char*>>{
           {0, "0"}, {7, "7"}, {-45, "-45"}, {2147483647, "2147483647"}, {-2147483647, "-2147483647"}}) {
    std::vector<qchar> s(16, 0xFF);
    longToStr(n, s.data());
    EXPECT_EQ(OMstrncmp(s.data(), Q(want).data(), 16), 0) << n;
  }

  std::vector<qchar> units = {0x41, 0xE9, 0};
  uint8_t bytes[4] = {9, 9, 9, 9};
  CHRcopyQcharStringToAscii(units.data(), bytes, 1);
  EXPECT_EQ(bytes[0], 0x41);
  EXPECT_EQ(bytes[1], 0xE9);
  EXPECT_EQ(bytes[2], 0);
}

#if MORAVEL_UNICODE
std::vector<qchar> FromOs(std::vector<oschar> in)
{
  in.push_back(0);
  std::vector<qchar> out(in.size() + 1, 0xFFFF);
  qlong n = CHRoscharToChar(in.data(), out.data());
  out.resize(n + 1);
  return out;
}

TEST(Utf16, SurrogatesAndMarkers)
{
  EXPECT_EQ(FromOs({0xD83D, 0xDE00}), (std::vector<qchar>{0x1F600, 0}));
  EXPECT_EQ(FromOs({0x41, 0xD800}), (std::vector<qchar>{0x41, 1, 0}));
  // A unit after a stray surrogate is kept, not swallowed with it.
  EXPECT_EQ(FromOs({0xDC00, 0x41}), (std::vector<qchar>{2, 0x41, 0}));
  EXPECT_EQ(FromOs({0xD800, 0xD800, 0x42}), (std::vector<qchar>{2, 2, 0x42, 0}));
  EXPECT_EQ(FromOs({0xD800, 0xD83D, 0xDE00}), (std::vector<qchar>{2, 0x1F600, 0}));
  EXPECT_EQ(FromOs({0x41, 0xE9, 0x20AC}), (std::vector<qchar>{0x41, 0xE9, 0x20AC, 0}));

  std::vector<qchar> in = {0x1F600, 0x110000, 0xD800, 0x41, 0};
  std::vector<oschar> out(10, 0xFFFF);
  EXPECT_EQ(CHRcharToOschar(in.data(), out.data()), 5);
  EXPECT_EQ(out[0], 0xD83D);
  EXPECT_EQ(out[1], 0xDE00);
  EXPECT_EQ(out[2], 1);
  EXPECT_EQ(out[3], 0xD800);
  EXPECT_EQ(out[4], 0x41);
  EXPECT_EQ(out[5], 0);

  std::vector<qchar> wide(4, 0);
  const uint8_t data[] = {0x41, 0xE9, 0xFF};
  CHRcopyAsciiDataToQchar(data, 3, wide.data());
  EXPECT_EQ(wide, (std::vector<qchar>{0x41, 0xE9, 0xFF, 0}));
}
#endif

class GrowBuffer : public ::testing::Test {
 protected:
  void SetUp() override
  {
    size = 100;
    buffer = static_cast<qchar*>(NewXPPointer(size + QSLACK));
    buffer[0] = 'x';
    buffer[1] = 0;
  }
  void TearDown() override { DisposeXPPointer(buffer); }
  qchar* buffer = nullptr;
  qlong size = 0;
};

TEST_F(GrowBuffer, GrowsByAChunkOrExactlyToTheNeed)
{
  qchar* before = buffer;
  EXPECT_TRUE(GrowBufferIfNeeded(&buffer, &size, 99, 1000, QCHAR_SIZE));
  EXPECT_EQ(buffer, before);
  EXPECT_EQ(size, 100);

  EXPECT_TRUE(GrowBufferIfNeeded(&buffer, &size, 100, 1000, QCHAR_SIZE));  // equal is too small
  EXPECT_EQ(size, 1100);
  EXPECT_EQ(buffer[0], 'x');

  EXPECT_TRUE(GrowBufferIfNeeded(&buffer, &size, 5000, 1000, QCHAR_SIZE));
  EXPECT_EQ(size, 5000);
  EXPECT_EQ(buffer[0], 'x');

  EXPECT_TRUE(GrowBufferIfNeeded(&buffer, &size, 5000, 1000, 0));
  EXPECT_EQ(size, 6000);
  EXPECT_EQ(buffer[0], 0);  // nothing kept
}

// A block from the C library, one with pages of its own, and one on large
// pages: each grows in place or moves, and only the counted bytes survive.
TEST_F(GrowBuffer, KeepsOnlyTheCountedBytesAndClearsTheRest)
{
  for (qlong start : {qlong{100}, qlong{200000}, qlong{17} << 20}) {
    if (start != size) {
      DisposeXPPointer(buffer);
      size = start;
      buffer = static_cast<qchar*>(NewXPPointer(size + QSLACK));
    }
    const qlong units = size / QCHAR_SIZE;  // the capacity counts bytes
    for (qlong i = 0; i < units; i++) buffer[i] = (qchar)('a' + i % 26);
    buffer[units] = 'S';  // the slack, beyond the capacity
    buffer[units + 1] = 'S';
    EXPECT_TRUE(GrowBufferIfNeeded(&buffer, &size, start, 1000, 10 * QCHAR_SIZE));
    EXPECT_EQ(size, start + 1000);
    for (int i = 0; i < 10; i++) EXPECT_EQ(buffer[i], (qchar)('a' + i)) << i;
    for (qlong i = 10; i < size / QCHAR_SIZE + 2; i++) ASSERT_EQ(buffer[i], 0) << start << ": unit " << i << " not cleared";
  }
}

TEST_F(GrowBuffer, ATextBuiltByAppendsSurvivesEveryGrowth)
{
  qlong len = 1;  // the "x" of the fixture
  for (int step = 0; step < 3000; step++) {
    qlong add = 1 + step % 37;
    ASSERT_TRUE(MakeRoomFor(&buffer, &size, (int64_t)len + add, len, nullptr));
    for (qlong i = 0; i < add; i++) buffer[len + i] = (qchar)('a' + (len + i) % 26);
    len += add;
    ASSERT_GT(size, len * QCHAR_SIZE);
    ASSERT_EQ(buffer[len], 0);
  }
  EXPECT_EQ(buffer[0], 'x');
  for (qlong i = 1; i < len; i++) ASSERT_EQ(buffer[i], (qchar)('a' + i % 26)) << i;
}

TEST_F(GrowBuffer, RefusesSizesBeyondThirtyTwoBits)
{
  qchar* before = buffer;
  EXPECT_FALSE(GrowBufferIfNeeded(&buffer, &size, INT32_MAX - 1, 1000, 0));
  EXPECT_EQ(buffer, before);
  EXPECT_EQ(size, 100);
  qshort err = kErrNone;
  EXPECT_FALSE(MakeRoomFor(&buffer, &size, (int64_t)INT32_MAX, 0, &err));
  EXPECT_EQ(size, 100);
  EXPECT_EQ(err, kErrMemory);
  qlong bytes = 0;
  EXPECT_FALSE(QBytes((int64_t)1 << 40, &bytes));
  EXPECT_FALSE(QBytes(-1, &bytes));
  EXPECT_TRUE(QBytes(10, &bytes));
  EXPECT_EQ(bytes, 10 * QCHAR_SIZE);
}

}  // namespace
