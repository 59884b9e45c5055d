#pragma once
// The TI server as the core sees it: the five operations Movra calls, with a small Variant
// that mirrors the VARIANT kinds the program uses. A failing call throws TiError carrying the
// status code. Implementations: the COM adapter (Windows), TiSim's core, and test doubles.
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/text.h"

namespace movra {

// VARIANT type codes, as numbered by the platform.
enum class VarType : uint16_t {
    Empty = 0,       // VT_EMPTY
    I4 = 3,          // VT_I4
    R8 = 5,          // VT_R8
    Date = 7,        // VT_DATE
    BStr = 8,        // VT_BSTR
    Int = 22,        // VT_INT
    Array = 0x200C,  // VT_ARRAY | VT_VARIANT
};

struct Variant {
    VarType type = VarType::Empty;
    int32_t i = 0;           // I4, Int
    double d = 0.0;          // R8, Date
    Text s;                  // BStr
    std::vector<Variant> a;  // Array

    static Variant I4(int32_t v) {
        Variant x;
        x.type = VarType::I4;
        x.i = v;
        return x;
    }
    static Variant Int(int32_t v) {
        Variant x;
        x.type = VarType::Int;
        x.i = v;
        return x;
    }
    static Variant R8(double v) {
        Variant x;
        x.type = VarType::R8;
        x.d = v;
        return x;
    }
    static Variant Date(double v) {
        Variant x;
        x.type = VarType::Date;
        x.d = v;
        return x;
    }
    static Variant BStr(Text v) {
        Variant x;
        x.type = VarType::BStr;
        x.s = std::move(v);
        return x;
    }
    static Variant Array(std::vector<Variant> v) {
        Variant x;
        x.type = VarType::Array;
        x.a = std::move(v);
        return x;
    }
    bool operator==(const Variant&) const = default;
};

// A failed server call (a negative HRESULT, or a failed object creation).
class TiError : public std::runtime_error {
  public:
    explicit TiError(int32_t status, const std::string& what = "TI server call failed")
        : std::runtime_error(what), status_(status) {}
    int32_t status() const { return status_; }

  private:
    int32_t status_;
};

// Status codes of a failed conversion, as the platform's conversion gives them.
constexpr int32_t kDispTypeMismatch = static_cast<int32_t>(0x80020005);  // DISP_E_TYPEMISMATCH
constexpr int32_t kDispOverflow = static_cast<int32_t>(0x8002000A);      // DISP_E_OVERFLOW

// A server value that cannot be converted to what the program needs.
class ConversionError : public std::runtime_error {
  public:
    explicit ConversionError(const std::string& what, int32_t status = kDispTypeMismatch)
        : std::runtime_error(what), status_(status) {}
    int32_t status() const { return status_; }

  private:
    int32_t status_;
};

// How a server call failed: the server refused it, its answer could not be read (each with its
// status code), or something else went wrong on the way (no code).
struct CallFailure {
    enum Kind { kRefused, kUnreadable, kOther } kind = kOther;
    int32_t status = 0;
};

// Runs `call` (server calls and the reading of their answers) and tells how it failed, or
// nothing when it went through. Every failure is one the caller gets over, whatever its kind:
// a line, a switch to monitoring or the end of the run, never the end of the program.
template <class Call>
std::optional<CallFailure> FailureOf(Call&& call) {
    try {
        call();
        return std::nullopt;
    } catch (const TiError& e) {
        return CallFailure{CallFailure::kRefused, e.status()};
    } catch (const ConversionError& e) {
        return CallFailure{CallFailure::kUnreadable, e.status()};
    } catch (...) {
        return CallFailure{CallFailure::kOther, 0};
    }
}

// Object kinds of GetProperty/SetProperty.
constexpr int32_t kKindGroup = 2;
constexpr int32_t kKindUser = 3;

// Property numbers of GetProperty/SetProperty; a user's unless noted.
constexpr int32_t kPropGroupName = 8;       // the name of the user's group
constexpr int32_t kPropGroupLimitIn = 18;   // a group's summed incoming limit (group kind)
constexpr int32_t kPropDefaultLimits = 30;  // the "default limits" flag
constexpr int32_t kPropLimitIn = 31;        // incoming limit, also named kPropNameLimitIn
constexpr int32_t kPropLimitOut = 32;       // outgoing limit, also named kPropNameLimitOut
constexpr int32_t kPropLastActivity = 78;   // time of the last activity (a date)

// The limits by name, as the regulating writes and the limit reads address them.
inline constexpr char16_t kPropNameLimitIn[] = u"User_InBandwidth";
inline constexpr char16_t kPropNameLimitOut[] = u"User_OutBandwidth";

// Properties are named by text (VT_BSTR) or by number (VT_INT).
inline Variant PropName(const char16_t* name) {
    return Variant::BStr(name);
}
inline Variant PropNumber(int32_t n) {
    return Variant::Int(n);
}

class TiServer {
  public:
    virtual ~TiServer() = default;
    // Slot 9: ListUsers(19, VT_INT 0, VT_INT 0, 0) -> text with DisplayName="..." markers.
    virtual Variant ListUsers() = 0;
    // Slot 42: Login(VT_BSTR password); only success matters.
    virtual void Login(const Text& password) = 0;
    // Slot 45: GetUserInfo(VT_BSTR name) -> an array of at least 35 elements.
    virtual Variant GetUserInfo(const Text& name) = 0;
    // Slot 53.
    virtual Variant GetProperty(int32_t kind, const Text& object, const Variant& property) = 0;
    // Slot 54 (the last argument is always 1).
    virtual void SetProperty(int32_t kind, const Text& object, const Variant& property,
                             const Variant& value) = 0;
};

// Creates a server object on a host; throws TiError when the object cannot be created.
// Each worker thread makes its own, and the object is released when the unique_ptr goes.
class TiConnector {
  public:
    virtual ~TiConnector() = default;
    virtual std::unique_ptr<TiServer> Connect(const Text& host) = 0;
};

// ---- Conversions of server values (VariantChangeType semantics). Each throws
// ConversionError when the value cannot be converted. ----

// To a 32-bit integer (VT_I4): integers as they are, reals rounded half to even, texts parsed;
// an empty value is 0; out-of-range values and arrays fail.
int32_t ToInt32(const Variant& v);
// To a real (VT_R8): integers and reals as they are, dates as their OLE number, texts parsed;
// an empty value is 0.
double ToReal(const Variant& v);
// An OLE date (days since 1899-12-30; the fraction is the time of day, also for negative
// dates) as a calendar date and time; false when outside the years 100 to 9999 or not finite.
bool OleDateToSystemTime(double date, SystemTime& out);
double SystemTimeToOleDate(const SystemTime& t);

// Element `index` of a GetUserInfo result; throws ConversionError when the value is not an
// array or is too short.
const Variant& InfoElement(const Variant& info, size_t index);

}  // namespace movra
