#include "firmware/hex_conversion.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vantrel::firmware {
namespace {

constexpr std::size_t kMinRecord = 11;   // ":" count offset type checksum, no data
constexpr std::size_t kMaxRecord = 255;  // the longest token the reader keeps
constexpr std::uint32_t kNetSkippedOffset = 0xFFF8;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The field of `width` characters at `index`, read up to its first non-hex character; a field
// with no digit (or beyond the record) reads as 0.
std::uint32_t Field(std::string_view record, std::size_t index, std::size_t width) {
    std::uint32_t value = 0;
    for (std::size_t i = index; i < index + width && i < record.size(); ++i) {
        const int digit = HexDigit(record[i]);
        if (digit < 0) break;
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return value;
}

// A record as every HEX tool writes it: ':' and then pairs of hex digits whose bytes, the
// checksum last, sum to 0 modulo 256. A corrupted file must not reach a controller's flash.
bool IsSound(std::string_view record) {
    if (record[0] != ':' || record.size() % 2 == 0) return false;
    unsigned sum = 0;
    for (std::size_t i = 1; i < record.size(); i += 2) {
        const int high = HexDigit(record[i]);
        const int low = HexDigit(record[i + 1]);
        if (high < 0 || low < 0) return false;
        sum += static_cast<unsigned>(high << 4 | low);
    }
    return (sum & 0xFF) == 0;
}

class HexReader {
  public:
    explicit HexReader(std::string_view text) : m_text(text) {}

    // The next record: the characters after any white space up to the next white space.
    std::string_view Next() {
        while (m_pos < m_text.size() && IsSpace(m_text[m_pos])) ++m_pos;
        const std::size_t start = m_pos;
        while (m_pos < m_text.size() && !IsSpace(m_text[m_pos])) ++m_pos;
        return m_text.substr(start, m_pos - start);
    }

  private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

enum class Variant { Main, Net };

// Writes one data record into the image; false when it does not fit its own text or the buffer.
// `written`, when given, grows to cover the bytes stored.
bool StoreData(std::string_view record, std::uint64_t base, Variant variant,
               std::vector<std::uint8_t>& image, std::int32_t& length,
               std::optional<HexAddressRange>* written) {
    const std::uint32_t offset = Field(record, 3, 4);
    if (variant == Variant::Net && offset >= kNetSkippedOffset) return true;
    const std::string_view data = record.substr(0, record.size() - 2);  // without the checksum
    const std::uint32_t count = Field(record, 1, 2);
    if (9 + 2 * std::size_t{count} > data.size()) return false;
    const std::uint64_t start = base + offset;
    const std::uint64_t end = start + count;
    if (end > image.size()) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        image[start + i] = static_cast<std::uint8_t>(Field(data, 9 + 2 * i, 2));
    }
    if (end > static_cast<std::uint64_t>(length)) length = static_cast<std::int32_t>(end);
    if (written && count > 0) {
        // Both fit 32 bits: they lie inside a buffer no larger than a file's 2 GiB.
        const auto low = static_cast<std::uint32_t>(start);
        const auto high = static_cast<std::uint32_t>(end - 1);
        if (!*written) *written = HexAddressRange{low, high};
        (*written)->lowest = std::min((*written)->lowest, low);
        (*written)->highest = std::max((*written)->highest, high);
    }
    return true;
}

bool Convert(ImageSlot& slot, Variant variant, std::optional<HexAddressRange>* written = nullptr) {
    const std::size_t size = static_cast<std::size_t>(slot.length);
    if (size > slot.buffer.size()) return false;
    const std::string text(slot.buffer.begin(), slot.buffer.begin() + size);
    std::fill(slot.buffer.begin(), slot.buffer.end(), 0);
    slot.length = 0;
    std::uint64_t base = 0;
    HexReader reader(text);
    for (;;) {
        const std::string_view record = reader.Next();
        if (record.size() < kMinRecord || record.size() > kMaxRecord) return false;
        if (!IsSound(record)) return false;
        switch (record[8]) {
            case '0':
                if (!StoreData(record, base, variant, slot.buffer, slot.length, written)) {
                    return false;
                }
                break;
            case '4':
                base = std::uint64_t{Field(record, 9, 4)} << 16;
                break;
            case '2':
                base = std::uint64_t{Field(record, 9, 4)} << 4;
                break;
            case '1':
                return true;
            default:
                break;  // start addresses and unknown records carry nothing for the image
        }
    }
}

}  // namespace

bool ConvertMainHex(ImageSlot& slot) { return Convert(slot, Variant::Main); }

bool ConvertNetHex(ImageSlot& slot) { return Convert(slot, Variant::Net); }

std::optional<HexAddressRange> HexWrittenRange(ImageSlot text, Controller controller) {
    std::optional<HexAddressRange> written;
    const Variant variant = controller == Controller::kMain ? Variant::Main : Variant::Net;
    if (!Convert(text, variant, &written)) return std::nullopt;
    return written;
}

}  // namespace vantrel::firmware
