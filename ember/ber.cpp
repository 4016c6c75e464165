#include "ember/ber.h"

#include <cmath>
#include <cstring>

namespace vantrel::ember {
namespace {

Bytes LengthBytes(std::size_t length) {
    if (length < 0x80) return {static_cast<std::uint8_t>(length)};
    Bytes digits;
    for (std::size_t rest = length; rest > 0; rest >>= 8) {
        digits.insert(digits.begin(), static_cast<std::uint8_t>(rest & 0xFF));
    }
    digits.insert(digits.begin(), static_cast<std::uint8_t>(0x80 | digits.size()));
    return digits;
}

// The fewest two's complement bytes that hold `value`.
Bytes IntegerBytes(std::int64_t value) {
    Bytes bytes;
    for (int shift = 56; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> shift));
    }
    std::size_t first = 0;
    while (first + 1 < bytes.size() && ((bytes[first] == 0x00 && !(bytes[first + 1] & 0x80)) ||
                                        (bytes[first] == 0xFF && (bytes[first + 1] & 0x80)))) {
        ++first;
    }
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(first), bytes.end());
}

// `number` in base 128, high digits first, every digit but the last with its top bit set: a
// tag's number and each number of a path alike.
void PutBase128(Bytes& out, std::uint32_t number) {
    Bytes digits;
    std::uint32_t rest = number;
    do {
        digits.insert(digits.begin(),
                      static_cast<std::uint8_t>((rest & 0x7F) | (digits.empty() ? 0 : 0x80)));
        rest >>= 7;
    } while (rest > 0);
    out.insert(out.end(), digits.begin(), digits.end());
}

bool IsPrimitive(const Tlv& tlv, std::uint32_t type) { return tlv.tag == Universal(type); }

}  // namespace

void BerWriter::PutTag(Tag tag) {
    const auto head = static_cast<std::uint8_t>((static_cast<unsigned>(tag.tagClass) << 6) |
                                                (tag.constructed ? 0x20 : 0));
    if (tag.number < 31) {
        m_out.push_back(static_cast<std::uint8_t>(head | tag.number));
        return;
    }
    m_out.push_back(static_cast<std::uint8_t>(head | 0x1F));
    PutBase128(m_out, tag.number);
}

void BerWriter::Open(Tag tag) {
    PutTag(tag);
    m_open.push_back(m_out.size());
}

void BerWriter::Close() {
    const std::size_t start = m_open.back();
    m_open.pop_back();
    const Bytes length = LengthBytes(m_out.size() - start);
    m_out.insert(m_out.begin() + static_cast<std::ptrdiff_t>(start), length.begin(), length.end());
}

void BerWriter::Primitive(std::uint32_t type, const Bytes& content) {
    PutTag(Universal(type));
    const Bytes length = LengthBytes(content.size());
    m_out.insert(m_out.end(), length.begin(), length.end());
    m_out.insert(m_out.end(), content.begin(), content.end());
}

void BerWriter::Integer(std::int64_t value) { Primitive(universal::kInteger, IntegerBytes(value)); }

void BerWriter::Boolean(bool value) {
    Primitive(universal::kBoolean, {static_cast<std::uint8_t>(value ? 0xFF : 0x00)});
}

// Base 2, with the exponent and mantissa as short as they go; the special values by their
// one-byte forms.
void BerWriter::Real(double value) {
    if (value == 0.0 && !std::signbit(value)) return Primitive(universal::kReal, {});
    if (value == 0.0) return Primitive(universal::kReal, {0x43});
    if (std::isnan(value)) return Primitive(universal::kReal, {0x42});
    if (std::isinf(value))
        return Primitive(universal::kReal, {static_cast<std::uint8_t>(value > 0 ? 0x40 : 0x41)});
    int exponent = 0;
    double fraction = std::frexp(std::fabs(value), &exponent);
    auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    exponent -= 53;
    while ((mantissa & 1) == 0) {
        mantissa >>= 1;
        ++exponent;
    }
    const Bytes exponentBytes = IntegerBytes(exponent);
    Bytes content{
        static_cast<std::uint8_t>(0x80 | (value < 0 ? 0x40 : 0) | (exponentBytes.size() - 1))};
    content.insert(content.end(), exponentBytes.begin(), exponentBytes.end());
    Bytes mantissaBytes;
    for (std::uint64_t rest = mantissa; rest > 0; rest >>= 8) {
        mantissaBytes.insert(mantissaBytes.begin(), static_cast<std::uint8_t>(rest & 0xFF));
    }
    content.insert(content.end(), mantissaBytes.begin(), mantissaBytes.end());
    Primitive(universal::kReal, content);
}

void BerWriter::Utf8(const std::string& text) {
    Primitive(universal::kUtf8String, Bytes(text.begin(), text.end()));
}

void BerWriter::Octets(const Bytes& bytes) { Primitive(universal::kOctetString, bytes); }

void BerWriter::RelativeOid(const std::vector<std::uint32_t>& path) {
    Bytes content;
    for (std::uint32_t number : path) PutBase128(content, number);
    Primitive(universal::kRelativeOid, content);
}

Result<Tag> BerReader::ReadTag() {
    if (m_position >= m_size) return Malformed("a value is cut short in its tag");
    const std::uint8_t head = m_data[m_position++];
    Tag tag{static_cast<TagClass>(head >> 6), (head & 0x20) != 0, head & 0x1Fu};
    if (tag.number != 0x1F) return tag;
    tag.number = 0;
    for (int i = 0;; ++i) {
        if (m_position >= m_size) return Malformed("a value is cut short in its tag");
        if (i == 4) return Malformed("a tag number is too large");
        const std::uint8_t digit = m_data[m_position++];
        tag.number = (tag.number << 7) | (digit & 0x7Fu);
        if (!(digit & 0x80)) return tag;
    }
}

// Where the content of an indefinite-length value that begins at `from` ends: before the two
// zero bytes that follow its last inner value.
Result<std::size_t> BerReader::IndefiniteEnd(std::size_t from) {
    BerReader inner(m_data + from, m_size - from, m_depth + 1);
    while (true) {
        if (inner.m_position + 2 <= inner.m_size && inner.m_data[inner.m_position] == 0 &&
            inner.m_data[inner.m_position + 1] == 0) {
            return from + inner.m_position;
        }
        Result<Tlv> skipped = inner.Next();
        if (!skipped.Ok()) return skipped.GetFailure();
    }
}

Result<Tlv> BerReader::Next() {
    if (m_depth >= kDeepest) return Malformed("values nest too deep");
    Result<Tag> tag = ReadTag();
    if (!tag.Ok()) return tag.GetFailure();
    if (m_position >= m_size) return Malformed("a value is cut short in its length");
    const std::uint8_t first = m_data[m_position++];
    Tlv tlv{tag.Value(), nullptr, 0};
    if (first == 0x80) {
        if (!tlv.tag.constructed) return Malformed("a primitive value of indefinite length");
        Result<std::size_t> end = IndefiniteEnd(m_position);
        if (!end.Ok()) return end.GetFailure();
        tlv.content = m_data + m_position;
        tlv.size = end.Value() - m_position;
        m_position = end.Value() + 2;
        return tlv;
    }
    std::size_t length = first;
    if (first & 0x80) {
        const std::size_t digits = first & 0x7Fu;
        if (digits > 4) return Malformed("a length is too large");
        if (m_size - m_position < digits) return Malformed("a value is cut short in its length");
        length = 0;
        for (std::size_t i = 0; i < digits; ++i) length = (length << 8) | m_data[m_position++];
    }
    if (length > m_size - m_position) return Malformed("a value is longer than what holds it");
    tlv.content = m_data + m_position;
    tlv.size = length;
    m_position += length;
    return tlv;
}

Result<std::int64_t> BerReader::Integer(const Tlv& tlv) {
    if (!IsPrimitive(tlv, universal::kInteger)) return Malformed("not an integer");
    if (tlv.size == 0 || tlv.size > 8) return Malformed("an integer of no or more than 8 bytes");
    std::uint64_t value = (tlv.content[0] & 0x80) ? ~std::uint64_t{0} : 0;
    for (std::size_t i = 0; i < tlv.size; ++i) value = (value << 8) | tlv.content[i];
    return static_cast<std::int64_t>(value);
}

Result<bool> BerReader::Boolean(const Tlv& tlv) {
    if (!IsPrimitive(tlv, universal::kBoolean)) return Malformed("not a boolean");
    if (tlv.size != 1) return Malformed("a boolean that is not one byte");
    return tlv.content[0] != 0;
}

Result<double> BerReader::Real(const Tlv& tlv) {
    if (!IsPrimitive(tlv, universal::kReal)) return Malformed("not a real");
    if (tlv.size == 0) return 0.0;
    const std::uint8_t head = tlv.content[0];
    if (tlv.size == 1) {
        switch (head) {
            case 0x40:
                return HUGE_VAL;
            case 0x41:
                return -HUGE_VAL;
            case 0x42:
                return std::nan("");
            case 0x43:
                return -0.0;
        }
    }
    if (!(head & 0x80) || (head & 0x30) != 0) return Malformed("a real not in base 2");
    std::size_t at = 1;
    std::size_t exponentSize = (head & 0x03u) + 1;
    if (exponentSize == 4) {
        if (tlv.size < 2) return Malformed("a real cut short");
        exponentSize = tlv.content[at++];
    }
    if (exponentSize == 0 || exponentSize > 2 || tlv.size < at + exponentSize) {
        return Malformed("a real's exponent is out of range");
    }
    std::int32_t exponent = (tlv.content[at] & 0x80) ? -1 : 0;
    for (std::size_t i = 0; i < exponentSize; ++i) {
        exponent = static_cast<std::int32_t>(static_cast<std::uint32_t>(exponent) << 8) |
                   tlv.content[at++];
    }
    if (tlv.size - at > 8) return Malformed("a real's mantissa is too long");
    std::uint64_t mantissa = 0;
    while (at < tlv.size) mantissa = (mantissa << 8) | tlv.content[at++];
    const double magnitude =
        std::ldexp(static_cast<double>(mantissa), exponent + static_cast<int>((head >> 2) & 3));
    return (head & 0x40) ? -magnitude : magnitude;
}

Result<std::string> BerReader::Utf8(const Tlv& tlv) {
    if (!IsPrimitive(tlv, universal::kUtf8String)) return Malformed("not a string");
    return std::string(reinterpret_cast<const char*>(tlv.content), tlv.size);
}

Result<Bytes> BerReader::Octets(const Tlv& tlv) {
    if (!IsPrimitive(tlv, universal::kOctetString)) return Malformed("not octets");
    return Bytes(tlv.content, tlv.content + tlv.size);
}

Result<std::vector<std::uint32_t>> BerReader::RelativeOid(const Tlv& tlv) {
    if (!IsPrimitive(tlv, universal::kRelativeOid)) return Malformed("not a path");
    std::vector<std::uint32_t> path;
    std::uint64_t number = 0;
    bool inNumber = false;
    for (std::size_t i = 0; i < tlv.size; ++i) {
        number = (number << 7) | (tlv.content[i] & 0x7Fu);
        if (number > 0xFFFFFFFFu) return Malformed("a path's number is too large");
        inNumber = (tlv.content[i] & 0x80) != 0;
        if (!inNumber) {
            path.push_back(static_cast<std::uint32_t>(number));
            number = 0;
        }
    }
    if (inNumber) return Malformed("a path ends inside a number");
    return path;
}

}  // namespace vantrel::ember
