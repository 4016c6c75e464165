#include "unit/unit_link.h"

namespace vantrel {

std::int64_t ProgressBytes(std::int64_t length, std::int64_t position, std::int64_t maximum) {
    if (maximum <= 0) return 0;
    return length * position / maximum;
}

}  // namespace vantrel
