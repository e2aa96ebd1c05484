// Fuzzes the cabinet reader and, behind it, every decoder: the input is one
// cabinet or several (split at each later "MSCF"), served from memory through
// the library's callbacks. Files are written to a sink that reads every byte.
// A fresh context walks the set from the first cabinet without a decrypt
// callback; a second fresh context walks it with a decrypt callback that
// changes nothing. The two take different read paths through stored folders
// and must end alike, with the same bytes written.
// Then the first context walks a second input (the set from the second
// cabinet on, or the same one again when there is no second) and must end as
// a fresh context does on it: a walk may not serve anything an earlier walk
// left behind. Only the window of an LZX or Quantum decoder is kept across
// folders by design, so bytes are compared only when the second input has
// no folder of those kinds.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cabinet/cabinet.h"

namespace {

struct OpenFile {
    int cabinet = -1;  // -1: closed
    size_t position = 0;
};

std::vector<std::vector<uint8_t>> g_cabinets;
std::vector<OpenFile> g_handles;
long g_live = 0;
int g_first = 0;  // the cabinet a walk starts from
int g_switches = 0;
uint32_t g_sink = 0;
uint32_t g_decryptSink = 0;
constexpr int kSinkHandle = 1 << 20;

void* Alloc(uint32_t size) {
    g_live += 1;
    return std::malloc(size == 0 ? 1 : size);
}
void Free(void* memory) {
    if (memory != nullptr) g_live -= 1;
    std::free(memory);
}

int Open(const char* path, int, int) {
    // Names end in the cabinet's number: ".../c0", ".../c1", ...
    const char* digits = std::strrchr(path, 'c');
    if (digits == nullptr) return -1;
    const int index = std::atoi(digits + 1);
    if (index < 0 || index >= static_cast<int>(g_cabinets.size())) return -1;
    g_handles.push_back({index, 0});
    return static_cast<int>(g_handles.size()) - 1;
}

OpenFile* Find(int handle) {
    if (handle < 0 || handle >= static_cast<int>(g_handles.size())) return nullptr;
    OpenFile* f = &g_handles[static_cast<size_t>(handle)];
    return f->cabinet < 0 ? nullptr : f;
}

int Read(int handle, void* buffer, uint32_t count) {
    OpenFile* f = Find(handle);
    if (f == nullptr) return -1;
    const auto& bytes = g_cabinets[static_cast<size_t>(f->cabinet)];
    if (f->position >= bytes.size()) return 0;
    const size_t n = std::min<size_t>(count, bytes.size() - f->position);
    std::memcpy(buffer, bytes.data() + f->position, n);
    f->position += n;
    return static_cast<int>(n);
}

int Write(int handle, const void* buffer, uint32_t count) {
    if (handle != kSinkHandle) return -1;
    const auto* p = static_cast<const uint8_t*>(buffer);
    for (uint32_t i = 0; i < count; ++i) g_sink = g_sink * 31 + p[i];
    return static_cast<int>(count);
}

int Close(int handle) {
    if (handle == kSinkHandle) return 0;
    OpenFile* f = Find(handle);
    if (f == nullptr) __builtin_trap();  // the library closed something it does not hold
    f->cabinet = -1;
    return 0;
}

long Seek(int handle, long offset, int origin) {
    OpenFile* f = Find(handle);
    if (f == nullptr) return -1;
    long base = 0;
    if (origin == 1) base = static_cast<long>(f->position);
    if (origin == 2) base = static_cast<long>(g_cabinets[static_cast<size_t>(f->cabinet)].size());
    if (offset > 0 && base > (1L << 40)) return -1;
    const long target = base + offset;
    if (target < 0) return -1;
    f->position = static_cast<size_t>(target);
    return target;
}

int Notify(int kind, CabNotification* n) {
    switch (kind) {
        case CAB_NOTIFY_FILE_START:
            // Skip some files so that skipping paths are covered too.
            return std::strlen(n->text1) % 4 == 3 ? 0 : kSinkHandle;
        case CAB_NOTIFY_FILE_DONE:
            return 1;
        case CAB_NOTIFY_NEED_CABINET:
            if (n->error != 0 || g_switches > 8) return -1;
            std::snprintf(n->text1, CAB_NAME_BUFFER, "c%d", g_first + ++g_switches);
            return 0;
        default:
            return 0;
    }
}

int Decrypt(CabDecryptRequest* r) {
    if (r->kind == CAB_DECRYPT_DATA_BLOCK && r->dataSize > 0) {
        const auto* p = static_cast<const uint8_t*>(r->data);
        g_decryptSink += p[0] + p[r->dataSize - 1];
    }
    return 0;
}

struct Outcome {
    int result;
    int code;
    uint32_t written;
    bool operator==(const Outcome&) const = default;
};

Outcome Walk(CabContext* context, CabErrorRecord& error, CabDecryptFn decrypt, int first) {
    g_first = first;
    g_switches = 0;
    g_sink = 0;
    error = CabErrorRecord{};
    char name[16];
    std::snprintf(name, sizeof name, "c%d", first);
    const int result = CabCopy(context, name, "", 0, Notify, decrypt, nullptr);
    for (const OpenFile& f : g_handles) {
        if (f.cabinet >= 0) __builtin_trap();  // every cabinet handle closed
    }
    return {result, error.code, g_sink};
}

// Whether a folder of the cabinets from `first` on keeps a window across
// folders (LZX, Quantum), or their folder tables cannot be found.
bool KeepsWindow(size_t first) {
    for (size_t c = first; c < g_cabinets.size(); ++c) {
        const auto& b = g_cabinets[c];
        if (b.size() < 36) return true;
        const unsigned flags = b[30] | (b[31] << 8);
        size_t at = 36;
        unsigned folderReserve = 0;
        if (flags & 4) {
            if (b.size() < 40) return true;
            folderReserve = b[38];
            at = 40 + (b[36] | (b[37] << 8));
        }
        const int names = ((flags & 1) ? 2 : 0) + ((flags & 2) ? 2 : 0);
        for (int i = 0; i < names; ++i) {
            while (at < b.size() && b[at] != 0) ++at;
            ++at;
        }
        const unsigned folders = b[26] | (b[27] << 8);
        for (unsigned f = 0; f < folders; ++f, at += 8 + folderReserve) {
            if (at + 8 > b.size()) return true;
            const int codec = b[at + 6] & CAB_CODEC_MASK;
            if (codec == CAB_CODEC_LZX || codec == CAB_CODEC_QUANTUM) return true;
        }
    }
    return false;
}

CabContext* NewContext(CabErrorRecord& error) {
    return CabCreate(Alloc, Free, Open, Read, Write, Close, Seek, 0, &error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    g_cabinets.clear();
    g_handles.clear();
    size_t start = 0;
    for (size_t i = 4; i + 4 <= size && g_cabinets.size() < 3; ++i) {
        if (std::memcmp(data + i, "MSCF", 4) == 0) {
            g_cabinets.emplace_back(data + start, data + i);
            start = i;
        }
    }
    g_cabinets.emplace_back(data + start, data + size);
    const int second = g_cabinets.size() > 1 ? 1 : 0;

    CabErrorRecord error{};
    CabContext* reused = NewContext(error);
    if (reused == nullptr) return 0;
    const int probe = Open("c0", 0, 0);
    CabCabinetInfo info;
    CabIsCabinet(reused, probe, &info);
    Close(probe);
    const Outcome plain = Walk(reused, error, nullptr, 0);
    const Outcome after = Walk(reused, error, nullptr, second);
    CabDestroy(reused);

    CabContext* context = NewContext(error);
    if (context == nullptr) return 0;
    const Outcome decrypted = Walk(context, error, Decrypt, 0);
    CabDestroy(context);
    if (!(plain == decrypted)) __builtin_trap();

    context = NewContext(error);
    if (context == nullptr) return 0;
    const Outcome fresh = Walk(context, error, nullptr, second);
    CabDestroy(context);
    // The first input fixed the context's reserve sizes; a second input
    // with others is refused, which a fresh context need not do.
    if (after.code != CAB_ERROR_RESERVE_MISMATCH) {
        if (after.result != fresh.result || after.code != fresh.code) __builtin_trap();
        if (after.written != fresh.written && !KeepsWindow(static_cast<size_t>(second))) {
            __builtin_trap();
        }
    }
    if (g_live != 0) __builtin_trap();
    return 0;
}
