// The two texts of the upgrade dialog that are computed: the installed-version
// line and the download progress of step 3.
#pragma once

#include <cstdint>
#include <string>

namespace pelmo::ui {

// "当前版本: " followed by the decimal version with a point after its first
// character: 2010 -> 2.010, 7 -> 7., 0 -> 0., 12345 -> 1.2345, -5 -> -.5.
std::string VersionDisplayText(int32_t installedVersion);

// The bytes shown as done: the current transfer's fraction scaled to the
// package's declared size, plus the packages already done, never above the
// total. With no transfer size reported (bytesExpected 0) only the packages
// already done count.
int64_t DownloadedBytesShown(float bytesSoFar, float bytesExpected, float packageBytes,
                             int32_t bytesBefore, int32_t totalBytes);

// "3.下载升级包文件 ( done k / 共total k )", kilobytes with one decimal.
std::string DownloadProgressText(int64_t shownBytes, int32_t totalBytes);

}  // namespace pelmo::ui
