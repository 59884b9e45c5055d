// CChgSpd, "Изменение ограничения скорости клиента": one dialog per selected user; the values
// are copied out under the lock, edited without it, and written back to the same record.
#include <windows.h>

#include "ui/editors_model.h"
#include "ui/editors_res.h"
#include "ui/win/dialog_controls.h"
#include "ui/win/editors.h"

namespace movra {

namespace {

struct ChgSpdContext {
    LimitEditorFields fields;
    std::vector<Binding<LimitEditorFields>> bindings = LimitEditorBindings();
};

INT_PTR HandleChgSpd(HWND dlg, UINT msg, WPARAM wp, LPARAM, ChgSpdContext& ctx) {
    switch (msg) {
        case WM_INITDIALOG: {
            DlgControls c(dlg);
            ShowFields(ctx.bindings, ctx.fields, c);
            return TRUE;
        }
        case WM_COMMAND:
            return EndOnOkOrCancel(dlg, wp, [&] {
                LimitEditorFields edited = ctx.fields;
                if (!TakeAndReport(dlg, Shapes(ctx.bindings), [&](const TakeResult& r) {
                        StoreFields(ctx.bindings, r, edited);
                    }))
                    return false;
                ctx.fields = edited;
                return true;
            });
        default:
            return FALSE;
    }
}

}  // namespace

void EditUserLimits(HWND owner, AppPort& app, const std::vector<Text>& selectedNames) {
    EditLimitsLoop(
        app, selectedNames, [&](const LimitEditorFields& f) -> std::optional<LimitEditorFields> {
            ChgSpdContext ctx{f};
            INT_PTR r = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CHGSPD),
                                        owner, DialogProc<ChgSpdContext, HandleChgSpd>,
                                        reinterpret_cast<LPARAM>(&ctx));
            if (r != IDOK) return std::nullopt;
            return ctx.fields;
        });
}

}  // namespace movra
