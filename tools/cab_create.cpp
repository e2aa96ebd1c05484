// pelmo-tool cab create: builds a cabinet (or a set of cabinets) from files
// and folders with the library's writer.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "cabinet/cabinet.h"
#include "cabinet/writer/cabinet_writer.h"
#include "tools/cab_tool.h"
#include "tools/cabinet_input.h"
#include "tools/codec_choice.h"

namespace pelmo::tools::cab_tool {

namespace {

namespace fs = std::filesystem;

struct Input {
    fs::path path;
    std::string storedName;  // with "\" between folders
};

bool ParseNumber(const std::string& text, unsigned long long max, unsigned long long* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    char* end = nullptr;
    *value = std::strtoull(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0' && *value <= max;
}

std::string StoredName(const fs::path& relative) {
    std::string name;
    for (const fs::path& part : relative) {
        if (!name.empty()) name += '\\';
        name += part.string();
    }
    return name;
}

bool CollectInputs(const std::string& argument, std::vector<Input>* inputs) {
    std::error_code ec;
    const fs::path root(argument);
    if (fs::is_directory(root, ec)) {
        std::vector<Input> found;
        for (auto it = fs::recursive_directory_iterator(root, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_regular_file(ec)) {
                found.push_back({it->path(), StoredName(fs::relative(it->path(), root, ec))});
            }
        }
        if (ec) {
            std::fprintf(stderr, "pelmo-tool cab: cannot read '%s'\n", argument.c_str());
            return false;
        }
        std::sort(found.begin(), found.end(),
                  [](const Input& a, const Input& b) { return a.storedName < b.storedName; });
        inputs->insert(inputs->end(), found.begin(), found.end());
        return true;
    }
    if (fs::is_regular_file(root, ec)) {
        inputs->push_back({root, root.filename().string()});
        return true;
    }
    std::fprintf(stderr, "pelmo-tool cab: '%s' is neither a file nor a folder\n", argument.c_str());
    return false;
}

}  // namespace

int RunCreate(const Args& args) {
    CodecChoice codec;
    codec.text = "none";
    unsigned long long maxSize = 0;
    std::string output;
    std::vector<std::string> sources;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--codec" && i + 1 < args.size()) {
            if (!ParseCodec(args[++i], &codec)) {
                std::fprintf(stderr, "pelmo-tool cab: unknown codec '%s' (%s)\n", args[i].c_str(),
                             CODEC_NAMES);
                return 2;
            }
        } else if (a == "--max-size" && i + 1 < args.size()) {
            if (!ParseNumber(args[++i], 0x7FFFFFFF, &maxSize)) {
                std::fprintf(stderr, "pelmo-tool cab: bad --max-size '%s'\n", args[i].c_str());
                return 2;
            }
        } else if (a == "-o" && i + 1 < args.size()) {
            output = args[++i];
        } else if (!a.empty() && a[0] != '-') {
            sources.push_back(a);
        } else {
            output.clear();
            sources.clear();
            break;
        }
    }
    if (output.empty() || sources.empty()) {
        std::fputs(
            "usage: pelmo-tool cab create [--codec none|mszip|lzx:N|quantum:N] "
            "[--max-size BYTES] -o CABINET FILE|DIR...\n",
            stderr);
        return 2;
    }
    if (!MakeEncoder(codec)) {
        std::fprintf(stderr, "pelmo-tool cab: codec '%s' is not available in this build\n",
                     codec.text.c_str());
        return 1;
    }
    std::vector<Input> inputs;
    for (const std::string& source : sources) {
        if (!CollectInputs(source, &inputs)) return 1;
    }

    std::string directory;
    std::string first;
    SplitCabinetPath(output, &directory, &first);
    const size_t dot = first.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? first : first.substr(0, dot);
    const std::string extension = dot == std::string::npos || dot == 0 ? "" : first.substr(dot);

    cab::CabinetWriterOptions options;
    options.directory = directory.empty() ? "." : directory;
    options.cabinetName = [first, stem, extension](int index) {
        return index == 0 ? first : stem + std::to_string(index + 1) + extension;
    };
    options.maxCabinetSize = static_cast<uint32_t>(maxSize);
    options.setId = static_cast<uint16_t>(std::time(nullptr) & 0xFFFF);
    cab::CabinetWriter writer(options);
    bool ok = writer.StartFolder([codec] { return MakeEncoder(codec); });
    std::string error;
    for (const Input& input : inputs) {
        if (!ok) break;
        if (!AddDiskFile(writer, input.path.string(), input.storedName, {}, &error)) {
            std::fprintf(stderr, "pelmo-tool cab: %s\n", error.c_str());
            return 1;
        }
    }
    if (ok) ok = writer.Finish();
    if (!ok) {
        std::fprintf(stderr, "pelmo-tool cab: %s: %s\n", output.c_str(), writer.Error().c_str());
        return 1;
    }
    for (const std::string& path : writer.CabinetPaths()) std::printf("%s\n", path.c_str());
    return 0;
}

}  // namespace pelmo::tools::cab_tool
