// Mac build, the host side: the entry main, numbers through 80-bit values,
// the system beep.
#include <dlfcn.h>

#include <cmath>

#include "../../platform/mac_api.h"
#include "fixture.h"
#include "macsubst.h"

namespace moravel::test {
namespace {

TEST(MacEntry, TheLibraryExportsMainAndNotTheWindowsEntry)
{
  void* lib = dlopen(MORAVEL_LIB_UNICODE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  EXPECT_NE(dlsym(lib, "main"), nullptr);
  EXPECT_EQ(dlsym(lib, "Moravel"), nullptr);
  dlclose(lib);
  EXPECT_THROW(Host(MORAVEL_LIB_UNICODE, Width::Byte, Form::Mac), HostError) << "the Mac build is Unicode only";
  EXPECT_THROW(Host(MORAVEL_LIB_UNICODE, Width::Unicode, Form::Windows), HostError) << "no Windows entry";
}

// Known 80-bit encodings: sign and exponent (bias 16383), then the
// significand with its integer bit, most significant word first.
TEST(MacNumbers, ExtendedValuesHaveTheirLayout)
{
  struct Case {
    double value;
    std::uint16_t exp, m0, m1, m2, m3;
  };
  const Case cases[] = {
      {1.0, 0x3FFF, 0x8000, 0, 0, 0},
      {-2.5, 0xC000, 0xA000, 0, 0, 0},
      {0.0, 0, 0, 0, 0, 0},
      {3.0, 0x4000, 0xC000, 0, 0, 0},
      {1.0 + std::ldexp(1.0, -52), 0x3FFF, 0x8000, 0, 0, 0x0800},
      {32768.0, 0x400E, 0x8000, 0, 0, 0},
  };
  for (const Case& c : cases) {
    extended80 x{};
    dtox80(&c.value, &x);
    EXPECT_EQ(static_cast<std::uint16_t>(x.exp), c.exp) << static_cast<double>(c.value);
    EXPECT_EQ(x.man[0], c.m0);
    EXPECT_EQ(x.man[1], c.m1);
    EXPECT_EQ(x.man[2], c.m2);
    EXPECT_EQ(x.man[3], c.m3);
    EXPECT_EQ(x80tod(&x), c.value);
  }
  for (double v : {3.9, -3.9, 1e300, -1e-300, 4.9e-324}) {
    extended80 x{};
    dtox80(&v, &x);
    EXPECT_EQ(x80tod(&x), v);
  }
}

using MacNumbersThroughTheHost = PluginTest;
MORAVEL_BOTH_WIDTHS(MacNumbersThroughTheHost);

// Integer parameters and the result code cross as 80-bit values; a read is
// truncated toward zero.
TEST_P(MacNumbersThroughTheHost, IntegerParametersAreTruncatedTowardZero)
{
  auto code = [&](double utfType) { return expand(U"\u00E9", {Arg::number(utfType)}); };
  EXPECT_EQ(code(2.9), 0);
  EXPECT_EQ(out(), U"&#233;");
  EXPECT_EQ(code(3.99), 0);
  EXPECT_EQ(out(), U"&#xE9;");
  EXPECT_EQ(code(-0.9), 0);
  EXPECT_EQ(out(), U"\u00E9");
  EXPECT_EQ(code(1e9), 3) << "held to 16 bits, not wrapped";
  EXPECT_EQ(code(-3.9), 3);
  CallResult r = host->call(kDoSubstitutions, {Arg::text(U"x"), Arg::reference(U"out"), Arg::number(4)});
  EXPECT_EQ(r.returnValue, Value::number(3));
  EXPECT_EQ(r.returnWrites, 1);
}

TEST_P(MacNumbersThroughTheHost, FlagsAndListCountsArriveAsNumbers)
{
  host->setNumber(U"n", 4);
  EXPECT_EQ(expanded(U"<FIELD>n*10</FIELD>", {Arg::number(0), Arg::number(0.5)}), U"") << "0.5 reads as 0";
  EXPECT_EQ(expanded(U"<FIELD>n*10</FIELD>", {Arg::number(0), Arg::number(-0.5)}), U"");
  EXPECT_EQ(expanded(U"<FIELD>n*10</FIELD>", {Arg::number(0), Arg::number(1.5)}), U"40");
  EXPECT_EQ(mapKeywords({{U"who", U"n"}, {U"x", U"y"}, {U"z", U"w"}}), 0);
  EXPECT_EQ(info().mappingCount, 3) << "line count read through GetLstInt";
  EXPECT_EQ(expanded(U"<FIELD>who</FIELD>"), U"4");
}

TEST_P(MacNumbersThroughTheHost, ALoadWithoutMemorySoundsTheSystemBeepOfDurationThree)
{
  host->unload();
  long before = macsubst::beeps();
  host->setAllocFailure(1);
  host->load();
  EXPECT_EQ(host->slot(), nullptr);
  EXPECT_EQ(macsubst::beeps(), before + 1);
  EXPECT_EQ(macsubst::lastBeepDuration(), 3);
  host->setAllocFailure(0);
  host->load();
  EXPECT_NE(host->slot(), nullptr);
  EXPECT_EQ(macsubst::beeps(), before + 1);
}

}  // namespace
}  // namespace moravel::test
