#include "config/field_exchange.h"

#include <gtest/gtest.h>

#include <map>

namespace movra {
namespace {

TEST(FieldParsing, UnsignedAcceptsBlanksAndPlusRefusesMinusJunkAndOverflow) {
    EXPECT_EQ(ParseUnsigned(u"  42\t"), 42u);
    EXPECT_EQ(ParseUnsigned(u"+7"), 7u);
    EXPECT_EQ(ParseUnsigned(u"4294967295"), 4294967295u);
    EXPECT_EQ(ParseUnsigned(u"0004"), 4u);
    for (const char16_t* bad : {u"", u"  ", u"-1", u"-0", u"4294967296", u"99999999999999999999",
                                u"12a", u"1 2", u"1.0", u"+", u"abc"})
        EXPECT_FALSE(ParseUnsigned(bad)) << ToUtf8(bad);
}

TEST(FieldParsing, IntegerTakesBothSignsWithinThirtyTwoBits) {
    EXPECT_EQ(ParseInteger(u" -15 "), -15);
    EXPECT_EQ(ParseInteger(u"+3"), 3);
    EXPECT_EQ(ParseInteger(u"2147483647"), 2147483647);
    EXPECT_EQ(ParseInteger(u"-2147483648"), INT32_MIN);
    for (const char16_t* bad : {u"2147483648", u"-2147483649", u"--1", u"- 1", u"1e3", u"", u"x"})
        EXPECT_FALSE(ParseInteger(bad)) << ToUtf8(bad);
}

TEST(FieldParsing, RealAcceptsPointOrCommaAndExponentRefusesJunkAndOverflow) {
    EXPECT_DOUBLE_EQ(*ParseReal(u" 0.25 "), 0.25);
    EXPECT_DOUBLE_EQ(*ParseReal(u"0,5"), 0.5);
    EXPECT_DOUBLE_EQ(*ParseReal(u"-.5"), -0.5);
    EXPECT_DOUBLE_EQ(*ParseReal(u"5."), 5.0);
    EXPECT_DOUBLE_EQ(*ParseReal(u"1e6"), 1e6);
    EXPECT_DOUBLE_EQ(*ParseReal(u"+2.5E-3"), 2.5e-3);
    EXPECT_EQ(*ParseReal(u"1e-400"), 0.0);
    for (const char16_t* bad : {u"", u".", u"1e", u"1e+", u"1.2.3", u"1,2.3", u"inf", u"nan",
                                u"0x10", u"1e400", u"abc", u"1 2"})
        EXPECT_FALSE(ParseReal(bad)) << ToUtf8(bad);
}

TEST(FieldParsing, RealShowsFifteenSignificantDigitsWithAPoint) {
    EXPECT_EQ(FormatReal(static_cast<double>(0.1f)), u"0.100000001490116");
    EXPECT_EQ(FormatReal(100.0), u"100");
    EXPECT_EQ(FormatReal(2.5), u"2.5");
    // What is shown is taken back unchanged for a value of 15 digits.
    EXPECT_EQ(*ParseReal(FormatReal(0.123456789012345)), 0.123456789012345);
}

TEST(FieldParsing, RangeMessagesAreFilledIn) {
    EXPECT_EQ(IntegerRangeMessage(0, 500), u"Please enter an integer between 0 and 500.");
    EXPECT_EQ(RealRangeMessage(0, 1000000), u"Please enter a number between 0 and 1000000.");
}

// Controls held in maps, recording which one got the focus.
class FakeControls : public ControlAccess {
  public:
    std::map<int, Text> texts;
    std::map<int, bool> checks;
    int focused = 0;
    Text GetText(int id) override { return texts[id]; }
    void SetText(int id, const Text& t) override { texts[id] = t; }
    bool GetCheck(int id) override { return checks[id]; }
    void SetCheck(int id, bool on) override { checks[id] = on; }
    void Focus(int id) override { focused = id; }
};

struct Rec {
    Text name;
    uint32_t width = 0;
    int32_t delta = 0;
    int32_t mode = 0;
    double ratio = 0;
    int32_t flag = 0;
    float share = 0;
};

std::vector<Binding<Rec>> RecBindings() {
    std::vector<Binding<Rec>> b;
    b.push_back({FieldKind::kText, {1}, &Rec::name});
    b.push_back({FieldKind::kUnsigned, {2}, &Rec::width, true, 0, 500});
    b.push_back({FieldKind::kRadio, {3, 4, 5}, &Rec::mode});
    b.push_back({FieldKind::kInteger, {6}, &Rec::delta});
    b.push_back({FieldKind::kReal, {7}, &Rec::ratio, true, 0, 1000000});
    b.push_back({FieldKind::kCheck, {8}, &Rec::flag});
    b.push_back({FieldKind::kReal, {9}, &Rec::share});
    return b;
}

TEST(FieldExchange, ShowThenTakeRoundTripsEveryKind) {
    auto b = RecBindings();
    Rec in{u" spaced name ", 500, -3, 2, 1000000, 1, 0.1f};
    FakeControls c;
    ShowFields(b, in, c);
    EXPECT_EQ(c.texts[2], u"500");
    EXPECT_TRUE(c.checks[5]);
    EXPECT_FALSE(c.checks[3]);
    EXPECT_EQ(c.texts[9], u"0.100000001490116");
    TakeResult r = TakeControls(Shapes(b), c);
    ASSERT_TRUE(r.ok);
    Rec out;
    StoreFields(b, r, out);
    EXPECT_EQ(out.name, u" spaced name ");  // never trimmed
    EXPECT_EQ(out.width, 500u);
    EXPECT_EQ(out.mode, 2);
    EXPECT_EQ(out.delta, -3);
    EXPECT_EQ(out.ratio, 1000000.0);
    EXPECT_EQ(out.flag, 1);
    EXPECT_EQ(out.share, 0.1f);
}

TEST(FieldExchange, StopsAtFirstBadControlKeepingEarlierValuesAndFocusingIt) {
    auto b = RecBindings();
    Rec rec{u"old", 10, 1, 0, 2, 0, 0};
    FakeControls c;
    ShowFields(b, rec, c);
    c.texts[1] = u"new";
    c.texts[2] = u"300";
    c.checks[3] = false;
    c.checks[4] = true;
    c.texts[6] = u"abc";
    c.texts[7] = u"5";
    TakeResult r = TakeControls(Shapes(b), c);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, u"Please enter an integer.");
    EXPECT_EQ(r.failedId, 6);
    EXPECT_EQ(c.focused, 6);
    StoreFields(b, r, rec);
    EXPECT_EQ(rec.name, u"new");
    EXPECT_EQ(rec.width, 300u);
    EXPECT_EQ(rec.mode, 1);
    EXPECT_EQ(rec.delta, 1);    // the failing one is not stored
    EXPECT_EQ(rec.ratio, 2.0);  // nor anything after it
}

TEST(FieldExchange, OutOfRangeValuesAreRefusedWithTheRangeMessageAndNotStored) {
    auto b = RecBindings();
    Rec rec{u"a", 4, 0, 0, 0, 0, 0};
    FakeControls c;
    ShowFields(b, rec, c);
    c.texts[2] = u"600";
    TakeResult r = TakeControls(Shapes(b), c);
    EXPECT_EQ(r.message, u"Please enter an integer between 0 and 500.");
    EXPECT_EQ(c.focused, 2);
    StoreFields(b, r, rec);
    EXPECT_EQ(rec.width, 4u);

    c.texts[2] = u"5";
    c.texts[7] = u"1000000.5";
    r = TakeControls(Shapes(b), c);
    EXPECT_EQ(r.message, u"Please enter a number between 0 and 1000000.");
    c.texts[7] = u"-1";
    EXPECT_EQ(TakeControls(Shapes(b), c).failedId, 7);
    c.texts[7] = u"x";
    EXPECT_EQ(TakeControls(Shapes(b), c).message, u"Please enter a number.");
    c.texts[7] = u"1";
    c.texts[2] = u"-5";
    EXPECT_EQ(TakeControls(Shapes(b), c).message, u"Please enter a positive integer.");
}

TEST(FieldExchange, RadioGroupWithNothingCheckedKeepsTheField) {
    auto b = RecBindings();
    Rec rec{u"a", 4, 0, 7, 0, 0, 0};  // a value with no button of its own
    FakeControls c;
    ShowFields(b, rec, c);
    EXPECT_FALSE(c.checks[3] || c.checks[4] || c.checks[5]);
    TakeResult r = TakeControls(Shapes(b), c);
    ASSERT_TRUE(r.ok);
    StoreFields(b, r, rec);
    EXPECT_EQ(rec.mode, 7);
}

}  // namespace
}  // namespace movra
