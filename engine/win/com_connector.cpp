#include "engine/win/com_connector.h"

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include <string>

#include "engine/win/com_ptr.h"
#include "engine/win/com_variant.h"
#include "engine/win/ti_interface.h"

namespace movra {

namespace {

// Owns a VARIANT argument built from a core value; the callee only borrows it.
class Argument {
  public:
    explicit Argument(const Variant& v) { com::ToVariant(v, &v_); }
    ~Argument() { VariantClear(&v_); }
    Argument(const Argument&) = delete;
    Argument& operator=(const Argument&) = delete;
    const VARIANT& get() const { return v_; }

  private:
    VARIANT v_;
};

void Check(HRESULT hr) {
    if (hr < 0) throw TiError(static_cast<int32_t>(hr));
}

class ComTiServer : public TiServer {
  public:
    explicit ComTiServer(com::ITiServer* object) : object_(object) {}

    Variant ListUsers() override {
        Argument from(Variant::Int(0));
        Argument count(Variant::Int(0));
        com::VariantHolder result;
        Check(object_->ListUsers(com::kListUsersWhat, from.get(), count.get(), 0, result.out()));
        return com::FromVariant(*result);
    }

    void Login(const Text& password) override {
        Argument pass(Variant::BStr(password));
        com::VariantHolder result;
        Check(object_->Login(pass.get(), result.out()));
    }

    Variant GetUserInfo(const Text& name) override {
        Argument user(Variant::BStr(name));
        com::VariantHolder result;
        Check(object_->GetUserInfo(user.get(), result.out()));
        return com::FromVariant(*result);
    }

    Variant GetProperty(int32_t kind, const Text& object, const Variant& property) override {
        Argument name(Variant::BStr(object));
        Argument prop(property);
        com::VariantHolder result;
        Check(object_->GetProperty(kind, name.get(), prop.get(), result.out()));
        return com::FromVariant(*result);
    }

    void SetProperty(int32_t kind, const Text& object, const Variant& property,
                     const Variant& value) override {
        Argument name(Variant::BStr(object));
        Argument prop(property);
        Argument val(value);
        Check(
            object_->SetProperty(kind, name.get(), prop.get(), val.get(), com::kSetPropertyCommit));
    }

  private:
    com::ComPtr<com::ITiServer> object_;
};

}  // namespace

void EnterComApartment() {
    thread_local bool entered = false;
    if (entered) return;
    entered = true;
    // A thread that already lives in another apartment keeps it; creation reports any trouble.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
}

std::unique_ptr<TiServer> WrapTiServer(com::ITiServer* object) {
    return std::make_unique<ComTiServer>(object);
}

std::unique_ptr<TiServer> ComConnector::Connect(const Text& host) {
    EnterComApartment();
    // COM wants a writable host name.
    std::wstring name(host.begin(), host.end());
    COSERVERINFO server{};
    server.pwszName = name.data();
    MULTI_QI request{};
    request.pIID = &com::kTiServerIid;
    HRESULT hr = CoCreateInstanceEx(com::kTiServerClsid, nullptr, com::kTiClassContext, &server, 1,
                                    &request);
    com::ComPtr<IUnknown> object(request.pItf);
    if (hr != S_OK || request.hr != S_OK || !object) {
        if (hr == S_OK) hr = FAILED(request.hr) ? request.hr : E_NOINTERFACE;
        throw TiError(static_cast<int32_t>(hr), "the TI server object cannot be created");
    }
    return WrapTiServer(static_cast<com::ITiServer*>(object.release()));
}

}  // namespace movra
