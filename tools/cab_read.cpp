// pelmo-tool cab list|extract|test: walks cabinets through the library's
// callbacks, the way the upgrader's own extractor does.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>

#include "cabinet/cabinet.h"
#include "install/cabinet_extractor.h"
#include "install/replacement_file.h"
#include "platform/cabinet_file_io.h"
#include "tools/cab_tool.h"

namespace pelmo::tools::cab_tool {

namespace {

namespace fs = std::filesystem;
using namespace pelmo::platform;

enum class Mode { kList, kExtract, kTest };

// What one CabCopy walk has seen; starts afresh with every walk.
struct WalkState {
    bool sawOpened = false;
    std::string firstNext;   // next cabinet of the cabinet named to CabCopy
    std::string lastSwitch;  // the cabinet the walk last crossed into
    // A walk that crosses into the next cabinet to finish a file goes on
    // there and never comes back: of the entries listed after that file in
    // the cabinet it started from, only those that continue too are offered
    // again, from the next cabinet's table. The others are lost: counted so
    // that the loss is reported.
    bool enumerated = false;
    int switches = 0;
    uint32_t tableEntries = 0;  // entries of the cabinet the walk started from
    uint32_t entriesSeen = 0;   // of them, offered in that cabinet or the next
};

struct Session {
    Mode mode = Mode::kList;
    fs::path outputDirectory;
    WalkState walk;
    std::string failure;      // why a callback stopped the walk
    std::string currentName;  // the file being extracted, as stored
    std::string currentPath;
    // An extracted file is written beside its target and takes its place
    // only once complete: a failed extraction leaves the target as it was,
    // and a link standing at the target is replaced, never followed.
    ReplacementFile output;
    int files = 0;
};

// The system's reason for the last failed write of an extracted file.
int lastWriteError = 0;

void* Alloc(uint32_t size) { return std::malloc(size == 0 ? 1 : size); }
void Free(void* memory) { std::free(memory); }

int Write(int handle, const void* buffer, uint32_t count) {
    const int written = CabinetFileWrite(handle, buffer, count);
    if (written != static_cast<int>(count)) lastWriteError = errno;
    return written;
}

std::string AttributeText(uint16_t attributes) {
    std::string text = "-----";
    if (attributes & CAB_ATTR_READONLY) text[0] = 'r';
    if (attributes & CAB_ATTR_HIDDEN) text[1] = 'h';
    if (attributes & CAB_ATTR_SYSTEM) text[2] = 's';
    if (attributes & CAB_ATTR_ARCHIVE) text[3] = 'a';
    if (attributes & CAB_ATTR_EXEC) text[4] = 'x';
    return text;
}

void PrintEntry(const CabNotification* n, bool continued) {
    std::printf("%10u %04u-%02u-%02u %02u:%02u:%02u %s %s%s\n", static_cast<uint32_t>(n->size),
                1980u + (n->date >> 9), (n->date >> 5) & 0xFu, n->date & 0x1Fu, n->time >> 11,
                (n->time >> 5) & 0x3Fu, (n->time & 0x1Fu) * 2, AttributeText(n->attributes).c_str(),
                n->text1, continued ? " (continued)" : "");
}

// Applies the stored date and time (the access time stays), the read-only
// bit and the run-after-extract bit to a finished file before it takes its
// target's place.
void ApplyDateAndAttributes(int descriptor, const CabNotification* n) {
    long long when = 0;
    if (install::DosDateTimeToUnixTime(n->date, n->time, when)) {
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1].tv_sec = static_cast<time_t>(when);
        times[1].tv_nsec = 0;
        futimens(descriptor, times);
    }
    struct stat st;
    if (fstat(descriptor, &st) != 0) return;
    mode_t mode = st.st_mode & 07777;
    if (n->size == 1) mode |= (mode & 0444) >> 2;  // executable where readable
    if (n->attributes & CAB_ATTR_READONLY) mode &= ~static_cast<mode_t>(0222);
    if (mode != (st.st_mode & 07777)) fchmod(descriptor, mode);
}

int OpenOutput(Session* session, const char* storedName, uint32_t size) {
    session->currentName = storedName;
    if (session->mode == Mode::kTest) {
        session->currentPath.clear();
        return CabinetFileOpen("/dev/null", kCabinetOpenWriteOnly, 0);
    }
    const std::string relative = install::ExtractionPath("", storedName);
    if (relative.empty() || relative.back() == '/') {
        session->failure = "the name leaves the output folder";
        return -1;
    }
    const fs::path target = session->outputDirectory / relative;
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    session->currentPath = target.string();
    // A folder at the target is left alone: the file cannot take its place.
    struct stat st;
    if (lstat(session->currentPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        session->failure = "cannot create " + session->currentPath + ": " + std::strerror(EISDIR);
        return -1;
    }
    std::string reason;
    if (!session->output.Create(session->currentPath, 0666, &reason)) {
        session->failure = "cannot create " + reason;
        return -1;
    }
    // The library closes its handle when the walk fails; the temporary file
    // stays open here until it is committed or discarded.
    const int handle = dup(session->output.Descriptor());
    if (handle == -1) {
        session->failure = "cannot create " + session->currentPath + ": " + std::strerror(errno);
        session->output.Discard();
        return -1;
    }
    PreallocateFile(handle, size);
    return handle;
}

int Notify(int kind, CabNotification* n) {
    auto* session = static_cast<Session*>(n->userData);
    switch (kind) {
        case CAB_NOTIFY_CABINET_OPENED:
            if (!session->walk.sawOpened) {
                session->walk.sawOpened = true;
                session->walk.firstNext = n->text1;
            }
            return 0;
        case CAB_NOTIFY_ENUMERATE:
            if (!session->walk.enumerated) {
                session->walk.enumerated = true;
                session->walk.tableEntries = n->folderIndex;
            }
            return 0;
        case CAB_NOTIFY_CONTINUED_FILE:
            if (session->walk.switches == 0) session->walk.entriesSeen += 1;
            if (session->mode == Mode::kList) PrintEntry(n, true);
            return 0;
        case CAB_NOTIFY_FILE_START: {
            // In the next cabinet only the continued entries are offered.
            if (session->walk.switches <= 1) session->walk.entriesSeen += 1;
            if (session->mode == Mode::kList) {
                PrintEntry(n, false);
                return 0;
            }
            const int handle = OpenOutput(session, n->text1, static_cast<uint32_t>(n->size));
            if (handle == -1) {
                if (session->failure.empty()) session->failure = "cannot open /dev/null";
                return -1;
            }
            return handle == 0 ? -1 : handle;
        }
        case CAB_NOTIFY_FILE_DONE: {
            if (CabinetFileClose(n->fileHandle) != 0) {
                session->failure = "cannot write " + session->currentPath + ": " +
                                   std::strerror(errno);
                return 0;
            }
            if (session->mode == Mode::kExtract) {
                ApplyDateAndAttributes(session->output.Descriptor(), n);
                std::string reason;
                if (!session->output.Commit(false, &reason)) {
                    session->failure = "cannot write " + reason;
                    return 0;
                }
            }
            session->currentName.clear();
            session->files += 1;
            return 1;
        }
        case CAB_NOTIFY_NEED_CABINET:
            if (n->error == 0) session->walk.switches += 1;
            session->walk.lastSwitch = n->text1;
            if (n->error != 0) {
                session->failure = std::string("cannot continue in '") + n->text3 + n->text1 +
                                   "': " + ErrorText(n->error) + " (" + ErrorName(n->error) + ")";
                return -1;
            }
            return 0;
        default:
            return 0;
    }
}

int Report(const std::string& cabinet, const CabErrorRecord& error, const Session& session) {
    std::string reason =
        session.failure.empty() ? std::string(ErrorText(error.code)) : session.failure;
    if (session.failure.empty() && error.code == CAB_ERROR_OUTPUT && lastWriteError != 0) {
        reason += std::string(": ") + std::strerror(lastWriteError);
    }
    if (!session.currentName.empty()) {
        reason = "while extracting '" + session.currentName + "': " + reason;
    }
    std::fprintf(stderr, "pelmo-tool cab: %s: %s (%s)\n", cabinet.c_str(), reason.c_str(),
                 ErrorName(error.code));
    return 1;
}

int Walk(const std::string& cabinet, Session& session, bool wholeSet) {
    std::string path;
    std::string name;
    SplitCabinetPath(cabinet, &path, &name);
    CabErrorRecord error{};
    CabContext* context = CabCreate(Alloc, Free, CabinetFileOpen, CabinetFileRead, Write,
                                    CabinetFileClose, CabinetFileSeek, 0, &error);
    if (context == nullptr) return Report(cabinet, error, session);
    std::set<std::string> visited;
    int status = 0;
    for (;;) {
        visited.insert(name);
        session.walk = WalkState{};
        if (!CabCopy(context, name.c_str(), path.c_str(), 0, Notify, nullptr, &session)) {
            session.output.Discard();
            status = Report(path + name, error, session);
            break;
        }
        const uint32_t unreachable =
            session.walk.switches > 0 && session.walk.entriesSeen < session.walk.tableEntries
                ? session.walk.tableEntries - session.walk.entriesSeen
                : 0;
        if (unreachable != 0) {
            // The rest of the set is still extracted; the run fails at the end.
            std::fprintf(stderr,
                         "pelmo-tool cab: %s%s: %u file%s listed after a file that continues "
                         "into the next cabinet cannot be reached\n",
                         path.c_str(), name.c_str(), unreachable, unreachable == 1 ? "" : "s");
            status = 1;
        }
        // A walk that crossed into later cabinets has delivered every file
        // that begins before the last of them: go on from there.
        const std::string next =
            session.walk.lastSwitch.empty() ? session.walk.firstNext : session.walk.lastSwitch;
        if (!wholeSet || next.empty()) break;
        if (visited.count(next) != 0) {
            std::fprintf(stderr, "pelmo-tool cab: %s%s: the cabinet set loops back to '%s'\n",
                         path.c_str(), name.c_str(), next.c_str());
            status = 1;
            break;
        }
        name = next;
    }
    CabDestroy(context);
    return status;
}

}  // namespace

const char* ErrorName(int code) {
    static const char* const kNames[] = {"CAB_ERROR_NONE",          "CAB_ERROR_OPEN_FAILED",
                                         "CAB_ERROR_NOT_CABINET",   "CAB_ERROR_BAD_VERSION",
                                         "CAB_ERROR_CORRUPT",       "CAB_ERROR_NO_MEMORY",
                                         "CAB_ERROR_BAD_CODEC",     "CAB_ERROR_DECODE",
                                         "CAB_ERROR_OUTPUT",        "CAB_ERROR_RESERVE_MISMATCH",
                                         "CAB_ERROR_WRONG_CABINET", "CAB_ERROR_ABORTED"};
    if (code < 0 || code > CAB_ERROR_ABORTED) return "CAB_ERROR_UNKNOWN";
    return kNames[code];
}

const char* ErrorText(int code) {
    switch (code) {
        case CAB_ERROR_NONE:
            return "no error";
        case CAB_ERROR_OPEN_FAILED:
            return "cannot open the cabinet";
        case CAB_ERROR_NOT_CABINET:
            return "not a cabinet file";
        case CAB_ERROR_BAD_VERSION:
            return "unsupported cabinet version";
        case CAB_ERROR_CORRUPT:
            return "the cabinet is corrupt";
        case CAB_ERROR_NO_MEMORY:
            return "out of memory";
        case CAB_ERROR_BAD_CODEC:
            return "unknown compression type";
        case CAB_ERROR_DECODE:
            return "the compressed data cannot be decoded";
        case CAB_ERROR_OUTPUT:
            return "cannot write an extracted file";
        case CAB_ERROR_RESERVE_MISMATCH:
            return "reserve sizes differ from the set's first cabinet";
        case CAB_ERROR_WRONG_CABINET:
            return "the next cabinet does not belong to this set";
        case CAB_ERROR_ABORTED:
            return "extraction stopped";
        default:
            return "unknown error";
    }
}

void SplitCabinetPath(const std::string& full, std::string* path, std::string* name) {
    const size_t slash = full.rfind('/');
    if (slash == std::string::npos) {
        path->clear();
        *name = full;
    } else {
        *path = full.substr(0, slash + 1);
        *name = full.substr(slash + 1);
    }
}

int RunList(const Args& args) {
    if (args.size() != 1) {
        std::fputs("usage: pelmo-tool cab list CABINET\n", stderr);
        return 2;
    }
    Session session;
    session.mode = Mode::kList;
    return Walk(args[0], session, false);
}

int RunExtract(const Args& args, bool writeFiles) {
    std::string directory = ".";
    std::string cabinet;
    for (size_t i = 0; i < args.size(); ++i) {
        if (writeFiles && args[i] == "-d" && i + 1 < args.size()) {
            directory = args[++i];
        } else if (cabinet.empty() && !args[i].empty() && args[i][0] != '-') {
            cabinet = args[i];
        } else {
            cabinet.clear();
            break;
        }
    }
    if (cabinet.empty()) {
        std::fputs(writeFiles ? "usage: pelmo-tool cab extract [-d DIR] CABINET\n"
                              : "usage: pelmo-tool cab test CABINET\n",
                   stderr);
        return 2;
    }
    Session session;
    session.mode = writeFiles ? Mode::kExtract : Mode::kTest;
    if (writeFiles) {
        std::error_code ec;
        fs::create_directories(directory, ec);
        if (!fs::is_directory(directory)) {
            std::fprintf(stderr, "pelmo-tool cab: cannot create '%s'\n", directory.c_str());
            return 1;
        }
        session.outputDirectory = directory;
    }
    const int status = Walk(cabinet, session, true);
    if (status == 0) {
        std::printf("%s: %d file%s %s\n", cabinet.c_str(), session.files,
                    session.files == 1 ? "" : "s", writeFiles ? "extracted" : "tested, all good");
    }
    return status;
}

}  // namespace pelmo::tools::cab_tool
