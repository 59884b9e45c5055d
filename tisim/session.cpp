// Connections to the simulator: argument checks, the login gate and the journal.
#include <cstdio>

#include "tisim/sim.h"

namespace tisim {

using movra::TiError;

std::string JournalValue(const Variant& v) {
    char buf[64];
    switch (v.type) {
        case VarType::Empty:
            return "EMPTY";
        case VarType::I4:
            return std::string("I4:") + std::to_string(v.i);
        case VarType::Int:
            return std::string("INT:") + std::to_string(v.i);
        case VarType::R8:
        case VarType::Date:
            std::snprintf(buf, sizeof buf, "%s:%.17g", v.type == VarType::R8 ? "R8" : "DATE", v.d);
            return buf;
        case VarType::BStr: {
            // Quoted, with the quote, the backslash and line breaks escaped, so one call
            // stays one line.
            std::string out = "BSTR:\"";
            for (char c : movra::ToUtf8(v.s)) {
                switch (c) {
                    case '"':
                        out += "\\\"";
                        break;
                    case '\\':
                        out += "\\\\";
                        break;
                    case '\n':
                        out += "\\n";
                        break;
                    case '\r':
                        out += "\\r";
                        break;
                    case '\t':
                        out += "\\t";
                        break;
                    default:
                        out += c;
                }
            }
            return out + "\"";
        }
        case VarType::Array:
            return std::string("ARRAY[") + std::to_string(v.a.size()) + "]";
    }
    return "?";
}

namespace {

std::string Hex(int32_t status) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(status));
    return buf;
}

std::string Int32Arg(int32_t v) {
    return std::string("int32:") + std::to_string(v);
}

void RequireText(const Variant& v, const char* what) {
    if (v.type != VarType::BStr) throw TiError(kDISP_E_TYPEMISMATCH, what);
}

}  // namespace

std::optional<int32_t> PropertyNumber(int32_t kind, const Variant& property) {
    int32_t n = 0;
    if (property.type == VarType::BStr) {
        if (kind != movra::kKindUser) return std::nullopt;
        if (property.s == kPropNameLimitIn) return kPropLimitIn;
        if (property.s == kPropNameLimitOut) return kPropLimitOut;
        return std::nullopt;
    }
    if (property.type != VarType::Int && property.type != VarType::I4) return std::nullopt;
    n = property.i;
    if (kind == movra::kKindUser &&
        (n == kPropLimitIn || n == kPropLimitOut || n == kPropDefaultLimits ||
         n == kPropLastActivity || n == kPropGroupName))
        return n;
    if (kind == movra::kKindGroup && n == kPropGroupLimitIn) return n;
    return std::nullopt;
}

Session::Session(std::shared_ptr<Simulator> sim, const Text& host)
    : sim_(std::move(sim)), id_(sim_->NextSessionId()) {
    sim_->Record(std::string("s") + std::to_string(id_) + " Connect " +
                 JournalValue(Variant::BStr(host)) + " -> OK");
}

Session::~Session() {
    sim_->Record(std::string("s") + std::to_string(id_) + " Release -> OK");
}

template <class F>
auto Session::Call(ServerCall call, const std::string& what, F&& body) -> decltype(body()) {
    const std::string head = std::string("s") + std::to_string(id_) + " " + what;
    try {
        sim_->BeginCall();
        sim_->HangIfFaulted(call, head);
        if constexpr (std::is_void_v<decltype(body())>) {
            body();
            sim_->Record(head + " -> OK");
        } else {
            auto result = body();
            sim_->Record(head + " -> OK " + JournalValue(result));
            return result;
        }
    } catch (const TiError& e) {
        sim_->Record(head + " -> ERR " + Hex(e.status()));
        throw;
    }
}

void Session::RequireLogin() const {
    if (!loggedIn_) throw TiError(kE_ACCESSDENIED, "not logged in");
}

Variant Session::ListUsersRaw(int32_t list, const Variant& a, const Variant& b, int32_t c) {
    return Call(ServerCall::List,
                std::string("ListUsers ") + Int32Arg(list) + " " + JournalValue(a) + " " +
                    JournalValue(b) + std::string(" ") + Int32Arg(c),
                [&] {
                    RequireLogin();
                    if (list != 19) throw TiError(kE_INVALIDARG, "unknown list");
                    return sim_->ListUsers();
                });
}

Variant Session::LoginRaw(const Variant& password) {
    return Call(ServerCall::Login, std::string("Login ") + JournalValue(password), [&] {
        RequireText(password, "password is not a text");
        if (!sim_->CheckPassword(password)) {
            loggedIn_ = false;
            throw TiError(kE_ACCESSDENIED, "wrong password");
        }
        loggedIn_ = true;
        return Variant::I4(1);
    });
}

Variant Session::GetUserInfoRaw(const Variant& name) {
    return Call(ServerCall::Info, std::string("GetUserInfo ") + JournalValue(name), [&] {
        RequireLogin();
        RequireText(name, "user name is not a text");
        return sim_->GetUserInfo(name.s);
    });
}

Variant Session::GetPropertyRaw(int32_t kind, const Variant& object, const Variant& property) {
    return Call(ServerCall::Get,
                std::string("GetProperty ") + Int32Arg(kind) + " " + JournalValue(object) + " " +
                    JournalValue(property),
                [&] {
                    RequireLogin();
                    RequireText(object, "object name is not a text");
                    const auto n = PropertyNumber(kind, property);
                    if (!n) throw TiError(kDISP_E_UNKNOWNNAME, "unknown property");
                    return sim_->GetProperty(kind, object.s, *n);
                });
}

void Session::SetPropertyRaw(int32_t kind, const Variant& object, const Variant& property,
                             const Variant& value, int32_t flag) {
    Call(ServerCall::Set,
         std::string("SetProperty ") + Int32Arg(kind) + " " + JournalValue(object) + " " +
             JournalValue(property) + " " + JournalValue(value) + " " + Int32Arg(flag),
         [&] {
             RequireLogin();
             RequireText(object, "object name is not a text");
             const auto n = PropertyNumber(kind, property);
             if (!n) throw TiError(kDISP_E_UNKNOWNNAME, "unknown property");
             sim_->SetProperty(kind, object.s, *n, value);
         });
}

Variant Session::ListUsers() {
    return ListUsersRaw(19, Variant::Int(0), Variant::Int(0), 0);
}

void Session::Login(const Text& password) {
    LoginRaw(Variant::BStr(password));
}

Variant Session::GetUserInfo(const Text& name) {
    return GetUserInfoRaw(Variant::BStr(name));
}

Variant Session::GetProperty(int32_t kind, const Text& object, const Variant& property) {
    return GetPropertyRaw(kind, Variant::BStr(object), property);
}

void Session::SetProperty(int32_t kind, const Text& object, const Variant& property,
                          const Variant& value) {
    SetPropertyRaw(kind, Variant::BStr(object), property, value, 1);
}

std::unique_ptr<movra::TiServer> SimConnector::Connect(const Text& host) {
    return ConnectSession(host);
}

std::unique_ptr<Session> SimConnector::ConnectSession(const Text& host) {
    sim_->BeginCall();
    sim_->HangIfFaulted(ServerCall::Create,
                        std::string("s0 Connect ") + JournalValue(Variant::BStr(host)));
    if (sim_->GetFaults().createFails) {
        sim_->Record(std::string("s0 Connect ") + JournalValue(Variant::BStr(host)) + " -> ERR " +
                     Hex(kREGDB_E_CLASSNOTREG));
        throw TiError(kREGDB_E_CLASSNOTREG, "TiSim object cannot be created");
    }
    return std::make_unique<Session>(sim_, host);
}

}  // namespace tisim
