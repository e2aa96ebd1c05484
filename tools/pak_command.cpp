// pelmo-tool pak: list, unpack and pack compound files (package content).
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "install/storage_tree_copy.h"
#include "platform/compound_file_reader.h"
#include "platform/compound_file_writer.h"
#include "tools/commands.h"
#include "tools/folder_packing.h"

namespace pelmo::tools {

namespace {

namespace fs = std::filesystem;
using platform::CompoundElementKind;
using platform::CompoundFile;
using platform::CompoundStorage;

void PrintPakUsage(std::FILE* to) {
    std::fputs(
        "usage: pelmo-tool pak list FILE\n"
        "       pelmo-tool pak unpack [--sync] FILE DIR\n"
        "       pelmo-tool pak pack DIR FILE\n"
        "  list    show every storage and stream of a compound file\n"
        "  unpack  copy its tree into DIR as the installation does (storages become\n"
        "          folders, streams files); --sync flushes each file to disk\n"
        "  pack    make a compound file of DIR's folders and files\n",
        to);
}

std::unique_ptr<CompoundFile> OpenOrReport(const std::string& path) {
    std::string error;
    auto file = CompoundFile::Open(path, &error);
    if (!file) std::fprintf(stderr, "pelmo-tool pak: %s\n", error.c_str());
    return file;
}

void ListTree(const CompoundStorage& storage, const std::string& prefix) {
    for (const auto& element : storage.Children()) {
        const std::string path = prefix + element.name;
        switch (element.kind) {
            case CompoundElementKind::Storage: {
                std::printf("storage %12s  %s/\n", "-", path.c_str());
                std::string error;
                auto child = storage.OpenStorage(element, &error);
                if (child) ListTree(*child, path + "/");
                break;
            }
            case CompoundElementKind::Stream:
                std::printf("stream  %12" PRIu64 "  %s\n", element.size, path.c_str());
                break;
            default:
                std::printf("type %-3u %11s  %s\n", element.rawType, "-", path.c_str());
                break;
        }
    }
}

int List(const Args& args) {
    if (args.size() != 1) {
        PrintPakUsage(stderr);
        return 2;
    }
    auto file = OpenOrReport(args[0]);
    if (!file) return 1;
    ListTree(file->Root(), "");
    return 0;
}

std::string OwnProgramPath() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.string();
}

int Unpack(const Args& args) {
    bool durable = false;
    std::vector<std::string> rest;
    for (const auto& arg : args) {
        if (arg == "--sync") {
            durable = true;
        } else {
            rest.push_back(arg);
        }
    }
    if (rest.size() != 2) {
        PrintPakUsage(stderr);
        return 2;
    }
    auto file = OpenOrReport(rest[0]);
    if (!file) return 1;
    StorageCopyOptions options;
    options.modulePath = OwnProgramPath();
    options.durable = durable;
    StorageCopyReport report;
    CopyStorageTree(file->Root(), rest[1], options, &report);
    for (const auto& problem : report.problems)
        std::fprintf(stderr, "pelmo-tool pak: %s\n", problem.c_str());
    std::printf("%" PRIu64 " files, %" PRIu64 " bytes\n", report.files, report.bytes);
    return report.problems.empty() ? 0 : 1;
}

int Pack(const Args& args) {
    if (args.size() != 2) {
        PrintPakUsage(stderr);
        return 2;
    }
    std::error_code error;
    if (!fs::is_directory(args[0], error)) {
        std::fprintf(stderr, "pelmo-tool pak: %s: not a folder\n", args[0].c_str());
        return 1;
    }
    platform::CompoundFileWriter writer;
    const auto skip = [](const fs::path& entry) {
        std::fprintf(stderr, "pelmo-tool pak: %s: not a file or folder; skipped\n", entry.c_str());
        return true;
    };
    FolderPackingReport packed;
    std::string message;
    if (!PackFolder(writer, args[0], {}, skip, &packed, &message)) {
        std::fprintf(stderr, "pelmo-tool pak: %s\n", message.c_str());
        return 1;
    }
    if (!writer.Write(args[1], &message)) {
        std::fprintf(stderr, "pelmo-tool pak: %s\n", message.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int RunPakCommand(const Args& args) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        PrintPakUsage(args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    const Args rest(args.begin() + 1, args.end());
    if (args[0] == "list") return List(rest);
    if (args[0] == "unpack") return Unpack(rest);
    if (args[0] == "pack") return Pack(rest);
    std::fprintf(stderr, "pelmo-tool pak: unknown action '%s'\n", args[0].c_str());
    PrintPakUsage(stderr);
    return 2;
}

}  // namespace pelmo::tools
