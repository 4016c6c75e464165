#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ember/result.h"

namespace vantrel::ember {

using Bytes = std::vector<std::uint8_t>;

/// A BER tag's class, as its top two bits carry it.
enum class TagClass : std::uint8_t { kUniversal = 0, kApplication = 1, kContext = 2, kPrivate = 3 };

struct Tag {
    TagClass tagClass = TagClass::kUniversal;
    bool constructed = false;
    std::uint32_t number = 0;
    bool operator==(const Tag& other) const {
        return tagClass == other.tagClass && constructed == other.constructed &&
               number == other.number;
    }
};

/// The universal types Glow uses.
namespace universal {
constexpr std::uint32_t kBoolean = 1;
constexpr std::uint32_t kInteger = 2;
constexpr std::uint32_t kOctetString = 4;
constexpr std::uint32_t kReal = 9;
constexpr std::uint32_t kUtf8String = 12;
constexpr std::uint32_t kRelativeOid = 13;
constexpr std::uint32_t kSequence = 16;
constexpr std::uint32_t kSet = 17;
}  // namespace universal

inline Tag Application(std::uint32_t n) { return {TagClass::kApplication, true, n}; }
inline Tag Context(std::uint32_t n) { return {TagClass::kContext, true, n}; }
inline Tag Universal(std::uint32_t n, bool constructed = false) {
    return {TagClass::kUniversal, constructed, n};
}

/// Writes BER with definite lengths. A constructed value is opened, filled and closed; its
/// length is put in front of it when it closes.
class BerWriter {
  public:
    void Open(Tag tag);
    void Close();
    void Integer(std::int64_t value);
    void Boolean(bool value);
    void Real(double value);
    void Utf8(const std::string& text);
    void Octets(const Bytes& bytes);
    void RelativeOid(const std::vector<std::uint32_t>& path);
    /// The bytes written; every Open must have been closed.
    const Bytes& Data() const { return m_out; }

  private:
    void Primitive(std::uint32_t type, const Bytes& content);
    void PutTag(Tag tag);

    Bytes m_out;
    std::vector<std::size_t> m_open;  // where each open value's content begins
};

/// One value read: its tag and where its content lies in the reader's bytes.
struct Tlv {
    Tag tag;
    const std::uint8_t* content = nullptr;
    std::size_t size = 0;
};

/// Reads BER values one after another from a span of bytes, definite and indefinite lengths
/// alike. Every read that would go past the span, or past the nesting limit, fails.
class BerReader {
  public:
    BerReader(const std::uint8_t* data, std::size_t size, int depth = 0)
        : m_data(data), m_size(size), m_depth(depth) {}
    explicit BerReader(const Tlv& tlv, int depth) : BerReader(tlv.content, tlv.size, depth) {}

    bool AtEnd() const { return m_position >= m_size; }
    Result<Tlv> Next();
    int Depth() const { return m_depth; }

    /// The content of a primitive value of the given universal type.
    static Result<std::int64_t> Integer(const Tlv& tlv);
    static Result<bool> Boolean(const Tlv& tlv);
    static Result<double> Real(const Tlv& tlv);
    static Result<std::string> Utf8(const Tlv& tlv);
    static Result<Bytes> Octets(const Tlv& tlv);
    static Result<std::vector<std::uint32_t>> RelativeOid(const Tlv& tlv);

    /// Values nest at most this deep; a deeper one is refused rather than followed.
    static constexpr int kDeepest = 64;

  private:
    Result<Tag> ReadTag();
    Result<std::size_t> IndefiniteEnd(std::size_t from);

    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_position = 0;
    int m_depth;
};

}  // namespace vantrel::ember
