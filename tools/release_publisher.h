// 'pelmo-tool publish': a whole release, from a folder of versions to a
// static tree of cabinets and a manifest that any web server can serve.
#pragma once

#include <string>

#include "tools/codec_choice.h"

namespace pelmo::tools {

struct PublishOptions {
    std::string releasesDir;  // one folder per version, named by its id
    std::string outDir;       // N.cab per version, versions.xml, its signature
    std::string baseUrl;      // the manifest's SrcPath
    std::string signKeyFile;  // empty: no signature
    CodecChoice codec;
    bool prune = false;  // drop versions whose folder is gone
    unsigned jobs = 0;   // threads; 0: one per core
};

// The manifest's file name in the output folder.
inline constexpr const char* MANIFEST_NAME = "versions.xml";

// Publishes; answers the exit status (0, or 1 after a message on stderr).
// Bad input leaves outDir as it was. Cabinets appear under their names only
// when complete, the signature before the manifest, the manifest last.
int PublishRelease(const PublishOptions& options);

}  // namespace pelmo::tools
