// CChgSpd, "Изменение ограничения скорости клиента": one dialog per selected user; the values
// are copied out under the lock, edited without it, and written back to the same record.
#include <windows.h>

#include "ui/win/dialog_controls.h"
#include "ui/win/editors.h"
#include "ui/editors_model.h"
#include "ui/editors_res.h"

namespace movra {

namespace {

struct ChgSpdContext {
    LimitEditorFields fields;
    std::vector<Binding<LimitEditorFields>> bindings = LimitEditorBindings();
};

INT_PTR CALLBACK ChgSpdProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    auto* ctx = reinterpret_cast<ChgSpdContext*>(GetWindowLongPtrW(dlg, GWLP_USERDATA));
    switch (msg) {
        case WM_INITDIALOG: {
            ctx = reinterpret_cast<ChgSpdContext*>(lp);
            SetWindowLongPtrW(dlg, GWLP_USERDATA, lp);
            DlgControls c(dlg);
            ShowFields(ctx->bindings, ctx->fields, c);
            return TRUE;
        }
        case WM_COMMAND:
            if (!ctx) return FALSE;
            if (LOWORD(wp) == IDOK) {
                LimitEditorFields edited = ctx->fields;
                if (TakeAndReport(dlg, Shapes(ctx->bindings), [&](const TakeResult& r) {
                        StoreFields(ctx->bindings, r, edited);
                    })) {
                    ctx->fields = edited;
                    EndDialog(dlg, IDOK);
                }
                return TRUE;
            }
            if (LOWORD(wp) == IDCANCEL) {
                EndDialog(dlg, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

void EditUserLimits(HWND owner, Model& model, const std::vector<Text>& selectedNames) {
    EditLimitsLoop(
        model, selectedNames, [&](const LimitEditorFields& f) -> std::optional<LimitEditorFields> {
            ChgSpdContext ctx{f};
            INT_PTR r = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CHGSPD),
                                        owner, ChgSpdProc, reinterpret_cast<LPARAM>(&ctx));
            if (r != IDOK) return std::nullopt;
            return ctx.fields;
        });
}

}  // namespace movra
