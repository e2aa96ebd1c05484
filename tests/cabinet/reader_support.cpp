#include "reader_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "cabinet/writer/folder_encoder.h"

namespace cab_test {

Faults g_faults;

void* TestAlloc(uint32_t size) {
    const int n = g_faults.allocCount++;
    if (n == g_faults.allocFailAt) return nullptr;
    g_faults.liveAllocations += 1;
    return std::malloc(size == 0 ? 1 : size);
}

void TestFree(void* memory) {
    if (memory != nullptr) g_faults.liveAllocations -= 1;
    std::free(memory);
}

int TestOpen(const char* path, int flags, int mode) {
    g_faults.openCount += 1;
    int f = O_CLOEXEC;
    if ((flags & 3) == 1) f |= O_WRONLY;
    if ((flags & 3) == 2) f |= O_RDWR;
    if (flags & 0x100) f |= O_CREAT;
    if (flags & 0x200) f |= O_TRUNC;
    if (flags & 0x400) f |= O_EXCL;
    const int fd = ::open(path, f, (mode & 0x180) ? 0644 : 0);
    return fd < 0 ? -1 : fd;
}

int TestRead(int handle, void* buffer, uint32_t count) {
    g_faults.readCount += 1;
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(handle, static_cast<char*>(buffer) + done, count - done);
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int>(done);
}

int TestWrite(int handle, const void* buffer, uint32_t count) {
    const int n = g_faults.writeCount++;
    if (n == g_faults.writeShortAt && count > 0) count -= 1;
    const ssize_t w = ::write(handle, buffer, count);
    return w < 0 ? -1 : static_cast<int>(w);
}

int TestClose(int handle) {
    const int n = g_faults.closeCount++;
    ::close(handle);
    return (g_faults.closeFailFrom >= 0 && n >= g_faults.closeFailFrom) ? -1 : 0;
}

long TestSeek(int handle, long offset, int origin) {
    const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
    return static_cast<long>(::lseek(handle, offset, whence));
}

std::vector<std::string> Recorder::Names(int kind) const {
    std::vector<std::string> names;
    for (const Event& e : events) {
        if (e.kind == kind) names.push_back(e.text1);
    }
    return names;
}

std::vector<int> Recorder::Kinds() const {
    std::vector<int> kinds;
    for (const Event& e : events) kinds.push_back(e.kind);
    return kinds;
}

int DefaultAnswer(Recorder& recorder, int kind, CabNotification* n) {
    if (kind == CAB_NOTIFY_FILE_START) {
        std::string name = n->text1;
        for (char& c : name) {
            if (c == '\\') c = '/';
        }
        const fs::path target = recorder.outputDirectory / name;
        fs::create_directories(target.parent_path());
        return TestOpen(target.c_str(), 0x8000 | 0x1 | 0x100 | 0x200, 0x180);
    }
    if (kind == CAB_NOTIFY_FILE_DONE) {
        ::close(n->fileHandle);
        return 1;
    }
    return 0;
}

int RecordingNotify(int kind, CabNotification* n) {
    auto* recorder = static_cast<Recorder*>(n->userData);
    Event e;
    e.kind = kind;
    e.size = n->size;
    if (n->text1) e.text1 = n->text1;
    if (n->text2) e.text2 = n->text2;
    if (n->text3) e.text3 = n->text3;
    e.fileHandle = n->fileHandle;
    e.date = n->date;
    e.time = n->time;
    e.attributes = n->attributes;
    e.setId = n->setId;
    e.cabinetIndex = n->cabinetIndex;
    e.folderIndex = n->folderIndex;
    e.error = n->error;
    recorder->events.push_back(e);
    if (recorder->answer) return recorder->answer(kind, n);
    return DefaultAnswer(*recorder, kind, n);
}

// The decrypt callback has no user pointer of its own: it finds the recorder
// through the request's userData.
int RecordingDecrypt(CabDecryptRequest* r) {
    auto* recorder = static_cast<Recorder*>(r->userData);
    recorder->decrypts.push_back(*r);
    if (r->kind == CAB_DECRYPT_DATA_BLOCK) {
        const auto* data = static_cast<const uint8_t*>(r->data);
        recorder->decryptData.emplace_back(data, data + r->dataSize);
    }
    if (recorder->decryptAnswer) return recorder->decryptAnswer(r);
    return 0;
}

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

std::vector<uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void ScratchTest::SetUp() {
    g_faults = Faults{};
    fs::create_directories(dir_ / "out");
}

std::vector<std::string> ScratchTest::Build(const std::vector<std::vector<TestFile>>& folders,
                                            cab::CabinetWriterOptions options) {
    std::vector<EncodedFolder> stored;
    for (const auto& files : folders)
        stored.push_back({[] { return cab::MakeStoredEncoder(); }, files});
    return BuildFolders(stored, std::move(options));
}

std::vector<std::string> ScratchTest::BuildFolders(const std::vector<EncodedFolder>& folders,
                                                   cab::CabinetWriterOptions options) {
    options.directory = dir_.string();
    std::vector<pelmo::testing::CabinetFolder> written;
    for (const EncodedFolder& folder : folders) {
        pelmo::testing::CabinetFolder& entry = written.emplace_back();
        entry.makeEncoder = folder.makeEncoder;
        for (const TestFile& file : folder.files) {
            cab::CabinetFileInfo info;
            info.name = file.name;
            info.attributes = file.attributes;
            info.date = file.date;
            info.time = file.time;
            entry.files.push_back({info, file.data.data(), file.data.size()});
        }
    }
    return pelmo::testing::WriteCabinetFolders(options, written);
}

CabContext* ScratchTest::NewContext() {
    return CabCreate(TestAlloc, TestFree, TestOpen, TestRead, TestWrite, TestClose, TestSeek, 0,
                     &error_);
}

int ScratchTest::CopyWith(CabContext* context, const std::string& cabinet, Recorder& recorder,
                          bool withDecrypt) {
    if (recorder.outputDirectory.empty()) recorder.outputDirectory = dir_ / "out";
    const fs::path path(cabinet);
    const std::string folder = path.parent_path().string() + "/";
    const std::string name = path.filename().string();
    return CabCopy(context, name.c_str(), folder.c_str(), 0, RecordingNotify,
                   withDecrypt ? RecordingDecrypt : nullptr, &recorder);
}

int ScratchTest::Copy(const std::string& cabinet, Recorder& recorder, bool withDecrypt) {
    CabContext* context = NewContext();
    EXPECT_NE(context, nullptr);
    const int result = CopyWith(context, cabinet, recorder, withDecrypt);
    CabDestroy(context);
    return result;
}

}  // namespace cab_test
