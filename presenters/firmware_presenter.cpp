#include "presenters/firmware_presenter.h"

#include <cstdio>

#include "firmware/image.h"
#include "firmware/loader_packets.h"
#include "firmware/loader_port.h"
#include "firmware/serial_loader_link.h"
#include "firmware/stream_loader_link.h"
#include "firmware/update_procedures.h"
#include "presenters/firmware_ids.h"

namespace vantrel {
namespace {

using firmware::Controller;
using firmware::Image;
using firmware::Phase;
using firmware::Progress;

constexpr Failure kOccupied{Fault::kNotOpened, kPortOccupied};
constexpr Failure kOpenFailed{Fault::kNotOpened, "Fail to open COM port!"};
constexpr Failure kNoSession{Fault::kNotOpened, "Ethernet is not connected!"};
constexpr const char* kUpdated = "Firmware Updated!";
constexpr const char* kWriteFailed = "Fail to write flash!";
constexpr Clock::Duration kLeaseWaitStep{100};
// Bytes of the image per step of the bar.
constexpr std::int64_t kNetBarStep = 10;

// Shows a failure's text in the group's status and passes it on with that text.
Outcome Shown(FirmwareView& view, int statusText, Fault fault, const char* text) {
    view.SetText(statusText, text);
    return Failure{fault, text};
}

const char* ImageFailureText(Fault fault) {
    switch (fault) {
        case Fault::kNoFile:
            return "Please load file first!";
        case Fault::kBadImage:
            return "Fail to convert the input from hex to bin!";
        default:
            return kWriteFailed;  // too short
    }
}

// Builds the group's image and shows the file's size once the file was read.
Result<Image> LoadImage(const std::string& file, Controller controller, int sizeText,
                        FirmwareView& view) {
    Result<Image> image = firmware::BuildImage(file, controller);
    if (image.GetFault() != Fault::kNoFile) {
        char text[32];
        std::snprintf(text, sizeof text, "%d byte.", static_cast<int>(image.Value().fileSize));
        view.SetText(sizeText, text);
    }
    return image;
}

// The main group's display of an update under way: the link's own "connected" text once the
// loader is reached, the bar in packets, and the text that ends it.
class MainDisplay {
  public:
    MainDisplay(FirmwareView& view, const char* connected) : m_view(view), m_connected(connected) {}

    void Show(const Progress& progress) {
        m_last = progress;
        if (progress.phase == Phase::kErasing) {
            m_view.SetText(kMainStatusText, m_connected);
            m_view.SetCursor(FirmwareView::Cursor::Wait);
            m_waiting = true;
        } else if (progress.phase == Phase::kWriting && progress.done == 0) {
            m_view.SetText(kMainStatusText, "Writing flash ... !");
            m_view.SetProgressRange(static_cast<std::uint16_t>(progress.total / Chunk()));
            m_view.SetProgressPos(0);
        } else if (progress.phase == Phase::kWriting && progress.done < progress.total) {
            m_view.SetProgressPos(static_cast<int>(progress.done / Chunk()));
        }
    }

    Outcome End(const Outcome& outcome) {
        if (m_waiting) m_view.SetCursor(FirmwareView::Cursor::Arrow);
        if (outcome.Ok()) {
            m_view.SetText(kMainStatusText, kUpdated);
            return outcome;
        }
        return Shown(m_view, kMainStatusText, outcome.GetFault(), FailureText(outcome));
    }

  private:
    static std::int64_t Chunk() { return static_cast<std::int64_t>(firmware::kChunkSize); }

    const char* FailureText(const Outcome& outcome) const {
        if (outcome.GetFault() == Fault::kImageTooShort) return kWriteFailed;
        switch (m_last.phase) {
            case Phase::kEntering:
                // The console's answer to FWUPDATE, then to the loader entry frame.
                return m_last.done == 0 ? "Firmware update fail!" : "Firmware update fail";
            case Phase::kErasing:
                return "Fail to connect to device!";
            default:
                return kWriteFailed;
        }
    }

    FirmwareView& m_view;
    const char* m_connected;
    Progress m_last;
    bool m_waiting = false;
};

Outcome RunMain(firmware::LoaderLink& link, const char* connected, const Image& image, Clock& clock,
                FirmwareView& view, const firmware::StopFlag& stop) {
    MainDisplay display(view, connected);
    const Outcome outcome = firmware::UpdateMain(
        link, clock, image, [&display](const Progress& p) { display.Show(p); }, stop);
    return display.End(outcome);
}

Outcome MainSerial(FirmwareRecord& record, SerialDevice& port, Clock& clock, FirmwareView& view) {
    const Result<Image> image = LoadImage(record.mainFile, Controller::kMain, kMainSizeText, view);
    if (!image.Ok()) {
        return Shown(view, kMainStatusText, image.GetFault(), ImageFailureText(image.GetFault()));
    }
    if (!firmware::OpenLoaderPort(port, record.comPort, firmware::kMainLoaderBaud)) {
        port.Close();
        return Shown(view, kMainStatusText, kOpenFailed.fault, kOpenFailed.text);
    }
    firmware::SerialLoaderLink link(port);
    const Outcome outcome =
        RunMain(link, "COM port Connected!", image.Value(), clock, view, record.mainStop);
    port.Close();
    return outcome;
}

// Takes the session's lock on the stream, waiting on the update's thread while the session
// works (a connect still pending, a login, a pass) and saying so, until the group's Stop.
bool LeaseStream(FirmwareRecord& record, std::unique_lock<std::mutex>& lease, Clock& clock,
                 FirmwareView& view) {
    if (!record.streamUse) return true;
    lease = std::unique_lock<std::mutex>(*record.streamUse, std::try_to_lock);
    if (lease.owns_lock()) return true;
    view.SetText(kMainStatusText, "Waiting for the session ... !");
    while (!lease.try_lock()) {
        if (record.mainStop != 0) return false;
        clock.Sleep(kLeaseWaitStep);
    }
    return true;
}

Outcome MainEthernet(FirmwareRecord& record, Clock& clock, FirmwareView& view) {
    if (record.linkDown == 1 || record.stream == nullptr) {
        return Shown(view, kMainStatusText, kNoSession.fault, kNoSession.text);
    }
    const Result<Image> image = LoadImage(record.mainFile, Controller::kMain, kMainSizeText, view);
    if (!image.Ok()) {
        return Shown(view, kMainStatusText, image.GetFault(), ImageFailureText(image.GetFault()));
    }
    std::unique_lock<std::mutex> lease;
    if (!LeaseStream(record, lease, clock, view)) {
        return Shown(view, kMainStatusText, Fault::kStopped, kWriteFailed);
    }
    // The session may have ended while the update waited for it.
    if (record.sessionDown && *record.sessionDown != 0) {
        return Shown(view, kMainStatusText, kNoSession.fault, kNoSession.text);
    }
    firmware::StreamLoaderLink link(*record.stream, clock);
    return RunMain(link, "Ethernet is Connected!", image.Value(), clock, view, record.mainStop);
}

// The net group's display: the erase, then the bar in tens of bytes.
void ShowNet(FirmwareView& view, const Progress& progress) {
    if (progress.phase == Phase::kErasing) {
        view.SetText(kNetStatusText, "COM port Connected!");
        view.SetCursor(FirmwareView::Cursor::Wait);
        view.SetText(kNetStatusText, "Erasing flash ... !");
    } else if (progress.phase == Phase::kWriting && progress.done == 0) {
        view.SetText(kNetStatusText, "Writing flash ... !");
        view.SetProgressRange(static_cast<std::uint16_t>(progress.total / kNetBarStep));
        view.SetProgressPos(0);
    } else if (progress.phase == Phase::kWriting) {
        view.SetProgressPos(static_cast<int>(progress.done / kNetBarStep));
    }
}

// Runs the net update on a port that no one else uses; `next` is the button to enable at the
// end.
Outcome NetSerial(FirmwareRecord& record, SerialDevice& port, Clock& clock, FirmwareView& view,
                  int& next) {
    next = kBreakButton;
    if (port.IsOpen()) port.Close();  // the line held in break by Break
    if (PortOccupied(port, record.comPort, firmware::kNetLoaderBaud)) {
        view.ShowMessage(kPortOccupied);
        next = kNetBurnButton;
        return kOccupied;
    }
    const Result<Image> image = LoadImage(record.netFile, Controller::kNet, kNetSizeText, view);
    if (!image.Ok()) {
        if (image.GetFault() == Fault::kBadImage) next = kNetBurnButton;
        return Shown(view, kNetStatusText, image.GetFault(), ImageFailureText(image.GetFault()));
    }
    if (!firmware::OpenLoaderPort(port, record.comPort, firmware::kNetLoaderBaud)) {
        port.Close();
        return Shown(view, kNetStatusText, kOpenFailed.fault, kOpenFailed.text);
    }
    bool waiting = false;
    const Outcome outcome = firmware::UpdateNet(
        port, clock, image.Value(),
        [&](const Progress& p) {
            waiting = waiting || p.phase == Phase::kErasing;
            ShowNet(view, p);
        },
        record.netStop);
    if (waiting) view.SetCursor(FirmwareView::Cursor::Arrow);
    port.Close();
    if (outcome.Ok()) {
        view.SetText(kNetStatusText, kUpdated);
        return outcome;
    }
    return Shown(view, kNetStatusText, outcome.GetFault(), kWriteFailed);
}

}  // namespace

bool PortOccupied(SerialDevice& port, std::int32_t comPort, std::uint32_t baudRate) {
    if (port.IsOpen()) return true;
    if (!firmware::NamesComPort(comPort)) return false;
    if (!firmware::OpenLoaderPort(port, comPort, baudRate)) return port.OpenRefused();
    port.Close();
    return false;
}

Outcome BurnMainSerial(FirmwareRecord& record, SerialDevice& port, Clock& clock,
                       FirmwareView& view) {
    Outcome outcome = kOccupied;
    {
        std::unique_lock<std::mutex> lock(record.portLock, std::try_to_lock);
        if (!lock.owns_lock() || PortOccupied(port, record.comPort, firmware::kMainLoaderBaud)) {
            view.ShowMessage(kPortOccupied);
        } else {
            outcome = MainSerial(record, port, clock, view);
        }
    }
    view.EnableControl(kMainBurnButton, true);
    return outcome;
}

Outcome BurnMainEthernet(FirmwareRecord& record, Clock& clock, FirmwareView& view) {
    const Outcome outcome = MainEthernet(record, clock, view);
    view.EnableControl(kMainBurnButton, true);
    return outcome;
}

Outcome BurnNetSerial(FirmwareRecord& record, SerialDevice& port, Clock& clock,
                      FirmwareView& view) {
    int next = kNetBurnButton;
    Outcome outcome = kOccupied;
    {
        std::unique_lock<std::mutex> lock(record.portLock, std::try_to_lock);
        if (lock.owns_lock()) {
            outcome = NetSerial(record, port, clock, view, next);
        } else {
            view.ShowMessage(kPortOccupied);
        }
    }
    view.EnableControl(next, true);
    return outcome;
}

Outcome Break(FirmwareRecord& record, SerialDevice& port, FirmwareView& view) {
    std::unique_lock<std::mutex> lock(record.portLock, std::try_to_lock);
    if (!lock.owns_lock()) {
        view.ShowMessage(kPortOccupied);
        return kOccupied;
    }
    if (port.IsOpen()) port.Close();
    if (!firmware::OpenLoaderPort(port, record.comPort, firmware::kNetLoaderBaud)) {
        view.ShowMessage(kPortOccupied);
        return kOccupied;
    }
    firmware::HoldLineInBreak(port);
    view.SetText(kNetStatusText, "Please power cycle device to into bootloader entry!");
    view.EnableControl(kNetBurnButton, true);
    return {};
}

FirmwarePresenter::FirmwarePresenter(SerialDevice& port, FirmwareView& view, Clock& clock,
                                     Runner runner)
    : m_port(port), m_view(view), m_clock(clock), m_runner(std::move(runner)) {}

void FirmwarePresenter::Open() {
    m_record.netStop = 1;
    m_record.mainStop = 0;
}

bool FirmwarePresenter::Start(std::function<void()> procedure) {
    return m_threads.Start([this, procedure = std::move(procedure)] { m_runner(procedure); });
}

bool FirmwarePresenter::BurnMain(const std::string& file) {
    // The group's Burn stays disabled until the update ends, so its thread alone reads these.
    m_record.mainStop = 0;
    m_record.mainFile = file;
    if (m_record.linkMode == kLinkNetwork) {
        return Start([this] { BurnMainEthernet(m_record, m_clock, m_view); });
    }
    return Start([this] { BurnMainSerial(m_record, m_port, m_clock, m_view); });
}

bool FirmwarePresenter::BurnNet(const std::string& file) {
    m_record.netStop = 0;
    m_record.netFile = file;
    // The port that Break holds is closed by the update, under the port's lock, so that it
    // never changes under an update of the main group.
    return Start([this] { BurnNetSerial(m_record, m_port, m_clock, m_view); });
}

}  // namespace vantrel
