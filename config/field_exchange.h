#pragma once
// Moving values between a record and the controls of a dialog, with the standard messages for a
// text that cannot be taken. Portable: the dialogs reach their controls through ControlAccess.
//
// What each kind accepts (one definition, used by every dialog):
// - blanks (space, tab) before and after the number are ignored; an empty text is refused;
// - unsigned: decimal digits with an optional '+'; any '-' is refused; above 4294967295 refused;
// - integer: decimal digits with an optional '+' or '-'; outside the 32-bit range refused;
// - real: optional sign, digits with at most one decimal point ('.' or ','), at least one digit,
//   an optional exponent (e/E, optional sign, digits); a result that is not finite or does not
//   fit a double (or a float, for a binding that keeps the value in single precision) is
//   refused; inf, nan and hexadecimal forms are refused;
// - text and password text take the control's text as is, never trimmed.
// A value that parses but lies outside the binding's range is refused too, and is not stored.
#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

#include "core/text.h"

namespace movra {

inline constexpr char16_t kMsgInteger[] = u"Please enter an integer.";
inline constexpr char16_t kMsgPositiveInteger[] = u"Please enter a positive integer.";
inline constexpr char16_t kMsgNumber[] = u"Please enter a number.";

std::optional<uint32_t> ParseUnsigned(TextView text);
std::optional<int32_t> ParseInteger(TextView text);
std::optional<double> ParseReal(TextView text);

Text FormatUnsigned(uint32_t v);
Text FormatInteger(int32_t v);
// Up to 15 significant digits ("%.*g" with 15), always with a decimal point.
Text FormatReal(double v);

// "Please enter an integer between 0 and 500." and "Please enter a number between 0 and 1000000."
Text IntegerRangeMessage(int64_t lo, int64_t hi);
Text RealRangeMessage(double lo, double hi);

// A dialog's controls, as the exchange sees them.
class ControlAccess {
  public:
    virtual ~ControlAccess() = default;
    virtual Text GetText(int id) = 0;
    virtual void SetText(int id, const Text& text) = 0;
    virtual bool GetCheck(int id) = 0;
    virtual void SetCheck(int id, bool on) = 0;
    // Gives the control the keyboard focus (and selects an edit's text).
    virtual void Focus(int id) = 0;
};

enum class FieldKind { kText, kPassword, kUnsigned, kInteger, kReal, kCheck, kRadio };

// One control (or, for a radio group, its buttons in value order) bound to one field of Rec.
template <class Rec>
struct Binding {
    using Member =
        std::variant<Text Rec::*, uint32_t Rec::*, int32_t Rec::*, double Rec::*, float Rec::*>;
    FieldKind kind;
    std::vector<int> ids;
    Member member;
    bool ranged = false;
    double lo = 0;
    double hi = 0;
    bool showOnly = false;  // read-only controls: shown, never taken
    bool single = false;    // a real kept in single precision somewhere: must fit a float
};

// A binding of `member` to the controls `ids`.
template <class Rec, class M>
Binding<Rec> Bind(FieldKind kind, std::vector<int> ids, M member) {
    return Binding<Rec>{kind, std::move(ids), member};
}

// A value taken from a control; monostate when the control gives none (a radio group with no
// button checked), so that the field keeps its value.
using TakenValue = std::variant<std::monostate, Text, int64_t, double>;

struct TakeResult {
    std::vector<TakenValue> values;  // one per binding, in order, up to the failing one
    bool ok = true;
    int failedId = 0;
    Text message;  // the message to show, empty when ok
};

// Shape of a binding without its record, for the portable take loop.
struct FieldShape {
    FieldKind kind;
    const std::vector<int>* ids;
    bool ranged;
    double lo, hi;
    bool showOnly;
    bool single;
};

// Reads the controls in binding order and stops at the first one that cannot be taken. Only
// gives the focus to the failing control; the caller shows the message (outside any lock)
// and stores the values taken before it.
TakeResult TakeControls(const std::vector<FieldShape>& shapes, ControlAccess& controls);

template <class Rec>
std::vector<FieldShape> Shapes(const std::vector<Binding<Rec>>& bindings) {
    std::vector<FieldShape> out;
    out.reserve(bindings.size());
    for (const auto& b : bindings)
        out.push_back({b.kind, &b.ids, b.ranged, b.lo, b.hi, b.showOnly, b.single});
    return out;
}

namespace detail {
void ShowText(ControlAccess& c, const FieldShape& s, const Text& v);
void ShowNumber(ControlAccess& c, const FieldShape& s, double v);
void ShowInt(ControlAccess& c, const FieldShape& s, int64_t v);
}  // namespace detail

// Record to controls.
template <class Rec>
void ShowFields(const std::vector<Binding<Rec>>& bindings, const Rec& rec,
                ControlAccess& controls) {
    for (const auto& b : bindings) {
        FieldShape s{b.kind, &b.ids, b.ranged, b.lo, b.hi, b.showOnly, b.single};
        std::visit(
            [&](auto m) {
                using T = std::decay_t<decltype(rec.*m)>;
                if constexpr (std::is_same_v<T, Text>) {
                    detail::ShowText(controls, s, rec.*m);
                } else if constexpr (std::is_floating_point_v<T>) {
                    detail::ShowNumber(controls, s, static_cast<double>(rec.*m));
                } else {
                    detail::ShowInt(controls, s, static_cast<int64_t>(rec.*m));
                }
            },
            b.member);
    }
}

// Stores the values TakeControls gave (the first values.size() bindings).
template <class Rec>
void StoreFields(const std::vector<Binding<Rec>>& bindings, const TakeResult& taken, Rec& rec) {
    for (size_t i = 0; i < taken.values.size() && i < bindings.size(); ++i) {
        const TakenValue& v = taken.values[i];
        if (std::holds_alternative<std::monostate>(v)) continue;
        std::visit(
            [&](auto m) {
                using T = std::decay_t<decltype(rec.*m)>;
                if constexpr (std::is_same_v<T, Text>) {
                    if (auto* t = std::get_if<Text>(&v)) rec.*m = *t;
                } else if constexpr (std::is_floating_point_v<T>) {
                    if (auto* d = std::get_if<double>(&v)) rec.*m = static_cast<T>(*d);
                } else {
                    if (auto* n = std::get_if<int64_t>(&v)) rec.*m = static_cast<T>(*n);
                }
            },
            bindings[i].member);
    }
}

}  // namespace movra
