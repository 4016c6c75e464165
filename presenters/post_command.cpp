#include "presenters/post_command.h"

#include "unit/command_table.h"

namespace vantrel {

namespace {
constexpr Clock::Duration kPosterWaitStep{100};
}

void PostCommand(PanelState& state, uint8_t code, PanelView& view) {
    if (state.m_bLinkDown != 0) return;
    if (!CommandFor(code).posterWaits) {
        state.StoreCommand(code);
        return;
    }
    while (!state.StoreCommandIfFree(code)) {
        if (state.m_bLinkDown != 0) return;
        view.WaitForSession(kPosterWaitStep);
    }
}

void PostStatusPoll(PanelState& state) { state.StoreCommandIfFree(kStatusPollCode); }

}  // namespace vantrel
