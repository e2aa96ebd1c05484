// The cost of a signed manifest in step 1: verifying its signature against
// reading (parsing) the same manifest, side by side. The manifest holds 100
// versions with their SHA256, about 13 KiB.
//
//   bench_manifest_signature
#include <benchmark/benchmark.h>

#include <string>

#include "settings/manifest.h"
#include "trust/keys.h"
#include "trust/signature.h"

namespace {

struct SignedManifest {
    std::string document;
    std::string signature;
    pelmo::trust::PublicKey key;
};

const SignedManifest& TheManifest() {
    static const SignedManifest manifest = [] {
        SignedManifest m;
        m.document = "<?xml version=\"1.0\"?>\n<versions SrcPath=\"https://updates.example/\">\n";
        for (int id = 2000; id < 2100; ++id) {
            m.document += "<version ID=\"" + std::to_string(id) +
                          "\" CABSIZE=\"1234567\" SHA256=\"" + std::string(64, 'a') + "\"/>\n";
        }
        m.document += "</versions>\n";
        pelmo::trust::SecretKey secret;
        pelmo::trust::GenerateKeyPair(m.key, secret);
        pelmo::trust::SignData(secret, m.document, "versions.xml", "", m.signature, nullptr);
        return m;
    }();
    return manifest;
}

void BM_VerifySignature(benchmark::State& state) {
    const SignedManifest& m = TheManifest();
    for (auto _ : state) {
        std::string reason;
        if (!pelmo::trust::VerifySignature(m.key, m.document, m.signature, &reason)) {
            state.SkipWithError(reason.c_str());
        }
    }
}

void BM_ReadManifest(benchmark::State& state) {
    const SignedManifest& m = TheManifest();
    for (auto _ : state) {
        pelmo::ManifestState manifest;
        if (pelmo::ReadManifest(m.document, 0, manifest) != 1) state.SkipWithError("refused");
        benchmark::DoNotOptimize(manifest.versions.data());
    }
}

}  // namespace

BENCHMARK(BM_VerifySignature)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadManifest)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
