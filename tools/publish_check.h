// 'pelmo-tool publish check': what a client at a given version would get from
// a published release, checked up to but not including installation.
#pragma once

#include "tools/commands.h"

namespace pelmo::tools {

// Answers 0 when everything checks out, 1 naming the first failure, 2 on a
// usage error.
int RunPublishCheck(const Args& args);

}  // namespace pelmo::tools
