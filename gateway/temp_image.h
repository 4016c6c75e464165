#pragma once

#include <string>

namespace vantrel::gateway {

/// A firmware image received over HTTP, written to a private temporary file for the firmware
/// procedures, which read an image from a path. The file is removed with its owner.
class TempImage {
  public:
    explicit TempImage(const std::string& bytes);
    ~TempImage();
    TempImage(const TempImage&) = delete;
    TempImage& operator=(const TempImage&) = delete;

    /// False when the file could not be written.
    bool Ok() const { return !m_path.empty(); }
    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
};

}  // namespace vantrel::gateway
