#include "cabinet/writer/cabinet_writer.h"

#include <algorithm>
#include <cstring>

#include "cabinet/cabinet_format.h"
#include "cabinet/checksum.h"

namespace cab {

namespace {

void PutLe16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}
void PutLe32(std::vector<uint8_t>& out, uint32_t value) {
    PutLe16(out, value & 0xFFFF);
    PutLe16(out, value >> 16);
}
void PutString(std::vector<uint8_t>& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

}  // namespace

struct CabinetWriter::FileRecord {
    CabinetFileInfo info;
    uint32_t size = 0;
    uint32_t offset = 0;
    int folderSerial = 0;
    int firstCabinet = -1;
    int lastCabinet = -1;
};

struct CabinetWriter::CabinetFolder {
    int serial = 0;
    uint16_t type = 0;
    uint32_t blockCount = 0;
    uint64_t dataStart = 0;
};

struct CabinetWriter::Cabinet {
    int index = 0;
    std::vector<CabinetFolder> folders;
    std::vector<size_t> files;
    uint32_t tableBytes = 0;
    uint64_t dataBytes = 0;
    std::FILE* spool = nullptr;
    ~Cabinet() {
        if (spool != nullptr) std::fclose(spool);
    }
};

CabinetWriter::CabinetWriter(CabinetWriterOptions options) : options_(std::move(options)) {}

CabinetWriter::~CabinetWriter() = default;

bool CabinetWriter::Failed(std::string message) {
    if (error_.empty()) error_ = std::move(message);
    return false;
}

std::string CabinetWriter::CabinetName(int index) const {
    if (options_.cabinetName) return options_.cabinetName(index);
    return "cabinet" + std::to_string(index + 1) + ".cab";
}

std::string CabinetWriter::DiskName(int index) const {
    if (options_.diskName) return options_.diskName(index);
    return "DISK" + std::to_string(index + 1);
}

uint32_t CabinetWriter::EntrySize(size_t file) const {
    return FILE_ENTRY_FIXED_SIZE + static_cast<uint32_t>(files_[file].info.name.size()) + 1;
}

bool CabinetWriter::InCabinet(size_t file) const {
    return files_[file].lastCabinet == cabinet_->index;
}

uint32_t CabinetWriter::HeaderSize(const Cabinet& cabinet) const {
    uint32_t size = CABINET_HEADER_SIZE;
    const bool reserve = options_.reserveFlag || options_.headerReserveSize != 0 ||
                         options_.folderReserveSize != 0 || options_.blockReserveSize != 0;
    if (reserve) size += 4 + options_.headerReserveSize;
    if (cabinet.index > 0) {
        size += static_cast<uint32_t>(CabinetName(cabinet.index - 1).size() +
                                      DiskName(cabinet.index - 1).size() + 2);
    }
    if (options_.maxCabinetSize != 0) {
        size += static_cast<uint32_t>(CabinetName(cabinet.index + 1).size() +
                                      DiskName(cabinet.index + 1).size() + 2);
    }
    size += static_cast<uint32_t>(cabinet.folders.size()) *
            (FOLDER_ENTRY_FIXED_SIZE + options_.folderReserveSize);
    return size + cabinet.tableBytes;
}

bool CabinetWriter::OpenCabinet() {
    cabinet_ = std::make_unique<Cabinet>();
    cabinet_->index = cabinetCount_++;
    cabinet_->spool = std::tmpfile();
    if (cabinet_->spool == nullptr) return Failed("cannot create a temporary file");
    return true;
}

bool CabinetWriter::StartFolder(std::function<std::unique_ptr<FolderEncoder>()> makeEncoder) {
    if (finished_) return Failed("the writer has finished");
    if (!cabinet_ && !OpenCabinet()) return false;
    if (folderOpen_ && !EndFolder()) return false;
    makeEncoder_ = std::move(makeEncoder);
    return BeginFolder();
}

bool CabinetWriter::BeginFolder() {
    encoder_ = makeEncoder_ ? makeEncoder_() : nullptr;
    if (!encoder_) return Failed("this compression is not available");
    folderSerial_ += 1;
    folderOpen_ = true;
    folderCrossed_ = false;
    folderHasBlocks_ = false;
    folderSize_ = 0;
    frameStart_ = 0;
    frame_.clear();
    frame_.reserve(MAX_BLOCK_SIZE);
    pending_.clear();
    return true;
}

bool CabinetWriter::AddFile(const CabinetFileInfo& info, const uint8_t* data, size_t size) {
    size_t used = 0;
    return AddFile(info, size, [&](uint8_t* buffer, size_t count) -> long {
        const size_t n = std::min(count, size - used);
        if (n != 0) std::memcpy(buffer, data + used, n);
        used += n;
        return static_cast<long>(n);
    });
}

bool CabinetWriter::AddFile(const CabinetFileInfo& info, uint64_t size, const FileSource& source) {
    if (finished_) return Failed("the writer has finished");
    if (!folderOpen_) return Failed("no folder started");
    if (info.name.size() > MAX_NAME_LENGTH || info.name.find('\0') != std::string::npos) {
        return Failed("file name too long: " + info.name);
    }
    if (folderCrossed_) {
        // Start afresh so that this file can be read from its own cabinet.
        if (!EndFolder() || !BeginFolder()) return false;
    }
    if (folderSize_ + size > UINT32_MAX) return Failed("folder larger than 4 GiB");
    FileRecord record;
    record.info = info;
    record.size = static_cast<uint32_t>(size);
    record.offset = static_cast<uint32_t>(folderSize_);
    record.folderSerial = folderSerial_;
    files_.push_back(record);
    pending_.push_back(files_.size() - 1);
    uint64_t remaining = size;
    while (remaining > 0) {
        if (frame_.size() == MAX_BLOCK_SIZE && !EmitFrame(false)) return false;
        const size_t want = std::min<uint64_t>(MAX_BLOCK_SIZE - frame_.size(), remaining);
        const size_t old = frame_.size();
        frame_.resize(old + want);
        const long got = source(frame_.data() + old, want);
        if (got <= 0 || static_cast<size_t>(got) > want) {
            frame_.resize(old);
            return Failed("cannot read " + info.name);
        }
        frame_.resize(old + static_cast<size_t>(got));
        remaining -= static_cast<uint64_t>(got);
    }
    folderSize_ += size;
    return true;
}

bool CabinetWriter::EmitFrame(bool lastFrame) {
    std::vector<uint8_t> block;
    const uint32_t size = static_cast<uint32_t>(frame_.size());
    if (!encoder_->EncodeFrame(frame_.data(), size, lastFrame, block)) {
        return Failed("compression failed");
    }
    if (block.size() > 0xFFFF) return Failed("compressed block too large");
    const uint64_t start = frameStart_;
    const uint64_t end = start + size;
    if (!PlaceBlock(block, size, start, end, lastFrame)) return false;
    frameStart_ = end;
    frame_.clear();
    // Files whose data is all placed need nothing more.
    std::erase_if(pending_, [&](size_t f) {
        const FileRecord& r = files_[f];
        return r.size == 0 ? r.firstCabinet >= 0 : r.offset + static_cast<uint64_t>(r.size) <= end;
    });
    return true;
}

bool CabinetWriter::PlaceBlock(const std::vector<uint8_t>& block, uint32_t uncompressedSize,
                               uint64_t start, uint64_t end, bool lastFrame) {
    std::vector<size_t> touching;
    for (size_t f : pending_) {
        const FileRecord& r = files_[f];
        const bool touches =
            r.size == 0 ? (r.offset >= start && r.offset < end) || (lastFrame && r.offset == end)
                        : r.offset < end && r.offset + uint64_t{r.size} > start;
        if (touches) touching.push_back(f);
    }
    const uint32_t blockHeader = BLOCK_HEADER_FIXED_SIZE + options_.blockReserveSize;
    const uint32_t size = static_cast<uint32_t>(block.size());
    if (options_.maxCabinetSize == 0) {
        return PlacePart(block.data(), size, uncompressedSize, touching);
    }
    auto used = [&]() {
        uint64_t total = HeaderSize(*cabinet_) + cabinet_->dataBytes;
        const bool folderHere =
            !cabinet_->folders.empty() && cabinet_->folders.back().serial == folderSerial_;
        if (!folderHere) total += FOLDER_ENTRY_FIXED_SIZE + options_.folderReserveSize;
        for (size_t f : touching) {
            if (!InCabinet(f) && !(files_[f].size == 0 && files_[f].firstCabinet >= 0)) {
                total += EntrySize(f);
            }
        }
        return total;
    };
    const uint64_t max = options_.maxCabinetSize;
    const uint64_t before = used();
    if (before + blockHeader + size <= max) {
        return PlacePart(block.data(), size, uncompressedSize, touching);
    }
    uint32_t first = 0;
    if (before + blockHeader < max) {
        first = static_cast<uint32_t>(max - before - blockHeader);
        if (!PlacePart(block.data(), first, 0, touching)) return false;
    } else if (cabinet_->dataBytes == 0 && cabinet_->files.empty()) {
        return Failed("maximum cabinet size too small");
    }
    // This cabinet is full: everything from `start` on lives in the next one.
    if (!CloseCabinet(true, start) || !OpenCabinet()) return false;
    folderCrossed_ = options_.newFolderAfterCrossing;
    cabinet_->folders.push_back({folderSerial_, encoder_->CompressionType(), 0, 0});
    for (size_t f : pending_) {
        FileRecord& r = files_[f];
        if (r.size != 0 && r.lastCabinet == cabinet_->index - 1) {
            cabinet_->files.push_back(f);
            cabinet_->tableBytes += EntrySize(f);
            r.lastCabinet = cabinet_->index;
        }
    }
    if (used() + blockHeader + (size - first) > max) {
        return Failed("maximum cabinet size too small");
    }
    return PlacePart(block.data() + first, size - first, uncompressedSize, touching);
}

bool CabinetWriter::PlacePart(const uint8_t* data, uint32_t size, uint32_t uncompressedSize,
                              const std::vector<size_t>& touching) {
    Cabinet& cabinet = *cabinet_;
    if (cabinet.folders.empty() || cabinet.folders.back().serial != folderSerial_) {
        if (cabinet.folders.size() == 0xFFFF) return Failed("too many folders in one cabinet");
        cabinet.folders.push_back(
            {folderSerial_, encoder_->CompressionType(), 0, cabinet.dataBytes});
    }
    for (size_t f : touching) {
        FileRecord& r = files_[f];
        if (InCabinet(f) || (r.size == 0 && r.firstCabinet >= 0)) continue;
        if (cabinet.files.size() == 0xFFFF) return Failed("too many files in one cabinet");
        cabinet.files.push_back(f);
        cabinet.tableBytes += EntrySize(f);
        if (r.firstCabinet < 0) r.firstCabinet = cabinet.index;
        r.lastCabinet = cabinet.index;
    }
    if (size == 0 && uncompressedSize == 0)
        return true;  // nothing to place (folder of empty files)
    CabinetFolder& folder = cabinet.folders.back();
    if (folder.blockCount == 0xFFFF) return Failed("too many data blocks in one cabinet");
    std::vector<uint8_t> header;
    PutLe32(header, 0);
    PutLe16(header, size);
    PutLe16(header, uncompressedSize);
    header.resize(BLOCK_HEADER_FIXED_SIZE + options_.blockReserveSize, 0);
    if (options_.checksums) {
        const uint32_t sum = BlockChecksum(data, size, header.data() + 4, header.size() - 4);
        header[0] = static_cast<uint8_t>(sum);
        header[1] = static_cast<uint8_t>(sum >> 8);
        header[2] = static_cast<uint8_t>(sum >> 16);
        header[3] = static_cast<uint8_t>(sum >> 24);
    }
    if (std::fwrite(header.data(), 1, header.size(), cabinet.spool) != header.size() ||
        (size != 0 && std::fwrite(data, 1, size, cabinet.spool) != size)) {
        return Failed("cannot write the temporary file");
    }
    folder.blockCount += 1;
    cabinet.dataBytes += header.size() + size;
    folderHasBlocks_ = true;
    return true;
}

bool CabinetWriter::EndFolder() {
    if (!folderOpen_) return true;
    if (!frame_.empty()) {
        if (!EmitFrame(true)) return false;
    } else if (!pending_.empty()) {
        // Only empty files: a folder without data blocks.
        if (options_.maxCabinetSize != 0) {
            uint64_t need = HeaderSize(*cabinet_) + cabinet_->dataBytes + FOLDER_ENTRY_FIXED_SIZE +
                            options_.folderReserveSize;
            for (size_t f : pending_) need += EntrySize(f);
            if (need > options_.maxCabinetSize) {
                if (!CloseCabinet(true, UINT64_MAX) || !OpenCabinet()) return false;
            }
        }
        if (!PlacePart(nullptr, 0, 0, pending_)) return false;
        pending_.clear();
    }
    folderOpen_ = false;
    encoder_.reset();
    return true;
}

bool CabinetWriter::CloseCabinet(bool hasNext, uint64_t homedEnd) {
    Cabinet& cabinet = *cabinet_;
    const bool reserve = options_.reserveFlag || options_.headerReserveSize != 0 ||
                         options_.folderReserveSize != 0 || options_.blockReserveSize != 0;
    const bool hasPrevious = cabinet.index > 0;
    std::vector<uint8_t> head;
    head.reserve(HeaderSize(cabinet) + 64);
    PutLe32(head, CABINET_SIGNATURE);
    PutLe32(head, 0);
    PutLe32(head, 0);  // cabinet size, patched below
    PutLe32(head, 0);
    PutLe32(head, 0);  // file table offset, patched below
    PutLe32(head, 0);
    PutLe16(head, CABINET_VERSION);
    PutLe16(head, static_cast<uint32_t>(cabinet.folders.size()));
    PutLe16(head, static_cast<uint32_t>(cabinet.files.size()));
    PutLe16(head, (hasPrevious ? HEADER_FLAG_PREVIOUS : 0u) | (hasNext ? HEADER_FLAG_NEXT : 0u) |
                      (reserve ? HEADER_FLAG_RESERVE : 0u));
    PutLe16(head, options_.setId);
    PutLe16(head, static_cast<uint32_t>(options_.firstCabinetIndex + cabinet.index));
    if (reserve) {
        PutLe16(head, options_.headerReserveSize);
        head.push_back(options_.folderReserveSize);
        head.push_back(options_.blockReserveSize);
        head.resize(head.size() + options_.headerReserveSize, 0);
    }
    if (hasPrevious) {
        PutString(head, CabinetName(cabinet.index - 1));
        PutString(head, DiskName(cabinet.index - 1));
    }
    if (hasNext) {
        PutString(head, CabinetName(cabinet.index + 1));
        PutString(head, DiskName(cabinet.index + 1));
    }
    const uint64_t dataArea =
        head.size() +
        cabinet.folders.size() * (FOLDER_ENTRY_FIXED_SIZE + options_.folderReserveSize) +
        cabinet.tableBytes;
    const uint64_t total = dataArea + cabinet.dataBytes;
    if (total > INT32_MAX) return Failed("cabinet larger than 2 GiB");
    for (const CabinetFolder& folder : cabinet.folders) {
        PutLe32(head, static_cast<uint32_t>(dataArea + folder.dataStart));
        PutLe16(head, folder.blockCount);
        PutLe16(head, folder.type);
        head.resize(head.size() + options_.folderReserveSize, 0);
    }
    const uint32_t fileTable = static_cast<uint32_t>(head.size());
    for (size_t f : cabinet.files) {
        const FileRecord& r = files_[f];
        const bool fromPrevious = r.firstCabinet < cabinet.index;
        const bool toNext = hasNext && r.size != 0 && r.folderSerial == folderSerial_ &&
                            folderOpen_ && r.offset + uint64_t{r.size} > homedEnd;
        uint16_t folderIndex = 0;
        if (fromPrevious && toNext) {
            folderIndex = CONTINUED_BOTH;
        } else if (fromPrevious) {
            folderIndex = CONTINUED_FROM_PREVIOUS;
        } else if (toNext) {
            folderIndex = CONTINUED_TO_NEXT;
        } else {
            for (size_t i = 0; i < cabinet.folders.size(); ++i) {
                if (cabinet.folders[i].serial == r.folderSerial) {
                    folderIndex = static_cast<uint16_t>(i);
                }
            }
        }
        PutLe32(head, r.size);
        PutLe32(head, r.offset);
        PutLe16(head, folderIndex);
        PutLe16(head, r.info.date);
        PutLe16(head, r.info.time);
        PutLe16(head, r.info.attributes);
        PutString(head, r.info.name);
    }
    const auto patch32 = [&](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) head[at + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    patch32(8, static_cast<uint32_t>(total));
    patch32(16, fileTable);

    const std::string path = options_.directory + "/" + CabinetName(cabinet.index);
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return Failed("cannot create " + path);
    bool ok = std::fwrite(head.data(), 1, head.size(), out) == head.size();
    std::rewind(cabinet.spool);
    std::vector<uint8_t> buffer(1 << 20);
    while (ok) {
        const size_t n = std::fread(buffer.data(), 1, buffer.size(), cabinet.spool);
        if (n == 0) {
            ok = !std::ferror(cabinet.spool);
            break;
        }
        ok = std::fwrite(buffer.data(), 1, n, out) == n;
    }
    ok = (std::fclose(out) == 0) && ok;
    if (!ok) return Failed("cannot write " + path);
    paths_.push_back(path);
    cabinet_.reset();
    return true;
}

bool CabinetWriter::Finish() {
    if (finished_) return Failed("the writer has finished");
    if (!cabinet_ && !OpenCabinet()) return false;
    if (!EndFolder()) return false;
    finished_ = true;
    return CloseCabinet(false, UINT64_MAX);
}

}  // namespace cab
