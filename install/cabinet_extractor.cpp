#include "install/cabinet_extractor.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "install/file_utils.h"
#include "platform/cabinet_file_io.h"

namespace pelmo::install {

std::string extractionFolder;

namespace {

// Flag words in the library's _open encoding.
constexpr int kTestCabinetFlags = CAB_O_BINARY | CAB_O_SEQUENTIAL;  // read-only
// Binary, create, sequential, write-only; existing files are truncated so no
// old tail survives behind shorter new content.
constexpr int kOutputFlags =
    CAB_O_BINARY | CAB_O_CREAT | CAB_O_TRUNC | CAB_O_SEQUENTIAL | CAB_O_WRONLY;
constexpr int kOutputMode = CAB_S_IREAD | CAB_S_IWRITE;
constexpr uint16_t kAppliedAttributes = 0x27;
constexpr size_t kMaxPath = 255;

void* Alloc(uint32_t size) { return std::malloc(size); }
void Free(void* memory) { std::free(memory); }

// The Quantum decoder asks for a scratch file named "*"; it is always refused.
int Open(const char* path, int flags, int mode) {
    if (path == nullptr || std::strcmp(path, "*") == 0) return -1;
    return platform::CabinetFileOpen(path, flags, mode);
}

// Sets the modification time (the access time stays) and the read-only bit of
// a finished output file. Failures are ignored: the file counts as done.
void ApplyTimesAndAttributes(int handle, uint16_t date, uint16_t time, uint16_t attributes) {
    long long seconds = 0;
    if (DosDateTimeToUnixTime(date, time, seconds)) {
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1].tv_sec = time_t(seconds);
        times[1].tv_nsec = 0;
        futimens(handle, times);
    }
    // Hidden, system and archive have no meaning here.
    if ((attributes & kAppliedAttributes) & CAB_ATTR_READONLY) {
        struct stat status;
        if (fstat(handle, &status) == 0) fchmod(handle, status.st_mode & ~mode_t(0222));
    }
}

}  // namespace

CabAllocFn CabinetExtractor::GetAllocFn() { return Alloc; }
CabFreeFn CabinetExtractor::GetFreeFn() { return Free; }
CabOpenFn CabinetExtractor::GetOpenFn() { return Open; }
CabReadFn CabinetExtractor::GetReadFn() { return platform::CabinetFileRead; }
CabWriteFn CabinetExtractor::GetWriteFn() { return platform::CabinetFileWrite; }
CabSeekFn CabinetExtractor::GetSeekFn() { return platform::CabinetFileSeek; }
CabCloseFn CabinetExtractor::GetCloseFn() { return platform::CabinetFileClose; }
CabNotifyFn CabinetExtractor::GetNotifyFn() { return OnCabinetNotification; }

void CabinetExtractor::SetDestinationFolder(const std::string& folder) {
    extractionFolder = WithTrailingSeparator(folder);
}

int CabinetExtractor::Extract(const std::string& cabinetPath) {
    try {
        if (cabinetPath.empty() || cabinetPath.size() > kMaxPath ||
            cabinetPath.find('\0') != std::string::npos)
            return 0;
        CabErrorRecord error{};
        CabContext* context = CabCreate(GetAllocFn(), GetFreeFn(), GetOpenFn(), GetReadFn(),
                                        GetWriteFn(), GetCloseFn(), GetSeekFn(), 1, &error);
        if (context == nullptr) return 0;

        const int handle = Open(cabinetPath.c_str(), kTestCabinetFlags, 0);
        if (handle == -1) {
            CabDestroy(context);
            return 0;
        }
        CabCabinetInfo info{};
        const int isCabinet = CabIsCabinet(context, handle, &info);
        platform::CabinetFileClose(handle);
        if (isCabinet == 0) {
            CabDestroy(context);
            return 0;
        }

        const size_t slash = cabinetPath.rfind('/');
        const std::string name =
            slash == std::string::npos ? cabinetPath : cabinetPath.substr(slash + 1);
        const std::string path = slash == std::string::npos ? "" : cabinetPath.substr(0, slash + 1);
        if (CabCopy(context, name.c_str(), path.c_str(), 0, GetNotifyFn(), nullptr, nullptr) != 1) {
            CabDestroy(context);
            return 0;
        }
        return CabDestroy(context) == 1 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int CabinetExtractor::OnCabinetNotification(int kind, CabNotification* notification) {
    try {
        switch (kind) {
            case CAB_NOTIFY_FILE_START: {
                const std::string path = ExtractionPath(extractionFolder, notification->text1);
                if (path.empty()) return -1;  // the file cannot be created: the walk aborts
                return Open(path.c_str(), kOutputFlags, kOutputMode);
            }
            case CAB_NOTIFY_FILE_DONE:
                ApplyTimesAndAttributes(notification->fileHandle, notification->date,
                                        notification->time, notification->attributes);
                platform::CabinetFileClose(notification->fileHandle);
                return 1;
            case CAB_NOTIFY_NEED_CABINET:
                // Packages are single cabinets: a request for the next one ends
                // the walk with a failure instead of being repeated forever.
                return -1;
            default:
                return 0;
        }
    } catch (...) {
        return -1;
    }
}

std::string ExtractionPath(const std::string& folder, const char* storedName) {
    if (storedName == nullptr || *storedName == '\0') return {};
    std::string name(storedName);
    for (char& c : name)
        if (c == '\\') c = '/';
    if (name.front() == '/') return {};
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        if (name.compare(start, end - start, "..") == 0 && end - start == 2) return {};
        start = end + 1;
    }
    std::string path = folder + name;
    if (path.size() > kMaxPath) return {};
    return path;
}

bool DosDateTimeToUnixTime(uint16_t date, uint16_t time, long long& seconds) {
    // The DOS fields go straight into the broken-down time (years from 1980
    // become years from 1900); mktime applies the local zone and decides on
    // summer time itself.
    struct tm local {};
    local.tm_year = 80 + (date >> 9);
    local.tm_mon = ((date >> 5) & 0x0F) - 1;
    local.tm_mday = date & 0x1F;
    local.tm_hour = time >> 11;
    local.tm_min = (time >> 5) & 0x3F;
    local.tm_sec = (time & 0x1F) * 2;
    local.tm_isdst = -1;
    static const int daysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (local.tm_mon < 0 || local.tm_mon > 11 || local.tm_mday < 1 || local.tm_hour > 23 ||
        local.tm_min > 59 || local.tm_sec > 59)
        return false;
    const int year = 1900 + local.tm_year;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (local.tm_mday > daysInMonth[local.tm_mon] + (local.tm_mon == 1 && leap ? 1 : 0))
        return false;
    const time_t result = mktime(&local);
    if (result == time_t(-1)) return false;
    seconds = result;
    return true;
}

}  // namespace pelmo::install
