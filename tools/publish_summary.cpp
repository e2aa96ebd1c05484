#include "tools/publish_summary.h"

namespace pelmo::tools {

void PrintSummary(std::FILE* out, const std::vector<SummaryRow>& rows) {
    std::fprintf(out, "%11s %7s %14s %14s %6s %-10s %-12s %s\n", "version", "files",
                 "content bytes", "cabinet bytes", "ratio", "codec", "sha256", "state");
    for (const SummaryRow& row : rows) {
        const PublishedVersion& v = row.version;
        const double ratio =
            v.contentBytes == 0 ? 0 : 100.0 * static_cast<double>(v.cabinetBytes) / v.contentBytes;
        std::fprintf(out, "%11d %7llu %14llu %14llu %5.1f%% %-10s %-12s %s\n", v.id,
                     static_cast<unsigned long long>(v.files),
                     static_cast<unsigned long long>(v.contentBytes),
                     static_cast<unsigned long long>(v.cabinetBytes), ratio, v.codec.c_str(),
                     v.sha256.substr(0, 12).c_str(), row.state.c_str());
    }
}

}  // namespace pelmo::tools
