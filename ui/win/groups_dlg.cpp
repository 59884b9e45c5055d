// CGroupsDlg, "Редактор групп": works on the model's groups and users directly; every button
// takes effect at once. The lists are rebuilt from a copy made under the lock, so the lock is
// never held while the list views run.
#include <windows.h>

#include <commctrl.h>

#include "ui/editors_model.h"
#include "ui/editors_res.h"
#include "ui/win/dialog_controls.h"
#include "ui/win/editors.h"

namespace movra {

namespace {

constexpr UINT_PTR kImportTimer = 1;
constexpr UINT kImportPollMs = 250;

struct GroupsContext {
    Model& model;
    GroupsEditorState& state;
    const EditorHooks& hooks;
    std::vector<Binding<GroupsEditorState>> bindings;
    bool refreshing = false;
};

void AddRow(HWND list, int32_t data, const Text* cells, int n) {
    LVITEMW it = {};
    it.mask = LVIF_TEXT | LVIF_PARAM;
    it.iItem = ListView_GetItemCount(list);
    it.pszText = WMutable(cells[0]);
    it.lParam = data;
    const int row = ListView_InsertItem(list, &it);
    for (int c = 1; c < n; ++c) ListView_SetItemText(list, row, c, WMutable(cells[c]));
}

Text CellText(HWND list, int row, int col) {
    wchar_t buf[512] = {};
    ListView_GetItemText(list, row, col, buf, 511);
    return FromWide(buf);
}

// The name cell of the first selected row, or nothing.
bool FirstSelectedName(HWND list, int col, Text& name) {
    const int row = ListView_GetNextItem(list, -1, LVNI_SELECTED);
    if (row < 0) return false;
    name = CellText(list, row, col);
    return true;
}

void FillUsers(HWND list, const std::vector<UserRow>& rows) {
    ListView_DeleteAllItems(list);
    for (const UserRow& r : rows) {
        Text cells[2] = {r.name, r.koeff};
        AddRow(list, r.index, cells, 2);
    }
}

void RefreshUserLists(HWND dlg, GroupsContext& ctx) {
    GroupsView v;
    {
        Model::Guard g(ctx.model);
        v = BuildGroupsView(ctx.model, ctx.state.groupName);
    }
    FillUsers(GetDlgItem(dlg, IDC_GR_MEMBERS), v.members);
    FillUsers(GetDlgItem(dlg, IDC_GR_FREE_USERS), v.free);
}

void RefreshGroups(HWND dlg, GroupsContext& ctx) {
    GroupsView v;
    {
        Model::Guard g(ctx.model);
        v = BuildGroupsView(ctx.model, ctx.state.groupName);
    }
    ctx.refreshing = true;
    HWND list = GetDlgItem(dlg, IDC_GR_LIST);
    ListView_DeleteAllItems(list);
    for (const GroupRow& r : v.groups) AddRow(list, r.index, r.cells, 5);
    ctx.refreshing = false;
    SetDlgItemTextW(dlg, IDC_GR_CAPTION_RIGHT, W(v.sumCaption));
    FillUsers(GetDlgItem(dlg, IDC_GR_MEMBERS), v.members);
    FillUsers(GetDlgItem(dlg, IDC_GR_FREE_USERS), v.free);
}

void ShowState(HWND dlg, GroupsContext& ctx) {
    DlgControls c(dlg);
    ShowFields(ctx.bindings, ctx.state, c);
}

void UpdateLeftCaption(HWND dlg, GroupsContext& ctx) {
    Text caption;
    {
        Model::Guard g(ctx.model);
        caption = MaxChannelCaption(ctx.model);
    }
    HWND h = GetDlgItem(dlg, IDC_GR_CAPTION_LEFT);
    if (WindowText(h) != caption) SetWindowTextW(h, W(caption));
}

void OnGroupSelected(HWND dlg, GroupsContext& ctx) {
    Text name;
    if (!FirstSelectedName(GetDlgItem(dlg, IDC_GR_LIST), 1, name)) return;
    {
        Model::Guard g(ctx.model);
        SelectGroupRow(ctx.model, name, ctx.state);
    }
    ShowState(dlg, ctx);
    RefreshUserLists(dlg, ctx);
}

void OnAddOrChange(HWND dlg, GroupsContext& ctx) {
    // A share that is not a number stops the command after the message.
    if (!TakeAndReport(dlg, Shapes(ctx.bindings),
                       [&](const TakeResult& r) { StoreFields(ctx.bindings, r, ctx.state); }))
        return;
    {
        Model::Guard g(ctx.model);
        if (!AddOrChangeGroup(ctx.model, ctx.state.groupName, ctx.state.share)) return;
    }
    RefreshGroups(dlg, ctx);
}

void OnCommand(HWND dlg, GroupsContext& ctx, int id) {
    switch (id) {
        case IDC_GR_ADD:
            OnAddOrChange(dlg, ctx);
            break;
        case IDC_GR_TO_GROUP: {
            Text user;
            if (!FirstSelectedName(GetDlgItem(dlg, IDC_GR_FREE_USERS), 0, user)) return;
            bool moved;
            {
                Model::Guard g(ctx.model);
                moved = MoveUserToGroup(ctx.model, user, ctx.state.groupName);
            }
            if (moved) RefreshGroups(dlg, ctx);
            break;
        }
        case IDC_GR_FROM_GROUP: {
            Text user;
            if (!FirstSelectedName(GetDlgItem(dlg, IDC_GR_MEMBERS), 0, user)) return;
            {
                Model::Guard g(ctx.model);
                RemoveUserFromGroup(ctx.model, user);
            }
            RefreshGroups(dlg, ctx);
            break;
        }
        case IDC_GR_DELETE: {
            bool deleted;
            {
                Model::Guard g(ctx.model);
                deleted = DeleteGroupByName(ctx.model, ctx.state.groupName);
            }
            if (deleted) RefreshGroups(dlg, ctx);
            break;
        }
        case IDC_GR_IMPORT:
            if (ctx.hooks.StartGroupsImport) ctx.hooks.StartGroupsImport();
            {
                Model::Guard g(ctx.model);
                ctx.model.RecountGroupUsers();
            }
            RefreshGroups(dlg, ctx);
            // Draw again once the import has brought its groups.
            if (ctx.hooks.ImportRunning) SetTimer(dlg, kImportTimer, kImportPollMs, nullptr);
            break;
        case IDCANCEL:
        case IDOK:
            KillTimer(dlg, kImportTimer);
            EndDialog(dlg, id);
            break;
        default:
            break;
    }
}

INT_PTR HandleGroups(HWND dlg, UINT msg, WPARAM wp, LPARAM lp, GroupsContext& ctx) {
    switch (msg) {
        case WM_INITDIALOG: {
            SetListColumns(GetDlgItem(dlg, IDC_GR_LIST), {{L"Ид.", 20},
                                                          {L"Имя", 100},
                                                          {L"Ограничение на прием", 150},
                                                          {L"Кол-во польз.", 110},
                                                          {L"Сумм.коефф.", 110}});
            SetListColumns(GetDlgItem(dlg, IDC_GR_FREE_USERS),
                           {{L"Пользователи без групп", 150}, {L"Коефф.", 60}});
            SetListColumns(GetDlgItem(dlg, IDC_GR_MEMBERS),
                           {{L"Пользователи группы", 150}, {L"Коефф.", 60}});
            ShowState(dlg, ctx);
            UpdateLeftCaption(dlg, ctx);
            RefreshGroups(dlg, ctx);
            return TRUE;
        }
        case WM_PAINT:
            UpdateLeftCaption(dlg, ctx);
            return FALSE;
        case WM_TIMER:
            if (wp == kImportTimer && !(ctx.hooks.ImportRunning && ctx.hooks.ImportRunning())) {
                KillTimer(dlg, kImportTimer);
                {
                    Model::Guard g(ctx.model);
                    ctx.model.RecountGroupUsers();
                }
                RefreshGroups(dlg, ctx);
            }
            return TRUE;
        case WM_NOTIFY: {
            auto* hdr = reinterpret_cast<NMHDR*>(lp);
            if (!ctx.refreshing && hdr->idFrom == IDC_GR_LIST && hdr->code == LVN_ITEMCHANGED) {
                auto* nm = reinterpret_cast<NMLISTVIEW*>(lp);
                if ((nm->uChanged & LVIF_STATE) && (nm->uNewState & LVIS_SELECTED) &&
                    !(nm->uOldState & LVIS_SELECTED))
                    OnGroupSelected(dlg, ctx);
            }
            return FALSE;
        }
        case WM_COMMAND:
            if (HIWORD(wp) == BN_CLICKED) OnCommand(dlg, ctx, LOWORD(wp));
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void ShowGroupsEditor(HWND owner, Model& model, GroupsEditorState& state,
                      const EditorHooks& hooks) {
    GroupsContext ctx{model, state, hooks, GroupsEditorBindings()};
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_GROUPS), owner,
                    DialogProc<GroupsContext, HandleGroups>, reinterpret_cast<LPARAM>(&ctx));
}

}  // namespace movra
