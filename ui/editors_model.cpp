#include "ui/editors_model.h"

#include <algorithm>

#include "ui/editors_res.h"

namespace movra {

std::vector<Binding<GroupsEditorState>> GroupsEditorBindings() {
    using G = GroupsEditorState;
    std::vector<Binding<G>> b;
    b.push_back(Bind<G>(FieldKind::kText, {IDC_GR_NAME}, &G::groupName));
    // GroupMaxIn is a float: a share beyond it would be stored as inf.
    auto share = Bind<G>(FieldKind::kReal, {IDC_GR_SHARE}, &G::share);
    share.single = true;
    b.push_back(share);
    return b;
}

Text GroupLimitCell(float share, uint32_t rxMaxKbit, const ui::DisplayUnit& unit) {
    const double s = share;
    return FixedText(s * 100.0, 2) + u"% (" +
           FixedText(static_cast<double>(rxMaxKbit) * s / unit.divisor, 1) + u' ' + unit.unit +
           u" max)";
}

Text MaxChannelCaption(uint32_t rxMaxKbit, const ui::DisplayUnit& unit) {
    return Fmt(u"Макс. канал на прием: %0.1f ", static_cast<double>(rxMaxKbit) / unit.divisor) +
           unit.unit;
}

Text MaxChannelCaption(const Settings& s) {
    return MaxChannelCaption(s.RXMAXkbit, ui::DisplayUnitFor(s));
}

Text GroupsSumCaption(double sum) {
    return Fmt(u"%.2f из 1.0 использовано под группы. Остаток: %.2f", sum, 1.0 - sum);
}

GroupsView BuildGroupsView(const AppSnapshot& s, const Text& groupName) {
    GroupsView v;
    const ui::DisplayUnit unit = ui::DisplayUnitFor(s.settings);
    double sum = 0;
    for (size_t g = 1; g < s.groups.size(); ++g) {
        const Group& gr = s.groups[g];
        float koeffSum = 0;
        for (const CTiUserData& u : s.users)
            if (u.UserGrID == gr.GroupID) koeffSum += u.UserKTraff;
        GroupRow row{static_cast<int32_t>(g),
                     {Fmt(u"%d", gr.GroupID), gr.GroupName,
                      GroupLimitCell(gr.GroupMaxIn, s.settings.RXMAXkbit, unit),
                      Fmt(u"%d", gr.UserCount), FixedText(koeffSum, 2)}};
        v.groups.push_back(std::move(row));
        sum += gr.GroupMaxIn;
    }
    v.sumCaption = GroupsSumCaption(sum);
    const int32_t id =
        FindGroupIdByName(s.groups, static_cast<int32_t>(s.groups.size()), groupName);
    for (size_t i = 0; i < s.users.size(); ++i) {
        const CTiUserData& u = s.users[i];
        UserRow row{static_cast<int32_t>(i), u.UserName, FixedText(u.UserKTraff, 2)};
        if (id > 0 && u.UserGrID == id) v.members.push_back(row);
        if (u.UserGrID == 0) v.free.push_back(std::move(row));
    }
    return v;
}

void SelectGroupRow(const AppSnapshot& s, const Text& nameCell, GroupsEditorState& state) {
    state.groupName = nameCell;
    const int32_t id = FindGroupIdByName(s.groups, static_cast<int32_t>(s.groups.size()), nameCell);
    if (id < 0) return;
    const int32_t index = FindGroupIndex(s.groups, static_cast<int32_t>(s.groups.size()), id);
    state.share = index < 0 ? 0.0 : static_cast<double>(s.groups[index].GroupMaxIn);
}

std::vector<Binding<LimitEditorFields>> LimitEditorBindings() {
    using F = LimitEditorFields;
    using K = FieldKind;
    std::vector<Binding<F>> b;
    auto shown = [](Binding<F> x) {
        x.showOnly = true;
        return x;
    };
    b.push_back(shown(Bind<F>(K::kText, {IDC_CHG_NAME}, &F::UserName)));
    b.push_back(shown(Bind<F>(K::kInteger, {IDC_CHG_CUR_IN}, &F::CurIn)));
    b.push_back(shown(Bind<F>(K::kInteger, {IDC_CHG_CUR_OUT}, &F::CurOut)));
    b.push_back(Bind<F>(K::kInteger, {IDC_CHG_NEW_IN}, &F::NewIn));
    b.push_back(Bind<F>(K::kInteger, {IDC_CHG_NEW_OUT}, &F::NewOut));
    auto k = Bind<F>(K::kReal, {IDC_CHG_KOEFF}, &F::KTraff);
    k.ranged = true;
    k.lo = 0;
    k.hi = kMaxKTraff;
    b.push_back(k);
    b.push_back(Bind<F>(K::kInteger, {IDC_CHG_MAX_IN}, &F::MaxIn));
    b.push_back(Bind<F>(K::kInteger, {IDC_CHG_MAX_OUT}, &F::MaxOut));
    return b;
}

int EditLimitsLoop(
    AppPort& app, const std::vector<Text>& names,
    const std::function<std::optional<LimitEditorFields>(const LimitEditorFields&)>& runDialog) {
    int written = 0;
    AppSnapshot snapshot;
    for (const Text& name : names) {
        if (name.empty()) break;
        app.Snapshot(snapshot);
        const auto user = std::find_if(snapshot.users.begin(), snapshot.users.end(),
                                       [&](const CTiUserData& u) { return u.UserName == name; });
        if (user == snapshot.users.end()) continue;
        std::optional<LimitEditorFields> result = runDialog(LimitFieldsFromUser(*user));
        if (!result) continue;
        if (app.SetUserLimits({user->Id, *result})) ++written;
    }
    return written;
}

}  // namespace movra
