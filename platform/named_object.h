// Named system-wide objects: an object exists while some process holds it and
// ceases to exist with its last holder. Each object is an exclusive flock on a
// file named exactly as the object, in the user's runtime folder
// ($XDG_RUNTIME_DIR, else a private /tmp/pelmo-<uid> folder).
#pragma once

#include <cstddef>
#include <string>

namespace pelmo::platform {

// The folder of the named objects; empty when no safe folder can be had (a
// /tmp/pelmo-<uid> that is a link, belongs to another user or is open to
// others is refused).
std::string NamedObjectFolder();

class NamedObject {
  public:
    enum Status {
        CREATED,  // this object now holds the name
        EXISTS,   // another holder has it; nothing is held
        FAILED,   // the object could not be made; nothing is held
    };

    NamedObject() = default;
    ~NamedObject() { Close(); }
    NamedObject(NamedObject&& other) noexcept;
    NamedObject& operator=(NamedObject&& other) noexcept;
    NamedObject(const NamedObject&) = delete;
    NamedObject& operator=(const NamedObject&) = delete;

    // Takes the name if nobody holds it. Atomic across processes: of several
    // creators at the same moment exactly one gets CREATED. The hold is not
    // inherited by child processes. On FAILED, *failure (when given) names
    // the object's file and the system's reason.
    Status Create(const std::string& name, std::string* failure = nullptr);
    // Replaces the object's content (only while held).
    bool WriteContent(const void* data, size_t size);
    bool IsHeld() const { return fd_ >= 0; }
    // Gives the name up; the object ceases to exist unless held elsewhere.
    void Close();

    // True while any process holds the name, with a shared or an exclusive
    // lock. Only looks: never creates the object's file and keeps no lock (an
    // exclusive attempt is given back at once), so its holder is undisturbed.
    static bool Exists(const std::string& name);

  private:
    int fd_ = -1;
};

}  // namespace pelmo::platform
