// Shared pieces of 'pelmo-tool cab': the subcommands and their helpers.
#pragma once

#include <string>

#include "tools/commands.h"

namespace pelmo::tools::cab_tool {

int RunList(const Args& args);
int RunExtract(const Args& args, bool writeFiles);
int RunCreate(const Args& args);

// The library's name for an error code, e.g. "CAB_ERROR_CORRUPT".
const char* ErrorName(int code);
// A short description of an error code.
const char* ErrorText(int code);

// Splits "dir/name.cab" into the library's path ("dir/", or empty) and name.
void SplitCabinetPath(const std::string& full, std::string* path, std::string* name);

}  // namespace pelmo::tools::cab_tool
