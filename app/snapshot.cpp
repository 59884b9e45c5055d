#include "app/snapshot.h"

namespace movra {

void CopySnapshot(Model& m, uint32_t connState, AppSnapshot& out) {
    Model::Guard g(m);
    out.users.assign(m.Users.begin(), m.Users.begin() + m.NumUsers);
    out.groups.assign(m.Groups.begin(), m.Groups.begin() + m.NumGroups);
    out.serverRow = m.ServerRow;
    out.serverRowTexts = m.ServerRowTexts;
    out.settings = m.settings;
    out.connState = connState;
}

}  // namespace movra
