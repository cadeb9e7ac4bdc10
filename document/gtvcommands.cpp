// The GTV proxy's own commands: its rooms (close, describe) and its rcon password.
#include "document/document.h"
#include "base/strutil.h"
#include "monitors/quake3/gtv.h"

namespace orv {

namespace {
CGTV* SelectedGTV(CCommonObject* selected) { return dynamic_cast<CGTV*>(selected); }
}  // namespace

void COrvaneDoc::GTVCloseRoom() {
    CGTV* gtv = SelectedGTV(selectedObject);
    if (!gtv || !gtv->selectedRoom) return;
    CGTVRoom& room = *gtv->selectedRoom;
    gtv->SendCloseRoom(room);
    gtv->linkNotBefore = m_platform.clock.Now() + CGTV::kLinkHoldOff;
    room.linkedServer = nullptr;
    gtv->selectedRoom = nullptr;
}

void COrvaneDoc::GTVDescription() {
    CGTV* gtv = SelectedGTV(selectedObject);
    if (!gtv || !gtv->selectedRoom) return;
    const CGTVRoom& room = *gtv->selectedRoom;
    const auto text =
        m_platform.prompter.InputText(Format("Enter new description for room #%d", room.hubNumber), room.description);
    // The proxy may have rebuilt its rooms while the box was open: describe the room still selected.
    if (text && gtv == SelectedGTV(selectedObject) && gtv->selectedRoom) gtv->SendDescription(*gtv->selectedRoom, *text);
}

void COrvaneDoc::GTVRconPassword() {
    CGTV* gtv = SelectedGTV(selectedObject);
    if (!gtv) return;
    const auto text = m_platform.prompter.InputText("Try another rcon password:", gtv->rconPassword);
    if (!text) return;
    gtv->rconPassword = *text;
    SetModifiedFlag();
}

}  // namespace orv
