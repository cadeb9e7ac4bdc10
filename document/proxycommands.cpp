// The HLTV proxy's commands of the document: rcon password, spectator password, proxy password and
// disconnect, on the selected object when it is an HLTV proxy.
#include "document/document.h"
#include "monitors/halflife/hltv.h"

namespace orv {

namespace {

CHLTV* SelectedProxy(CCommonObject* selected) {
    return dynamic_cast<CHLTV*>(selected);
}

// The word, a blank and the text in double quotes: how the proxy takes a password.
std::string QuotedCommand(const std::string& word, const std::string& text) {
    return word + " \"" + text + "\"";
}

}  // namespace

void COrvaneDoc::HLTVRconPassword() {
    CHLTV* proxy = SelectedProxy(selectedObject);
    if (!proxy) return;
    const auto text = m_platform.prompter.InputText("Try another rcon password:", proxy->rconPassword);
    if (!text) return;
    proxy->rconPassword = *text;
    // Back to the first step of the handshake: an answering proxy asks for a new challenge at once and
    // waits for it in state 2; a silent one asks when it answers again.
    proxy->RestartRcon();
    SetModifiedFlag();
}

void COrvaneDoc::HLTVSpecPassword() {
    CHLTV* proxy = SelectedProxy(selectedObject);
    if (!proxy) return;
    const auto text = m_platform.prompter.InputText("Change the remote spectator password (will use rcon)", "");
    if (!text) return;
    proxy->SendRcon(QuotedCommand("spectatorpassword", *text));
}

void COrvaneDoc::HLTVProxyPassword() {
    CHLTV* proxy = SelectedProxy(selectedObject);
    if (!proxy) return;
    const auto text = m_platform.prompter.InputText("Enter proxy password", "");
    if (!text) return;
    proxy->proxyPassword = *text;
    if (proxy->state == CCommonObject::kStateRcon &&
        m_platform.prompter.AskYesNo(
            "Local Proxy password changed. Do you want to change remote proxy password also by rcon ?"))
        proxy->SendRcon(QuotedCommand("proxypassword", *text));
    SetModifiedFlag();
}

void COrvaneDoc::HLTVDisconnect() {
    CHLTV* proxy = SelectedProxy(selectedObject);
    if (!proxy) return;
    proxy->SendRcon("disconnect");
    proxy->linkNotBefore = m_platform.clock.Now() + CHLTV::kLinkHoldOff;
    proxy->linkedServer = nullptr;
}

}  // namespace orv
