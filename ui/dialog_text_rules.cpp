#include "ui/dialog_text_rules.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "ui/dialog_resources.h"

namespace pelmo::ui {

std::string VersionDisplayText(int32_t installedVersion) {
    const std::string digits = std::to_string(installedVersion);
    return std::string(text::VERSION_PREFIX) + digits.substr(0, 1) + "." + digits.substr(1);
}

int64_t DownloadedBytesShown(float bytesSoFar, float bytesExpected, float packageBytes,
                             int32_t bytesBefore, int32_t totalBytes) {
    int64_t done = bytesBefore;
    if (bytesExpected != 0.0f) {
        // Single precision, like the figures the sink hands over.
        const float fraction = bytesSoFar * packageBytes / bytesExpected;
        if (std::isfinite(fraction)) {
            // Truncated toward zero; kept inside 32 bits so the conversion is defined.
            constexpr float LIMIT = 2147483520.0f;  // largest float below 2^31
            const float clamped = std::fmax(-LIMIT, std::fmin(LIMIT, fraction));
            done += static_cast<int64_t>(std::trunc(clamped));
        }
    }
    return done > totalBytes ? totalBytes : done;
}

std::string DownloadProgressText(int64_t shownBytes, int32_t totalBytes) {
    const float perKilobyte = 1.0f / 1024.0f;
    const float shownKilobytes = static_cast<float>(shownBytes) * perKilobyte;
    const float totalKilobytes = static_cast<float>(totalBytes) * perKilobyte;
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, text::DOWNLOAD_FORMAT, static_cast<double>(shownKilobytes),
                  static_cast<double>(totalKilobytes));
    return buffer;
}

}  // namespace pelmo::ui
