// One attempt at a transfer, and the pause before the next: the pieces that
// FetchToMemory and FetchToFile build their retries from. Internal to the
// transport.
#pragma once

#include <cstdint>
#include <string>

#include "platform/transport.h"

namespace pelmo::transfer {

// Where the bytes of an attempt go.
class Sink {
  public:
    virtual ~Sink() = default;
    // Called once before the first byte of an answer's body (or at the end of
    // an empty one), with the offset in the resource where that body starts
    // and the answer's validator (see AttemptAnswer). False stops the transfer.
    virtual bool Begin(uint64_t start, const std::string& validator) = 0;
    // False stops the transfer; error() tells why.
    virtual bool Write(const char* data, std::size_t size) = 0;
    const std::string& error() const { return error_; }

  protected:
    std::string error_;
};

// What an attempt asks for: the resource from byte offset on, provided that
// it still matches validator (a Range request with If-Range). Offset 0: the
// whole resource, no condition.
struct AttemptRequest {
    uint64_t offset = 0;
    std::string validator;
    long long maxBytes = 0;  // 0: no cap
};

struct AttemptAnswer {
    TransferResult result;
    bool retryable = false;     // a broken transfer that another attempt may finish
    bool rangeRefused = false;  // the server answered 416: start from zero
    std::string validator;      // the answer's strong ETag, else its Last-Modified
    uint64_t total = 0;         // the resource's whole length, 0 when not given
};

// One attempt. Progress figures count bytes of the resource: the body's start
// offset plus what arrived.
AttemptAnswer Attempt(const std::string& address, Sink& sink, const TransferProgress* progress,
                      const TransferOptions& options, const AttemptRequest& request);

// "what path: the system's error text".
std::string ErrnoText(const char* what, const std::string& path, int error);

// Waits pauseMs before a retry, asking stopRequested and progress (status
// TRANSFER_CONNECTING, bytesSoFar) every pollIntervalMs. False when either
// asked to stop: the wait ends at once.
bool PauseBeforeRetry(long pauseMs, const TransferOptions& options,
                      const TransferProgress* progress, uint64_t bytesSoFar);

}  // namespace pelmo::transfer
