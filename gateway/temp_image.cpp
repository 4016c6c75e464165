#include "gateway/temp_image.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace vantrel::gateway {

TempImage::TempImage(const std::string& bytes) {
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/vantrel-image-XXXXXX";
    const int fd = mkstemp(path.data());  // created readable by this user only
    if (fd < 0) return;
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    close(fd);
    if (written == bytes.size()) {
        m_path = path;
    } else {
        unlink(path.c_str());
    }
}

TempImage::~TempImage() {
    if (!m_path.empty()) unlink(m_path.c_str());
}

}  // namespace vantrel::gateway
