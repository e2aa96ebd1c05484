#include "install/create_directory_path.h"

#include <sys/stat.h>

namespace pelmo {

int CreateDirectoryPath(const std::string& path, mode_t mode) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), mode);
    }
    return !path.empty() && ::mkdir(path.c_str(), mode) == 0 ? 1 : 0;
}

}  // namespace pelmo
