// CGroupsDlg, "Редактор групп": every button takes effect at once, as one request to the
// application; the lists are rebuilt from a snapshot, so the editor never holds the live lists.
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
    AppPort& app;
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

AppSnapshot Snap(const GroupsContext& ctx) {
    AppSnapshot s;
    ctx.app.Snapshot(s);
    return s;
}

bool Request(GroupsContext& ctx, GroupsRequest::Kind kind, const Text& user = {}) {
    return ctx.app.EditGroups({kind, ctx.state.groupName, ctx.state.share, user});
}

void RefreshUserLists(HWND dlg, GroupsContext& ctx) {
    const GroupsView v = BuildGroupsView(Snap(ctx), ctx.state.groupName);
    FillUsers(GetDlgItem(dlg, IDC_GR_MEMBERS), v.members);
    FillUsers(GetDlgItem(dlg, IDC_GR_FREE_USERS), v.free);
}

void RefreshGroups(HWND dlg, GroupsContext& ctx) {
    const GroupsView v = BuildGroupsView(Snap(ctx), ctx.state.groupName);
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
    const Text caption = MaxChannelCaption(ctx.app.CurrentSettings());
    HWND h = GetDlgItem(dlg, IDC_GR_CAPTION_LEFT);
    if (WindowText(h) != caption) SetWindowTextW(h, W(caption));
}

void OnGroupSelected(HWND dlg, GroupsContext& ctx) {
    Text name;
    if (!FirstSelectedName(GetDlgItem(dlg, IDC_GR_LIST), 1, name)) return;
    SelectGroupRow(Snap(ctx), name, ctx.state);
    ShowState(dlg, ctx);
    RefreshUserLists(dlg, ctx);
}

void OnAddOrChange(HWND dlg, GroupsContext& ctx) {
    // A share that is not a number stops the command after the message.
    if (!TakeAndReport(dlg, Shapes(ctx.bindings),
                       [&](const TakeResult& r) { StoreFields(ctx.bindings, r, ctx.state); }))
        return;
    if (!Request(ctx, GroupsRequest::Kind::kAddOrChange)) return;
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
            if (Request(ctx, GroupsRequest::Kind::kMoveUser, user)) RefreshGroups(dlg, ctx);
            break;
        }
        case IDC_GR_FROM_GROUP: {
            Text user;
            if (!FirstSelectedName(GetDlgItem(dlg, IDC_GR_MEMBERS), 0, user)) return;
            Request(ctx, GroupsRequest::Kind::kRemoveUser, user);
            RefreshGroups(dlg, ctx);
            break;
        }
        case IDC_GR_DELETE: {
            if (Request(ctx, GroupsRequest::Kind::kDeleteGroup)) RefreshGroups(dlg, ctx);
            break;
        }
        case IDC_GR_IMPORT:
            if (ctx.hooks.StartGroupsImport) ctx.hooks.StartGroupsImport();
            Request(ctx, GroupsRequest::Kind::kRecount);
            RefreshGroups(dlg, ctx);
            // Draw again once the import has brought its groups.
            SetTimer(dlg, kImportTimer, kImportPollMs, nullptr);
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
            if (wp == kImportTimer && !ctx.app.WorkerRunning()) {
                KillTimer(dlg, kImportTimer);
                Request(ctx, GroupsRequest::Kind::kRecount);
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
        case WM_DPICHANGED:
            // The dialog manager scales the dialog itself; the columns are ours.
            for (int id : {IDC_GR_LIST, IDC_GR_FREE_USERS, IDC_GR_MEMBERS})
                RescaleListColumns(GetDlgItem(dlg, id), HIWORD(wp));
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

void ShowGroupsEditor(HWND owner, AppPort& app, GroupsEditorState& state,
                      const EditorHooks& hooks) {
    GroupsContext ctx{app, state, hooks, GroupsEditorBindings()};
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_GROUPS), owner,
                    DialogProc<GroupsContext, HandleGroups>, reinterpret_cast<LPARAM>(&ctx));
}

}  // namespace movra
