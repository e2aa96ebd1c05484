// Unpacks every file of one cabinet into a destination folder by driving the
// cabinet library with the process's file functions and a notification
// callback that creates the output files and, once complete, gives them the
// date, time and read-only bit stored in the cabinet.
#pragma once

#include <string>

#include "cabinet/cabinet.h"

namespace pelmo::install {

// The destination of the extraction in progress, with a trailing "/". One
// value for the whole process: only one extraction runs at a time.
extern std::string extractionFolder;

class CabinetExtractor {
  public:
    virtual ~CabinetExtractor() = default;

    // The callbacks handed to the library; each answers the same function
    // every time.
    virtual CabAllocFn GetAllocFn();
    virtual CabFreeFn GetFreeFn();
    virtual CabOpenFn GetOpenFn();
    virtual CabReadFn GetReadFn();
    virtual CabWriteFn GetWriteFn();
    virtual CabSeekFn GetSeekFn();
    virtual CabCloseFn GetCloseFn();
    virtual CabNotifyFn GetNotifyFn();

    // Stores `folder` in extractionFolder, appending "/" when it lacks one.
    void SetDestinationFolder(const std::string& folder);

    // Writes every file of the cabinet at `cabinetPath` into extractionFolder.
    // Answers 1 when the whole walk succeeded, else 0.
    int Extract(const std::string& cabinetPath);

    // The library's notification callback.
    static int OnCabinetNotification(int kind, CabNotification* notification);
};

// The output path for a name stored in a cabinet ("\" separates subfolders),
// or an empty text when the name could leave the destination (absolute, a
// ".." component, empty) or the path would not fit 255 characters.
std::string ExtractionPath(const std::string& folder, const char* storedName);

// MS-DOS date and time (local time) as seconds since the epoch; false when the
// fields do not form a valid date and time.
bool DosDateTimeToUnixTime(uint16_t date, uint16_t time, long long& seconds);

}  // namespace pelmo::install
