#include "unit/unit_link.h"

#include "firmware/prepare_image.h"
#include "unit/progress_report.h"

namespace vantrel {

std::int64_t ProgressBytes(std::int64_t length, std::int64_t position, std::int64_t maximum) {
    if (maximum <= 0) return 0;
    return length * position / maximum;
}

Outcome CheckFirmwareImage(const std::string& path, firmware::Controller controller) {
    firmware::ImageSlot slot;
    slot.path = path;
    ProgressReport silent({}, slot);
    const firmware::PrepareResult prepared = firmware::PrepareImage(slot, controller, silent);
    if (prepared != firmware::PrepareResult::Ready) return firmware::PrepareFailure(prepared);
    return {};
}

}  // namespace vantrel
