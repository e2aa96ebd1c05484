// pelmo-tool cab create: builds a cabinet (or a set of cabinets) from files
// and folders with the library's writer.
#include <sys/stat.h>

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
#include "cabinet/writer/folder_encoder.h"
#include "tools/cab_tool.h"

namespace pelmo::tools::cab_tool {

namespace {

namespace fs = std::filesystem;

struct Input {
    fs::path path;
    std::string storedName;  // with "\" between folders
};

struct CodecChoice {
    std::string text;
    int codec = 0;  // 0 none, 1 mszip, 2 quantum, 3 lzx
    int windowBits = 0;
};

bool ParseNumber(const std::string& text, unsigned long long max, unsigned long long* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    char* end = nullptr;
    *value = std::strtoull(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0' && *value <= max;
}

bool ParseCodec(const std::string& text, CodecChoice* choice) {
    choice->text = text;
    if (text == "none") {
        choice->codec = 0;
        return true;
    }
    if (text == "mszip") {
        choice->codec = 1;
        return true;
    }
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    const std::string kind = text.substr(0, colon);
    unsigned long long bits = 0;
    if (!ParseNumber(text.substr(colon + 1), 64, &bits)) return false;
    choice->windowBits = static_cast<int>(bits);
    if (kind == "lzx") {
        choice->codec = 3;
        return bits >= 15 && bits <= 21;
    }
    if (kind == "quantum") {
        choice->codec = 2;
        return bits >= 10 && bits <= 21;
    }
    return false;
}

std::unique_ptr<cab::FolderEncoder> MakeEncoder(const CodecChoice& choice) {
    switch (choice.codec) {
        case 1:
            return cab::MakeMszipEncoder(6);
        case 2:
            return cab::MakeQuantumEncoder(choice.windowBits);
        case 3:
            return cab::MakeLzxEncoder(choice.windowBits, true);
        default:
            return cab::MakeStoredEncoder();
    }
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
                std::fprintf(stderr,
                             "pelmo-tool cab: unknown codec '%s' (none, mszip, lzx:15..21, "
                             "quantum:10..21)\n",
                             args[i].c_str());
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
    for (const Input& input : inputs) {
        if (!ok) break;
        struct stat st;
        std::FILE* file = std::fopen(input.path.c_str(), "rb");
        if (file == nullptr || fstat(fileno(file), &st) != 0) {
            std::fprintf(stderr, "pelmo-tool cab: cannot read '%s'\n", input.path.c_str());
            if (file != nullptr) std::fclose(file);
            return 1;
        }
        cab::CabinetFileInfo info;
        info.name = input.storedName;
        DosDateTime(st.st_mtime, &info.date, &info.time);
        info.attributes = CAB_ATTR_ARCHIVE;
        if (!(st.st_mode & S_IWUSR)) info.attributes |= CAB_ATTR_READONLY;
        if (st.st_mode & S_IXUSR) info.attributes |= CAB_ATTR_EXEC;
        ok = writer.AddFile(info, static_cast<uint64_t>(st.st_size),
                            [file](uint8_t* buffer, size_t count) -> long {
                                const size_t n = std::fread(buffer, 1, count, file);
                                return n == 0 && std::ferror(file) ? -1 : static_cast<long>(n);
                            });
        std::fclose(file);
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
