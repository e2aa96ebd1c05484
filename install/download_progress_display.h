// What the download progress sink reports to: the dialog implements it.
#pragma once

#include <cstdint>

namespace pelmo {

class DownloadProgressDisplay {
public:
    virtual ~DownloadProgressDisplay() = default;
    // Called on the worker thread while a package downloads: the transfer's two
    // counters, the declared size of the current package, and the declared
    // sizes of the packages already done.
    virtual void ShowDownloadProgress(float bytesSoFar, float bytesExpected, float packageBytes,
                                      int32_t bytesBefore) = 0;
};

}  // namespace pelmo
