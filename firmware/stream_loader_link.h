#pragma once

#include "firmware/loader_link.h"
#include "unit/byte_stream.h"

namespace vantrel::firmware {

/// The session's console stream. A reply that the network splits is put together; bytes
/// that come with the last part beyond the count asked for belong to the same reply and are
/// dropped. Each receive is bounded by the stream's own time limit.
class StreamLoaderLink : public LoaderLink {
  public:
    explicit StreamLoaderLink(ByteStream& stream) : m_stream(stream) {}
    bool IsOpen() const override { return true; }
    bool Write(const void* data, std::uint32_t count) override;
    std::uint32_t Read(void* buffer, std::uint32_t count) override;

    /// Room for one receive, as the console's replies are read.
    static constexpr int kReceiveSize = 100;

  private:
    ByteStream& m_stream;
};

}  // namespace vantrel::firmware
