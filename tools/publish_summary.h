// The table 'publish' ends with: one row per version in the manifest.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "tools/publish_record.h"

namespace pelmo::tools {

struct SummaryRow {
    PublishedVersion version;
    std::string state;  // "built", "unchanged" or "kept"
};

void PrintSummary(std::FILE* out, const std::vector<SummaryRow>& rows);

}  // namespace pelmo::tools
