#include "tools/release_publisher.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>
#include <vector>

#include "tools/manifest_text.h"
#include "tools/parallel_jobs.h"
#include "tools/publish_progress.h"
#include "tools/publish_record.h"
#include "tools/publish_summary.h"
#include "tools/release_signing.h"
#include "tools/release_tree.h"
#include "tools/version_package.h"

namespace pelmo::tools {

namespace {

namespace fs = std::filesystem;

int Fail(const std::string& message) {
    std::fprintf(stderr, "pelmo-tool publish: %s\n", message.c_str());
    return 1;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Writes content to a new file at path, flushed to disk.
bool WriteNewFile(const std::string& path, const std::string& content, std::string* error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0;
    for (size_t done = 0; ok && done < content.size();) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    if (fd >= 0) ok = ::close(fd) == 0 && ok;
    if (!ok) {
        *error = path + ": " + std::strerror(errno);
        std::remove(path.c_str());
    }
    return ok;
}

bool MoveIntoPlace(const std::string& from, const std::string& to, std::string* error) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    *error = to + ": " + std::strerror(errno);
    std::remove(from.c_str());
    return false;
}

bool HoldsText(const std::string& path, const std::string& text) {
    std::error_code ignored;
    return fs::is_regular_file(path, ignored) && ReadText(path) == text;
}

// Replaces path's content atomically, through a temporary file beside it; a
// file that holds the content already is left alone.
bool ReplaceFile(const std::string& folder, const std::string& name, const std::string& content,
                 std::string* error) {
    if (HoldsText(folder + "/" + name, content)) return true;
    const std::string temporary = folder + "/" + TemporaryName(name);
    return WriteNewFile(temporary, content, error) &&
           MoveIntoPlace(temporary, folder + "/" + name, error);
}

// Whether outDir would be inside the release folder, where it would be
// published as content.
bool Inside(const std::string& inner, const std::string& outer) {
    std::error_code ignored;
    const fs::path a = fs::weakly_canonical(inner, ignored);
    const fs::path b = fs::weakly_canonical(outer, ignored);
    auto [end, unused] = std::mismatch(b.begin(), b.end(), a.begin(), a.end());
    return end == b.end();
}

std::string CabinetPath(const std::string& outDir, int32_t id) {
    return outDir + "/" + std::to_string(id) + ".cab";
}

bool StillInPlace(const std::string& outDir, const PublishedVersion& v) {
    std::error_code failure;
    return fs::file_size(CabinetPath(outDir, v.id), failure) == v.cabinetBytes && !failure;
}

// Writes the signature (when signing) and then the manifest, unless both
// already hold what they should.
bool WriteManifest(const std::string& outDir, const ManifestSigner* signer, const std::string& text,
                   std::string* error) {
    const std::string signatureName = std::string(MANIFEST_NAME) + ".minisig";
    const std::string signaturePath = outDir + "/" + signatureName;
    const bool same = HoldsText(outDir + "/" + MANIFEST_NAME, text);
    if (signer == nullptr) {
        if (same) return true;
        // A signature of the old text would only be refused.
        std::remove(signaturePath.c_str());
    } else if (!same || !signer->Signs(text, ReadText(signaturePath))) {
        std::string signature;
        if (!signer->Sign(text, MANIFEST_NAME, signature, error) ||
            !ReplaceFile(outDir, signatureName, signature, error))
            return false;
    }
    return ReplaceFile(outDir, MANIFEST_NAME, text, error);
}

// Reads and checks every version's tree, in parallel.
bool ReadTrees(const std::vector<ReleaseVersion>& versions, unsigned jobs,
               std::vector<ReleaseTree>& trees, std::string* error) {
    const size_t count = versions.size();
    trees.resize(count);
    std::vector<std::string> errors(count);
    std::vector<char> ok(count, 0);
    RunParallel(count, jobs, [&](size_t i) {
        ok[i] = ReadReleaseTree(versions[i].folder, trees[i], &errors[i]);
    });
    for (size_t i = 0; i < count; ++i) {
        if (!ok[i]) {
            *error = errors[i];
            return false;
        }
    }
    return true;
}

// Builds the versions listed in toBuild in parallel, then renames their
// cabinets into place and fills their rows. On failure no temporary file
// remains.
bool BuildPackages(const PublishOptions& options, const std::vector<ReleaseVersion>& versions,
                   std::vector<ReleaseTree>& trees, const std::vector<size_t>& toBuild,
                   std::vector<SummaryRow>& rows, std::string* error) {
    PublishProgress progress(stderr, ::isatty(STDERR_FILENO) == 1);
    for (size_t i : toBuild) progress.Add(versions[i].id, trees[i].bytes);
    std::vector<BuiltPackage> built(toBuild.size());
    std::vector<char> ok(toBuild.size(), 0);
    std::vector<std::string> errors(toBuild.size());
    RunParallel(
        toBuild.size(), options.jobs,
        [&](size_t k) {
            const size_t i = toBuild[k];
            progress.Started(k);
            ok[k] = BuildVersionPackage(versions[i].id, trees[i], options.codec, options.outDir,
                                        progress.Counter(k), built[k], &errors[k]);
            trees[i].content.reset();
            progress.Finished(k, ok[k]);
        },
        [&] { progress.Redraw(); });
    progress.Redraw();
    const auto fail = [&](const std::string& message) {
        for (const BuiltPackage& b : built)
            if (!b.temporaryPath.empty()) std::remove(b.temporaryPath.c_str());
        *error = message;
        return false;
    };
    for (size_t k = 0; k < toBuild.size(); ++k)
        if (!ok[k]) return fail(errors[k]);
    for (size_t k = 0; k < toBuild.size(); ++k) {
        const size_t i = toBuild[k];
        std::string message;
        if (!MoveIntoPlace(built[k].temporaryPath, CabinetPath(options.outDir, versions[i].id),
                           &message))
            return fail(message);
        built[k].temporaryPath.clear();
        rows[i] = {{versions[i].id, trees[i].digest, options.codec.text, trees[i].files,
                    trees[i].bytes, built[k].cabinetBytes, built[k].sha256},
                   "built"};
    }
    return true;
}

}  // namespace

int PublishRelease(const PublishOptions& options) {
    if (!IsPublishableBaseUrl(options.baseUrl))
        return Fail("base URL '" + options.baseUrl +
                    "' is not an http:// or https:// address (without ? or #)");
    std::unique_ptr<ManifestSigner> signer;
    std::string error;
    if (!options.signKeyFile.empty()) {
        signer = std::make_unique<ManifestSigner>();
        if (!signer->Load(options.signKeyFile, &error))
            return Fail(options.signKeyFile + ": " + error);
    }
    std::vector<ReleaseVersion> versions;
    if (!ListReleaseVersions(options.releasesDir, versions, &error)) return Fail(error);
    if (Inside(options.outDir, options.releasesDir))
        return Fail(options.outDir + ": the output folder cannot lie inside the release folder");

    // Every tree is read and checked before anything is written.
    std::vector<ReleaseTree> trees;
    if (!ReadTrees(versions, options.jobs, trees, &error)) return Fail(error);
    const size_t count = versions.size();

    std::error_code failure;
    fs::create_directories(options.outDir, failure);
    if (failure) return Fail(options.outDir + ": " + failure.message());
    std::map<int32_t, PublishedVersion> previous;
    for (const PublishedVersion& v : ReadPublishRecord(options.outDir)) previous[v.id] = v;

    std::vector<SummaryRow> rows(count);
    std::vector<size_t> toBuild;
    for (size_t i = 0; i < count; ++i) {
        const auto found = previous.find(versions[i].id);
        if (found != previous.end() && found->second.treeDigest == trees[i].digest &&
            found->second.codec == options.codec.text &&
            StillInPlace(options.outDir, found->second)) {
            rows[i] = {found->second, "unchanged"};
        } else {
            toBuild.push_back(i);
        }
    }

    if (!BuildPackages(options, versions, trees, toBuild, rows, &error)) return Fail(error);

    // Versions whose folder is gone: kept in the manifest, or pruned.
    std::vector<int32_t> pruned;
    for (const auto& [id, v] : previous) {
        const int32_t gone = id;
        if (std::any_of(versions.begin(), versions.end(),
                        [gone](const ReleaseVersion& r) { return r.id == gone; }))
            continue;
        if (options.prune) {
            pruned.push_back(gone);
        } else if (StillInPlace(options.outDir, v)) {
            rows.push_back({v, "kept"});
        }
    }
    std::sort(rows.begin(), rows.end(),
              [](const SummaryRow& a, const SummaryRow& b) { return a.version.id < b.version.id; });
    std::vector<PublishedVersion> record;
    std::vector<ManifestVersion> manifest;
    for (const SummaryRow& row : rows) {
        record.push_back(row.version);
        manifest.push_back({row.version.id, row.version.cabinetBytes, row.version.sha256});
    }
    if (!ReplaceFile(options.outDir, PUBLISH_RECORD_NAME, PublishRecordText(record), &error) ||
        !WriteManifest(options.outDir, signer.get(), ManifestText(options.baseUrl, manifest),
                       &error))
        return Fail(error);
    // Only now that no manifest names them.
    for (int32_t id : pruned) std::remove(CabinetPath(options.outDir, id).c_str());

    PrintSummary(stdout, rows);
    return 0;
}

}  // namespace pelmo::tools
