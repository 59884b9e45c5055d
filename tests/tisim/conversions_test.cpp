// Server value conversions: the rules the Windows build gets from the platform.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <new>

#include "engine/tiserver.h"

namespace movra {
namespace {

TEST(ToInt32Test, RealsRoundHalfToEven) {
    EXPECT_EQ(ToInt32(Variant::R8(0.5)), 0);
    EXPECT_EQ(ToInt32(Variant::R8(1.5)), 2);
    EXPECT_EQ(ToInt32(Variant::R8(2.5)), 2);
    EXPECT_EQ(ToInt32(Variant::R8(-0.5)), 0);
    EXPECT_EQ(ToInt32(Variant::R8(-1.5)), -2);
    EXPECT_EQ(ToInt32(Variant::R8(-2.5)), -2);
    EXPECT_EQ(ToInt32(Variant::R8(2.4999)), 2);
    EXPECT_EQ(ToInt32(Variant::R8(2.5001)), 3);
    EXPECT_EQ(ToInt32(Variant::Date(46000.75)), 46001);
}

TEST(ToInt32Test, RangeEdges) {
    EXPECT_EQ(ToInt32(Variant::R8(2147483647.0)), 2147483647);
    EXPECT_EQ(ToInt32(Variant::R8(2147483647.4)), 2147483647);
    EXPECT_THROW(ToInt32(Variant::R8(2147483647.5)), ConversionError);
    EXPECT_EQ(ToInt32(Variant::R8(-2147483648.5)), INT32_MIN);  // rounds to even, fits
    EXPECT_THROW(ToInt32(Variant::R8(-2147483649.0)), ConversionError);
    EXPECT_THROW(ToInt32(Variant::R8(std::nan(""))), ConversionError);
    EXPECT_THROW(ToInt32(Variant::R8(std::numeric_limits<double>::infinity())), ConversionError);
}

TEST(ToInt32Test, OtherKinds) {
    EXPECT_EQ(ToInt32(Variant()), 0);
    EXPECT_EQ(ToInt32(Variant::I4(-7)), -7);
    EXPECT_EQ(ToInt32(Variant::Int(512)), 512);
    EXPECT_EQ(ToInt32(Variant::BStr(u" 42 ")), 42);
    EXPECT_EQ(ToInt32(Variant::BStr(u"-3")), -3);
    EXPECT_EQ(ToInt32(Variant::BStr(u"2.5")), 2);
    EXPECT_EQ(ToInt32(Variant::BStr(u"1e3")), 1000);
    EXPECT_THROW(ToInt32(Variant::BStr(u"")), ConversionError);
    EXPECT_THROW(ToInt32(Variant::BStr(u"12kb")), ConversionError);
    EXPECT_THROW(ToInt32(Variant::BStr(u"99999999999")), ConversionError);
    EXPECT_THROW(ToInt32(Variant::BStr(u"１２")), ConversionError);
    EXPECT_THROW(ToInt32(Variant::Array({Variant::I4(1)})), ConversionError);
}

TEST(ToRealTest, Kinds) {
    EXPECT_EQ(ToReal(Variant()), 0.0);
    EXPECT_EQ(ToReal(Variant::I4(-5)), -5.0);
    EXPECT_EQ(ToReal(Variant::Int(5)), 5.0);
    EXPECT_EQ(ToReal(Variant::Date(-1.25)), -1.25);
    EXPECT_EQ(ToReal(Variant::BStr(u"0.125")), 0.125);
    EXPECT_THROW(ToReal(Variant::BStr(u"abc")), ConversionError);
    EXPECT_THROW(ToReal(Variant::Array({})), ConversionError);
}

TEST(ConversionErrorTest, CarriesThePlatformsStatus) {
    auto status = [](const Variant& v) {
        try {
            ToInt32(v);
        } catch (const ConversionError& e) {
            return e.status();
        }
        return 0;
    };
    EXPECT_EQ(status(Variant::R8(3e9)), kDispOverflow);
    EXPECT_EQ(status(Variant::BStr(u"99999999999")), kDispOverflow);
    EXPECT_EQ(status(Variant::BStr(u"12kb")), kDispTypeMismatch);
    EXPECT_EQ(status(Variant::Array({})), kDispTypeMismatch);
}

TEST(FailureOfTest, TellsTheKindAndKeepsTheStatus) {
    EXPECT_FALSE(FailureOf([] {}));
    const auto refused = FailureOf([] { throw TiError(-7); });
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->kind, CallFailure::kRefused);
    EXPECT_EQ(refused->status, -7);
    const auto unreadable = FailureOf([] { ToInt32(Variant::R8(3e9)); });
    ASSERT_TRUE(unreadable);
    EXPECT_EQ(unreadable->kind, CallFailure::kUnreadable);
    EXPECT_EQ(unreadable->status, kDispOverflow);
    const auto other = FailureOf([] { throw std::bad_alloc(); });
    ASSERT_TRUE(other);
    EXPECT_EQ(other->kind, CallFailure::kOther);
}

SystemTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    SystemTime t;
    t.wYear = static_cast<uint16_t>(y);
    t.wMonth = static_cast<uint16_t>(mo);
    t.wDay = static_cast<uint16_t>(d);
    t.wHour = static_cast<uint16_t>(h);
    t.wMinute = static_cast<uint16_t>(mi);
    t.wSecond = static_cast<uint16_t>(s);
    return t;
}

void ExpectDate(double ole, const SystemTime& want) {
    SystemTime got;
    ASSERT_TRUE(OleDateToSystemTime(ole, got)) << ole;
    got.wDayOfWeek = 0;
    EXPECT_EQ(got, want) << ole << " -> " << got.wYear << "-" << got.wMonth << "-" << got.wDay
                         << " " << got.wHour << ":" << got.wMinute << ":" << got.wSecond;
}

TEST(OleDateTest, KnownDates) {
    ExpectDate(0.0, At(1899, 12, 30));
    ExpectDate(1.0, At(1899, 12, 31));
    ExpectDate(2.0, At(1900, 1, 1));
    ExpectDate(25569.0, At(1970, 1, 1));
    ExpectDate(36526.5, At(2000, 1, 1, 12));
    // Negative dates: the whole part counts days back, the fraction is still the time of day.
    ExpectDate(-1.25, At(1899, 12, 29, 6));
    ExpectDate(-0.5, At(1899, 12, 30, 12));
    ExpectDate(-657434.0, At(100, 1, 1));
    ExpectDate(2958465.0 + 86399.0 / 86400.0, At(9999, 12, 31, 23, 59, 59));
}

TEST(OleDateTest, RoundsToTheSecondAcrossMidnight) {
    ExpectDate(1.0 - 0.1 / 86400.0, At(1899, 12, 31));
    ExpectDate(0.5 + 0.4 / 86400.0, At(1899, 12, 30, 12));
}

TEST(OleDateTest, DayOfWeek) {
    SystemTime t;
    ASSERT_TRUE(OleDateToSystemTime(0.0, t));
    EXPECT_EQ(t.wDayOfWeek, 6);  // Saturday
    ASSERT_TRUE(OleDateToSystemTime(-1.0, t));
    EXPECT_EQ(t.wDayOfWeek, 5);
    ASSERT_TRUE(OleDateToSystemTime(46357.0, t));  // 2026-12-01, a Tuesday
    EXPECT_EQ(t.wDayOfWeek, 2);
}

TEST(OleDateTest, OutOfRangeAndNotFinite) {
    SystemTime t = At(2001, 2, 3);
    const SystemTime before = t;
    EXPECT_FALSE(OleDateToSystemTime(-657435.0, t));
    EXPECT_FALSE(OleDateToSystemTime(2958466.0, t));
    EXPECT_FALSE(OleDateToSystemTime(1e300, t));
    EXPECT_FALSE(OleDateToSystemTime(std::nan(""), t));
    EXPECT_FALSE(OleDateToSystemTime(-std::numeric_limits<double>::infinity(), t));
    EXPECT_EQ(t, before);  // untouched on failure
}

TEST(OleDateTest, RoundTrip) {
    for (const SystemTime& st :
         {At(1899, 12, 30), At(1899, 12, 29, 6), At(1850, 6, 15, 23, 59, 59),
          At(2026, 12, 1, 12, 0, 1), At(100, 1, 1, 0, 0, 1), At(9999, 12, 31, 23, 59, 59)}) {
        SystemTime back;
        ASSERT_TRUE(OleDateToSystemTime(SystemTimeToOleDate(st), back));
        back.wDayOfWeek = 0;
        EXPECT_EQ(back, st) << st.wYear;
    }
    EXPECT_DOUBLE_EQ(SystemTimeToOleDate(At(1899, 12, 29, 6)), -1.25);
}

TEST(InfoElementTest, BoundsAndKind) {
    const Variant info = Variant::Array(std::vector<Variant>(35, Variant::I4(7)));
    EXPECT_EQ(InfoElement(info, 34).i, 7);
    EXPECT_THROW(InfoElement(info, 35), ConversionError);
    EXPECT_THROW(InfoElement(Variant::Array({}), 0), ConversionError);
    EXPECT_THROW(InfoElement(Variant::BStr(u"x"), 0), ConversionError);
    EXPECT_THROW(InfoElement(Variant(), 0), ConversionError);
}

}  // namespace
}  // namespace movra
