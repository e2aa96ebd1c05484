// The subcommands of pelmo-tool. Each takes the arguments after its own name
// and answers the process exit status.
#pragma once

#include <string>
#include <vector>

namespace pelmo::tools {

using Args = std::vector<std::string>;

int RunRegCommand(const Args& args);
int RunCabCommand(const Args& args);
int RunPakCommand(const Args& args);
int RunManifestCommand(const Args& args);
int RunPublishCommand(const Args& args);
int RunKeyCommand(const Args& args);
int RunSignCommand(const Args& args);
int RunVerifyCommand(const Args& args);

}  // namespace pelmo::tools
