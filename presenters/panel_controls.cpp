#include "presenters/panel_controls.h"

#include "presenters/control_ids.h"
#include "presenters/post_command.h"
#include "presenters/serial_use.h"
#include "presenters/status_update.h"
#include "unit/serial_exchanges.h"
#include "unit/serial_frames.h"

namespace vantrel {

namespace {

const char kOpenComFail[] = "Open COM fail!";

}  // namespace

PanelControls::PanelControls(PanelState& state, PanelView& view, SerialDevice& serial, Clock& clock,
                             MessageReporter report, AddressStore storeAddress)
    : m_state(state),
      m_view(view),
      m_serial(serial),
      m_clock(clock),
      m_report(std::move(report)),
      m_storeAddress(std::move(storeAddress)) {}

void PanelControls::OnButton(int control) {
    const ControlButton* button = FindControlButton(control);
    if (!button) return;
    switch (button->kind) {
        case ControlKind::Toggle:
        case ControlKind::MeterMode:
            OnLampButton(*button);
            break;
        case ControlKind::Dialog:  // the window opens the firmware update dialog
        case ControlKind::Inert:
            break;
        default:
            OnPushButton(*button);
            break;
    }
}

void PanelControls::PressPicture(int control, int bitmap) {
    m_hShownBmp = m_view.SwapInPicture(control, bitmap);
}

void PanelControls::ReleasePicture(int control) {
    m_view.RestorePicture(control, m_hShownBmp);
    m_hShownBmp = ImageHandle::kNone;
}

bool PanelControls::OpenSelectedPort() {
    return vantrel::OpenSelectedPort(m_serial, m_state.m_comPorts, m_state.m_nComPortCount,
                                     m_view.ComSelection());
}

bool PanelControls::OpenForCommand() {
    WaitWhileStatusPoll(m_state.m_nSerialState, m_clock);
    if (OpenSelectedPort()) return true;
    m_report(kOpenComFail);
    return false;
}

// Push, Factory Reset, Volume, the LCD levels and the inputs: pressed look, the command, a
// hold so the pressed look is seen, then the normal look (the inputs keep the lit one).
void PanelControls::OnPushButton(const ControlButton& button) {
    PressPicture(button.control, button.activeBitmap);
    if (m_state.m_nLinkMode == kLinkEthernet) {
        PostCommand(m_state, button.unit->code, m_view);
    } else {
        if (!OpenForCommand()) {
            ReleasePicture(button.control);
            return;
        }
        m_state.m_nSerialState = kSerialCommand;
        RunButtonExchange(button);
    }
    m_clock.Sleep(kPressedHold);
    if (button.kind == ControlKind::Input) {
        LightInput(button);
    } else {
        ReleasePicture(button.control);
    }
    m_state.m_nSerialState = kSerialFree;
}

// Solo Left, Solo Right, Mix-Down and the meter modes: no pressed look; the lamps follow the
// click once the command went out.
void PanelControls::OnLampButton(const ControlButton& button) {
    if (button.kind == ControlKind::MeterMode) {
        const bool alreadyShown =
            button.unit->index == 0 ? m_state.m_lamps[3] == 0 : m_state.m_lamps[3] == 1;
        if (alreadyShown) return;
    }
    if (m_state.m_nLinkMode == kLinkEthernet) {
        PostCommand(m_state, button.unit->code, m_view);
    } else {
        if (!OpenForCommand()) return;
        m_state.m_nSerialState = kSerialCommand;
        RunButtonExchange(button);
    }
    m_clock.Sleep(kPressedHold);
    if (button.kind == ControlKind::MeterMode) {
        ShowMeterMode(button.unit->index);
    } else {
        FlipLamp(button);
    }
    m_state.m_nSerialState = kSerialFree;
}

void PanelControls::RunButtonExchange(const ControlButton& button) {
    const Button& unit = *button.unit;
    switch (button.kind) {
        case ControlKind::PushNoWait:
            RunFactoryReset(m_serial, m_clock);
            break;
        case ControlKind::Volume:
            // A reply that did not come in full moves nothing.
            if (const Result<uint8_t> level = RunVolumeStep(m_serial, m_clock, unit.direction);
                level.Ok()) {
                ApplyLevel(m_state, m_view, 0, level.Value());
            }
            break;
        case ControlKind::LevelDown:
        case ControlKind::LevelUp: {
            const LevelStep step =
                RunLevelStep(m_serial, m_clock, static_cast<Level>(unit.index), unit.direction)
                    .Value();
            if (step.stepped) {
                m_state.m_levels[unit.index] = *step.stepped;
                m_state.m_prevLevels[unit.index] = *step.stepped;
                m_view.SetBarPos(LevelBar(unit.index), *step.stepped);
            } else if (step.read) {
                m_state.m_levels[unit.index] = *step.read;
            }
            break;
        }
        default:
            RunPlainCommand(m_serial, BuildFrame(SerialUnit::Main, unit.frame));
            break;
    }
}

// The pressed picture stays as the input's lit look; the picture it replaced goes, and so does
// the former input's light.
void PanelControls::LightInput(const ControlButton& button) {
    m_view.DeleteImage(m_hShownBmp);
    m_hShownBmp = ImageHandle::kNone;
    const uint8_t previous = m_state.m_nPrevInput;
    m_state.m_nInput = button.unit->index;
    if (previous != button.unit->index) {
        if (const ControlButton* old = InputButton(previous)) {
            m_view.SetPicture(old->control, old->normalBitmap);
        }
    }
    m_state.m_nPrevInput = button.unit->index;
}

// A lamp counts as lit whenever it is not 0, as the status refresh draws it, so a click on a
// lamp the panel shows lit always puts it out. Solo Left and Solo Right never both light.
void PanelControls::FlipLamp(const ControlButton& button) {
    const int lamp = button.unit->index;
    const bool wasLit = m_state.m_lamps[lamp] != 0;
    m_view.SetPicture(button.control, wasLit ? button.normalBitmap : button.activeBitmap);
    const uint8_t now = wasLit ? 0 : 1;
    m_state.m_lamps[lamp] = now;
    m_state.m_prevLamps[lamp] = now;
    if (lamp == 2 || now == 0) return;
    const int other = 1 - lamp;
    if (m_state.m_lamps[other] == 0) return;
    m_state.m_lamps[other] = 0;
    m_state.m_prevLamps[other] = 0;
    m_view.SetPicture(LampButton(other).control, LampButton(other).normalBitmap);
}

void PanelControls::ShowMeterMode(uint8_t mode) {
    m_state.m_lamps[3] = mode;
    m_state.m_prevLamps[3] = mode;
    const ControlButton& vu = MeterModeButton(0);
    const ControlButton& dppm = MeterModeButton(1);
    m_view.SetPicture(vu.control, mode == 0 ? vu.activeBitmap : vu.normalBitmap);
    m_view.SetPicture(dppm.control, mode == 1 ? dppm.activeBitmap : dppm.normalBitmap);
}

}  // namespace vantrel
