#pragma once

#include "firmware/loader_link.h"
#include "unit/byte_stream.h"

namespace vantrel::firmware {

/// The console's stream, while nothing else uses it. A reply that the network splits is put
/// together; bytes that come with the last part beyond the count asked for belong to the same
/// reply and are dropped. A reply is waited for as long as over the COM port (5000 ms plus
/// 5000 ms per byte), not the console's own 3 s: a loader may erase its flash before it answers.
class StreamLoaderLink : public LoaderLink {
  public:
    StreamLoaderLink(ByteStream& stream, Clock& clock) : m_stream(stream), m_clock(clock) {}
    bool IsOpen() const override { return true; }
    LoaderPauses Pauses() const override { return kStreamPauses; }
    /// "FWUPDATE", then the loader entry frame, each answered "OK" on a line of its own; then
    /// 3 s for the loader to start. Two steps.
    Outcome Enter(Clock& clock, const ProgressSink& progress) override;
    bool Write(const void* data, std::uint32_t count) override;
    std::uint32_t Read(void* buffer, std::uint32_t count) override;

    /// Room for one receive, as the console's replies are read.
    static constexpr int kReceiveSize = 100;

  private:
    ByteStream& m_stream;
    Clock& m_clock;
};

}  // namespace vantrel::firmware
