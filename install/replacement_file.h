// Writes a file that replaces its target in one step: the content goes into a
// temporary file in the target's folder, which is flushed and renamed over
// the target only when complete. Until then, and after any failure, the old
// target stays as it was. Temporary files are named ".NAME.pelmo-PID-N".
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace pelmo {

class ReplacementFile {
  public:
    ReplacementFile() = default;
    ~ReplacementFile();  // discards an uncommitted temporary file
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Creates the temporary file beside `target` with permission `mode`
    // (the process's umask applies).
    bool Create(const std::string& target, mode_t mode, std::string* error);
    bool Write(const void* data, std::size_t count);
    // Flushes the content (to disk when `durable`), removes a folder standing
    // at the target, and renames the temporary file over the target.
    bool Commit(bool durable, std::string* error);
    // Flushes the content (to disk when `durable`) and closes the file, which
    // then stays on disk for the caller to move into place (MoveIntoPlace)
    // or remove: answers its path, or "" after a failure (nothing is left).
    std::string Stage(bool durable, std::string* error);
    // The temporary file's path while there is one.
    const std::string& temporaryPath() const { return temp_; }
    // Drops the temporary file.
    void Discard();
    // The temporary file's descriptor, -1 when there is none; it stays owned
    // by this object.
    int Descriptor() const { return fd_; }

  private:
    bool Flush(bool durable, std::string* error);

    int fd_ = -1;
    std::string target_;
    std::string temp_;
};

// Renames the finished file `temporary` over `target`, removing a folder that
// stands at the target first.
bool MoveIntoPlace(const std::string& temporary, const std::string& target, std::string* error);

}  // namespace pelmo
