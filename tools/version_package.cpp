#include "tools/version_package.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "cabinet/writer/cabinet_writer.h"
#include "tools/cabinet_input.h"
#include "trust/sha256.h"

namespace pelmo::tools {

std::string TemporaryName(const std::string& name) {
    return "." + name + "." + std::to_string(::getpid()) + ".partial";
}

bool BuildVersionPackage(int32_t id, const ReleaseTree& tree, const CodecChoice& codec,
                         const std::string& outDir, std::atomic<std::uint64_t>& compressed,
                         BuiltPackage& built, std::string* error) {
    const std::string number = std::to_string(id);
    const std::string pakPath = outDir + "/" + TemporaryName(number + ".pak");
    const std::string cabName = TemporaryName(number + ".cab");
    built = BuiltPackage{};
    built.temporaryPath = outDir + "/" + cabName;
    bool ok = tree.content->Write(pakPath, error);
    if (ok) {
        cab::CabinetWriterOptions options;
        options.directory = outDir;
        options.cabinetName = [cabName](int) { return cabName; };
        options.setId = static_cast<uint16_t>(id);
        cab::CabinetWriter writer(options);
        DiskFileOptions input;
        input.keepMetadata = false;
        input.onRead = [&compressed](std::size_t n) { compressed += n; };
        ok = writer.StartFolder([codec] { return MakeEncoder(codec); }) &&
             AddDiskFile(writer, pakPath, number + ".pak", input, error);
        if (ok && !writer.Finish()) {
            *error = writer.Error();
            ok = false;
        } else if (!ok && error->empty()) {
            *error = writer.Error();
        }
    }
    std::remove(pakPath.c_str());
    std::error_code failure;
    if (ok) {
        built.cabinetBytes = std::filesystem::file_size(built.temporaryPath, failure);
        if (failure) *error = failure.message();
        ok = !failure && trust::Sha256OfFile(built.temporaryPath, built.sha256, error);
    }
    if (!ok) {
        std::remove(built.temporaryPath.c_str());
        *error = number + ": " + *error;
    }
    return ok;
}

}  // namespace pelmo::tools
