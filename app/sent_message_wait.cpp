#include "app/sent_message_wait.h"

namespace vantrel {
namespace {

// PeekMessage hands pending sent messages to their window procedures before it looks at
// the queue; restricted to sent messages and not removing anything, that is all it does.
void DeliverSentMessages() {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

}  // namespace

bool WaitDeliveringSentMessages(DWORD ms, HANDLE event) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    const DWORD count = event ? 1 : 0;
    for (;;) {
        DeliverSentMessages();
        ULONGLONG now = GetTickCount64();
        DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        // MWMO_INPUTAVAILABLE: also wake for a sent message that arrived before this call.
        DWORD woke =
            MsgWaitForMultipleObjectsEx(count, &event, left, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
        if (count && woke == WAIT_OBJECT_0) {
            return true;
        }
        if (woke != WAIT_OBJECT_0 + count) {
            return false;  // time out (or a failed wait, which must not spin)
        }
        if (left == 0) {
            DeliverSentMessages();  // the last ones; a steady stream must not stretch the wait
            return false;
        }
    }
}

}  // namespace vantrel
