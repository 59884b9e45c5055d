// The COM adapter against an in-test server object: what goes out on each slot, what comes back,
// and how failures and odd values surface.
#include <windows.h>

#include <gtest/gtest.h>
#include <oleauto.h>

#include <functional>
#include <vector>

#include "engine/win/com_connector.h"
#include "engine/win/com_variant.h"
#include "engine/win/ti_interface.h"

using movra::ConversionError;
using movra::TiError;
using movra::Variant;
using movra::VarType;
using movra::com::FromVariant;
using movra::com::ToVariant;
using movra::com::VariantHolder;

namespace {

// One call as the server object saw it.
struct Seen {
    int slot = 0;
    std::vector<int> ints;
    std::vector<VARTYPE> kinds;  // the VARIANT arguments' types, in order
    std::vector<Variant> values;
};

class FakeServer final : public movra::com::TiServerObject {
  public:
    std::vector<Seen> calls;
    HRESULT status = S_OK;
    std::function<void(VARIANT*)> result = [](VARIANT*) {};
    ULONG refs = 1;

    HRESULT __stdcall QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG __stdcall AddRef() override { return ++refs; }
    ULONG __stdcall Release() override { return --refs; }

    HRESULT __stdcall ListUsers(int what, VARIANT from, VARIANT count, int flags,
                                VARIANT* out) override {
        Record(9, {what, flags}, {&from, &count});
        return Answer(out);
    }
    HRESULT __stdcall Login(VARIANT password, VARIANT* out) override {
        Record(42, {}, {&password});
        return Answer(out);
    }
    HRESULT __stdcall GetUserInfo(VARIANT name, VARIANT* out) override {
        Record(45, {}, {&name});
        return Answer(out);
    }
    HRESULT __stdcall GetProperty(int kind, VARIANT object, VARIANT property,
                                  VARIANT* out) override {
        Record(53, {kind}, {&object, &property});
        return Answer(out);
    }
    HRESULT __stdcall SetProperty(int kind, VARIANT object, VARIANT property, VARIANT value,
                                  int flag) override {
        Record(54, {kind, flag}, {&object, &property, &value});
        return status;
    }

  private:
    void Record(int slot, std::vector<int> ints, std::vector<const VARIANT*> args) {
        Seen s;
        s.slot = slot;
        s.ints = std::move(ints);
        for (const VARIANT* a : args) {
            s.kinds.push_back(V_VT(a));
            s.values.push_back(FromVariant(*a));
        }
        calls.push_back(std::move(s));
    }
    HRESULT Answer(VARIANT* out) {
        result(out);
        return status;
    }
};

// The server object's vtable has the slots at the places the program calls.
TEST(ComInterface, SlotsSitWhereTheServerHasThem) {
    using Table = void* const*;
    FakeServer fake;
    Table table = *reinterpret_cast<Table*>(static_cast<movra::com::ITiServer*>(&fake));
    using ListFn = HRESULT(__stdcall*)(void*, int, VARIANT, VARIANT, int, VARIANT*);
    using OneFn = HRESULT(__stdcall*)(void*, VARIANT, VARIANT*);
    using GetFn = HRESULT(__stdcall*)(void*, int, VARIANT, VARIANT, VARIANT*);
    using SetFn = HRESULT(__stdcall*)(void*, int, VARIANT, VARIANT, VARIANT, int);
    VARIANT e;
    VariantInit(&e);
    VariantHolder out;
    reinterpret_cast<ListFn>(table[9])(&fake, 19, e, e, 0, out.out());
    reinterpret_cast<OneFn>(table[42])(&fake, e, out.out());
    reinterpret_cast<OneFn>(table[45])(&fake, e, out.out());
    reinterpret_cast<GetFn>(table[53])(&fake, 3, e, e, out.out());
    reinterpret_cast<SetFn>(table[54])(&fake, 3, e, e, e, 1);
    ASSERT_EQ(fake.calls.size(), 5u);
    EXPECT_EQ(fake.calls[0].slot, 9);
    EXPECT_EQ(fake.calls[1].slot, 42);
    EXPECT_EQ(fake.calls[2].slot, 45);
    EXPECT_EQ(fake.calls[3].slot, 53);
    EXPECT_EQ(fake.calls[4].slot, 54);
}

TEST(ComAdapter, EachCallSendsTheArgumentKindsTheServerExpects) {
    FakeServer fake;
    fake.AddRef();  // the adapter takes one reference; the test keeps its own
    auto server = movra::WrapTiServer(&fake);

    server->ListUsers();
    server->Login(u"пароль 1");
    server->GetUserInfo(u"Иван");
    server->GetProperty(movra::kKindUser, u"Иван", movra::PropName(u"User_InBandwidth"));
    server->GetProperty(movra::kKindGroup, u"Отдел", movra::PropNumber(18));
    server->SetProperty(movra::kKindUser, u"Иван", movra::PropNumber(31), Variant::I4(128));
    server->SetProperty(movra::kKindUser, u"Иван", movra::PropName(u"User_OutBandwidth"),
                        Variant::Int(0));

    ASSERT_EQ(fake.calls.size(), 7u);
    const Seen& list = fake.calls[0];
    EXPECT_EQ(list.slot, 9);
    EXPECT_EQ(list.ints, (std::vector<int>{19, 0}));
    EXPECT_EQ(list.kinds, (std::vector<VARTYPE>{VT_INT, VT_INT}));
    EXPECT_EQ(list.values, (std::vector<Variant>{Variant::Int(0), Variant::Int(0)}));

    EXPECT_EQ(fake.calls[1].slot, 42);
    EXPECT_EQ(fake.calls[1].kinds, std::vector<VARTYPE>{VT_BSTR});
    EXPECT_EQ(fake.calls[1].values[0], Variant::BStr(u"пароль 1"));

    EXPECT_EQ(fake.calls[2].slot, 45);
    EXPECT_EQ(fake.calls[2].values[0], Variant::BStr(u"Иван"));

    const Seen& byName = fake.calls[3];
    EXPECT_EQ(byName.slot, 53);
    EXPECT_EQ(byName.ints, std::vector<int>{3});
    EXPECT_EQ(byName.kinds, (std::vector<VARTYPE>{VT_BSTR, VT_BSTR}));
    EXPECT_EQ(byName.values[1], Variant::BStr(u"User_InBandwidth"));
    const Seen& byNumber = fake.calls[4];
    EXPECT_EQ(byNumber.ints, std::vector<int>{2});
    EXPECT_EQ(byNumber.kinds, (std::vector<VARTYPE>{VT_BSTR, VT_INT}));
    EXPECT_EQ(byNumber.values[1], Variant::Int(18));

    const Seen& set = fake.calls[5];
    EXPECT_EQ(set.slot, 54);
    EXPECT_EQ(set.ints, (std::vector<int>{3, 1}));
    EXPECT_EQ(set.kinds, (std::vector<VARTYPE>{VT_BSTR, VT_INT, VT_I4}));
    EXPECT_EQ(set.values[2], Variant::I4(128));
    EXPECT_EQ(fake.calls[6].kinds, (std::vector<VARTYPE>{VT_BSTR, VT_BSTR, VT_INT}));

    EXPECT_EQ(fake.refs, 2u);
    server.reset();
    EXPECT_EQ(fake.refs, 1u) << "the object is released when the server goes";
}

TEST(ComAdapter, NegativeStatusThrowsWithThatCodeAndOtherStatusesSucceed) {
    FakeServer fake;
    auto server = movra::WrapTiServer(&fake);
    const HRESULT failures[] = {E_FAIL, static_cast<HRESULT>(0x80070005),
                                static_cast<HRESULT>(0x80020006), static_cast<HRESULT>(0x8000FFFF)};
    for (HRESULT hr : failures) {
        fake.status = hr;
        // A failing server may still have put something into the result; it must not leak out.
        fake.result = [](VARIANT* out) {
            V_VT(out) = VT_BSTR;
            V_BSTR(out) = SysAllocString(L"junk");
        };
        auto expectCode = [&](auto&& call) {
            try {
                call();
                ADD_FAILURE() << "no error for status " << std::hex << hr;
            } catch (const TiError& e) {
                EXPECT_EQ(e.status(), static_cast<int32_t>(hr));
            }
        };
        expectCode([&] { server->ListUsers(); });
        expectCode([&] { server->Login(u"x"); });
        expectCode([&] { server->GetUserInfo(u"x"); });
        expectCode([&] { server->GetProperty(3, u"x", movra::PropNumber(78)); });
        expectCode([&] { server->SetProperty(3, u"x", movra::PropNumber(31), Variant::I4(1)); });
    }
    // S_FALSE is not a failure of the call.
    fake.status = S_FALSE;
    fake.result = [](VARIANT* out) {
        V_VT(out) = VT_I4;
        V_I4(out) = 7;
    };
    EXPECT_EQ(server->GetProperty(3, u"x", movra::PropNumber(31)), Variant::I4(7));
    EXPECT_NO_THROW(server->SetProperty(3, u"x", movra::PropNumber(31), Variant::I4(1)));
}

TEST(ComAdapter, ResultsOfUnsupportedKindsRaiseConversionErrors) {
    FakeServer fake;
    auto server = movra::WrapTiServer(&fake);
    FakeServer other;  // any object will do as a value the program cannot use
    fake.result = [&](VARIANT* out) {
        V_VT(out) = VT_DISPATCH;
        V_DISPATCH(out) = &other;
        other.AddRef();
    };
    EXPECT_THROW(server->GetProperty(3, u"x", movra::PropNumber(8)), ConversionError);
    EXPECT_THROW(server->GetUserInfo(u"x"), ConversionError);
    EXPECT_EQ(other.refs, 1u) << "the returned object was released";
}

// ---- VARIANT conversions ----

SAFEARRAY* VariantArray(LONG lower, std::vector<Variant> items) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(items.size()), lower};
    SAFEARRAY* sa = SafeArrayCreate(VT_VARIANT, 1, &bound);
    for (size_t i = 0; i < items.size(); ++i) {
        VariantHolder v;
        ToVariant(items[i], v.get());
        LONG index = lower + static_cast<LONG>(i);
        SafeArrayPutElement(sa, &index, v.get());
    }
    return sa;
}

TEST(ComVariant, ReadsScalarsOfEveryWidth) {
    struct Case {
        VARTYPE vt;
        std::function<void(VARIANT&)> set;
        Variant want;
    };
    const Case cases[] = {
        {VT_EMPTY, [](VARIANT&) {}, Variant{}},
        {VT_NULL, [](VARIANT&) {}, Variant{}},
        {VT_I4, [](VARIANT& v) { V_I4(&v) = -5; }, Variant::I4(-5)},
        {VT_INT, [](VARIANT& v) { V_INT(&v) = 9; }, Variant::Int(9)},
        {VT_I2, [](VARIANT& v) { V_I2(&v) = -300; }, Variant::I4(-300)},
        {VT_UI1, [](VARIANT& v) { V_UI1(&v) = 200; }, Variant::I4(200)},
        {VT_BOOL, [](VARIANT& v) { V_BOOL(&v) = VARIANT_TRUE; }, Variant::I4(-1)},
        {VT_UI4, [](VARIANT& v) { V_UI4(&v) = 4000000000u; }, Variant::R8(4000000000.0)},
        {VT_UI4, [](VARIANT& v) { V_UI4(&v) = 12; }, Variant::I4(12)},
        {VT_I8, [](VARIANT& v) { V_I8(&v) = 5000000000LL; }, Variant::R8(5000000000.0)},
        {VT_R4, [](VARIANT& v) { V_R4(&v) = 1.5f; }, Variant::R8(1.5)},
        {VT_R8, [](VARIANT& v) { V_R8(&v) = 1e12; }, Variant::R8(1e12)},
        {VT_DATE, [](VARIANT& v) { V_DATE(&v) = 45000.25; }, Variant::Date(45000.25)},
        {VT_CY, [](VARIANT& v) { V_CY(&v).int64 = 25000; }, Variant::R8(2.5)},
    };
    for (const Case& c : cases) {
        VariantHolder v;
        V_VT(v.get()) = c.vt;
        c.set(*v.get());
        EXPECT_EQ(FromVariant(*v), c.want) << "type " << c.vt;
    }
}

TEST(ComVariant, StringsKeepEveryCodeUnit) {
    VariantHolder v;
    const wchar_t raw[] = L"a\0b\u0416";
    V_VT(v.get()) = VT_BSTR;
    V_BSTR(v.get()) = SysAllocStringLen(raw, 4);
    EXPECT_EQ(FromVariant(*v), Variant::BStr(movra::Text(u"a\0b\u0416", 4)));
    // A null BSTR is the empty string by COM's rules.
    VariantHolder null;
    V_VT(null.get()) = VT_BSTR;
    V_BSTR(null.get()) = nullptr;
    EXPECT_EQ(FromVariant(*null), Variant::BStr(u""));
}

TEST(ComVariant, ReadsArraysWithinTheirBounds) {
    // A one-based array: its elements arrive in order, the first at index 0.
    VariantHolder v;
    V_VT(v.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(v.get()) = VariantArray(1, {Variant::BStr(u"Иван"), Variant::I4(1), Variant::R8(2.5)});
    EXPECT_EQ(FromVariant(*v),
              Variant::Array({Variant::BStr(u"Иван"), Variant::I4(1), Variant::R8(2.5)}));

    // An empty array and a null array pointer are both empty.
    VariantHolder empty;
    V_VT(empty.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(empty.get()) = VariantArray(0, {});
    EXPECT_EQ(FromVariant(*empty), Variant::Array({}));
    VariantHolder null;
    V_VT(null.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(null.get()) = nullptr;
    EXPECT_EQ(FromVariant(*null), Variant::Array({}));

    // Arrays of plain values.
    VariantHolder texts;
    V_VT(texts.get()) = VT_ARRAY | VT_BSTR;
    V_ARRAY(texts.get()) = SafeArrayCreateVector(VT_BSTR, 0, 2);
    LONG i = 1;
    BSTR s = SysAllocString(L"b");
    SafeArrayPutElement(V_ARRAY(texts.get()), &i, s);
    SysFreeString(s);
    EXPECT_EQ(FromVariant(*texts), Variant::Array({Variant::BStr(u""), Variant::BStr(u"b")}));
    VariantHolder ints;
    V_VT(ints.get()) = VT_ARRAY | VT_I4;
    V_ARRAY(ints.get()) = SafeArrayCreateVector(VT_I4, 0, 3);
    EXPECT_EQ(FromVariant(*ints), Variant::Array({Variant::I4(0), Variant::I4(0), Variant::I4(0)}));
}

TEST(ComVariant, OddArraysAndValuesAreRefusedOrEmptied) {
    FakeServer object;
    // An object inside an array becomes Empty; the other elements survive.
    {
        SAFEARRAY* sa = VariantArray(0, {Variant::I4(1), Variant{}});
        LONG i = 1;
        VARIANT d;
        V_VT(&d) = VT_DISPATCH;
        V_DISPATCH(&d) = &object;
        SafeArrayPutElement(sa, &i, &d);
        VariantHolder v;
        V_VT(v.get()) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(v.get()) = sa;
        EXPECT_EQ(FromVariant(*v), Variant::Array({Variant::I4(1), Variant{}}));
    }
    EXPECT_EQ(object.refs, 1u);
    // Two dimensions.
    {
        SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
        VariantHolder v;
        V_VT(v.get()) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(v.get()) = SafeArrayCreate(VT_VARIANT, 2, bounds);
        EXPECT_THROW(FromVariant(*v), ConversionError);
    }
    // An array that is not what the VARIANT claims: reading it as VARIANTs would overrun it.
    {
        VariantHolder v;
        V_VT(v.get()) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(v.get()) = SafeArrayCreateVector(VT_I4, 0, 40);
        EXPECT_THROW(FromVariant(*v), ConversionError);
    }
    // An array of objects.
    {
        VariantHolder v;
        V_VT(v.get()) = VT_ARRAY | VT_UNKNOWN;
        V_ARRAY(v.get()) = SafeArrayCreateVector(VT_UNKNOWN, 0, 1);
        EXPECT_THROW(FromVariant(*v), ConversionError);
    }
    // A value by reference is followed.
    {
        VARIANT inner;
        V_VT(&inner) = VT_R8;
        V_R8(&inner) = 3.25;
        VARIANT ref;
        V_VT(&ref) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&ref) = &inner;
        EXPECT_EQ(FromVariant(ref), Variant::R8(3.25));
        LONG n = 4;
        V_VT(&ref) = VT_BYREF | VT_I4;
        V_I4REF(&ref) = &n;
        EXPECT_EQ(FromVariant(ref), Variant::I4(4));
    }
}

TEST(ComVariant, CoreValuesSurviveTheRoundTrip) {
    const Variant values[] = {
        Variant{},
        Variant::I4(-7),
        Variant::Int(31),
        Variant::R8(0.125),
        Variant::Date(45123.5),
        Variant::BStr(u"User_InBandwidth"),
        Variant::Array({}),
        Variant::Array({Variant::BStr(u"Ёж"), Variant::Array({Variant::I4(1)}), Variant{}}),
    };
    for (const Variant& value : values) {
        VariantHolder v;
        ToVariant(value, v.get());
        EXPECT_EQ(FromVariant(*v), value);
    }
}

}  // namespace
