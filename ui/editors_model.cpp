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

Text MaxChannelCaption(const Model& m) {
    return MaxChannelCaption(m.settings.RXMAXkbit, ui::DisplayUnitFor(m.settings));
}

Text GroupsSumCaption(double sum) {
    return Fmt(u"%.2f из 1.0 использовано под группы. Остаток: %.2f", sum, 1.0 - sum);
}

GroupsView BuildGroupsView(const Model& m, const Text& groupName) {
    GroupsView v;
    const ui::DisplayUnit unit = ui::DisplayUnitFor(m.settings);
    double sum = 0;
    for (int32_t g = 1; g < m.NumGroups; ++g) {
        const Group& gr = m.GroupAt(g);
        float koeffSum = 0;
        for (int32_t i = 0; i < m.NumUsers; ++i)
            if (m.User(i).UserGrID == gr.GroupID) koeffSum += m.User(i).UserKTraff;
        GroupRow row{g,
                     {Fmt(u"%d", gr.GroupID), gr.GroupName,
                      GroupLimitCell(gr.GroupMaxIn, m.settings.RXMAXkbit, unit),
                      Fmt(u"%d", gr.UserCount), FixedText(koeffSum, 2)}};
        v.groups.push_back(std::move(row));
        sum += gr.GroupMaxIn;
    }
    v.sumCaption = GroupsSumCaption(sum);
    const int32_t id = m.FindGroupIdByName(groupName);
    for (int32_t i = 0; i < m.NumUsers; ++i) {
        const CTiUserData& u = m.User(i);
        UserRow row{i, u.UserName, FixedText(u.UserKTraff, 2)};
        if (id > 0 && u.UserGrID == id) v.members.push_back(row);
        if (u.UserGrID == 0) v.free.push_back(std::move(row));
    }
    return v;
}

void SelectGroupRow(const Model& m, const Text& nameCell, GroupsEditorState& state) {
    state.groupName = nameCell;
    const int32_t id = m.FindGroupIdByName(nameCell);
    if (id < 0) return;
    const int32_t index = m.FindGroupIndex(id);
    state.share = index < 0 ? 0.0 : static_cast<double>(m.GroupAt(index).GroupMaxIn);
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
    Model& m, const std::vector<Text>& names,
    const std::function<std::optional<LimitEditorFields>(const LimitEditorFields&)>& runDialog) {
    int written = 0;
    for (const Text& name : names) {
        if (name.empty()) break;
        LimitEditorFields fields;
        uint64_t id = 0;
        int32_t hint = -1;
        {
            Model::Guard g(m);
            hint = m.FindUserByName(name);
            if (hint < 0) continue;
            fields = LimitFieldsFromUser(m.User(hint));
            id = m.User(hint).Id;
        }
        std::optional<LimitEditorFields> result = runDialog(fields);
        if (!result) continue;
        Model::Guard g(m);
        const int32_t index = m.FindUserById(id, hint);
        if (index < 0) continue;
        ApplyLimitFields(*result, m.User(index));
        ++written;
    }
    return written;
}

}  // namespace movra
