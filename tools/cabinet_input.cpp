#include "tools/cabinet_input.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>

#include "cabinet/cabinet.h"

namespace pelmo::tools {

namespace {

void DosDateTime(std::time_t when, uint16_t* date, uint16_t* time) {
    std::tm tm{};
    localtime_r(&when, &tm);
    if (tm.tm_year < 80) {
        *date = 0x21;
        *time = 0;
        return;
    }
    *date = static_cast<uint16_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    *time = static_cast<uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
}

}  // namespace

bool AddDiskFile(cab::CabinetWriter& writer, const std::string& path, const std::string& storedName,
                 const DiskFileOptions& options, std::string* error) {
    struct stat st;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr || fstat(fileno(file), &st) != 0) {
        if (file != nullptr) std::fclose(file);
        *error = "cannot read '" + path + "'";
        return false;
    }
    cab::CabinetFileInfo info;
    info.name = storedName;
    info.attributes = CAB_ATTR_ARCHIVE;
    if (options.keepMetadata) {
        DosDateTime(st.st_mtime, &info.date, &info.time);
        if (!(st.st_mode & S_IWUSR)) info.attributes |= CAB_ATTR_READONLY;
        if (st.st_mode & S_IXUSR) info.attributes |= CAB_ATTR_EXEC;
    }
    const bool ok = writer.AddFile(info, static_cast<uint64_t>(st.st_size),
                                   [file, &options](uint8_t* buffer, size_t count) -> long {
                                       const size_t n = std::fread(buffer, 1, count, file);
                                       if (n == 0 && std::ferror(file)) return -1;
                                       if (options.onRead) options.onRead(n);
                                       return static_cast<long>(n);
                                   });
    std::fclose(file);
    if (!ok) *error = writer.Error();
    return ok;
}

}  // namespace pelmo::tools
