// MSZIP folders: every block is "CK" followed by a complete deflate stream
// (zlib, raw deflate) that may refer back into the previous frame's 32768
// bytes. One z_stream serves the whole folder; before each frame it is reset
// and primed with the previous frame as its dictionary.
#include <zlib.h>

#include <cstring>
#include <memory>

#include "cabinet/cabinet.h"
#include "cabinet/cabinet_format.h"
#include "cabinet/writer/folder_encoder.h"

namespace cab {

namespace {

// The reader's compressed buffer holds "CK" plus at most 32778 bytes of
// deflate data.
constexpr uint32_t MAX_BLOCK_DATA = MAX_BLOCK_SIZE + MSZIP_INPUT_SLACK;

class MszipEncoder final : public FolderEncoder {
  public:
    explicit MszipEncoder(int level) : level_(level) {}
    ~MszipEncoder() override {
        if (ready_) deflateEnd(&stream_);
    }

    bool Init() {
        std::memset(&stream_, 0, sizeof stream_);
        ready_ = deflateInit2(&stream_, level_, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
        return ready_;
    }

    uint16_t CompressionType() const override { return CAB_CODEC_MSZIP; }

    bool EncodeFrame(const uint8_t* frame, uint32_t size, bool,
                     std::vector<uint8_t>& out) override {
        if (size > MAX_BLOCK_SIZE) return false;
        if (deflateReset(&stream_) != Z_OK) return false;
        if (!history_.empty() && deflateSetDictionary(&stream_, history_.data(),
                                                      static_cast<uInt>(history_.size())) != Z_OK) {
            return false;
        }
        const size_t base = out.size();
        const uLong bound = deflateBound(&stream_, size);
        out.resize(base + 2 + bound);
        out[base] = 'C';
        out[base + 1] = 'K';
        stream_.next_in = const_cast<Bytef*>(frame);
        stream_.avail_in = size;
        stream_.next_out = out.data() + base + 2;
        stream_.avail_out = static_cast<uInt>(bound);
        const int result = deflate(&stream_, Z_FINISH);
        if (result != Z_STREAM_END) return false;
        const size_t produced = bound - stream_.avail_out;
        if (produced + 2 <= MAX_BLOCK_DATA) {
            out.resize(base + 2 + produced);
        } else {
            // Incompressible: one final stored deflate block holds the frame.
            out.resize(base + 2);
            out.push_back(0x01);
            out.push_back(static_cast<uint8_t>(size));
            out.push_back(static_cast<uint8_t>(size >> 8));
            out.push_back(static_cast<uint8_t>(~size));
            out.push_back(static_cast<uint8_t>(~size >> 8));
            out.insert(out.end(), frame, frame + size);
        }
        history_.assign(frame, frame + size);
        return true;
    }

  private:
    int level_;
    z_stream stream_{};
    bool ready_ = false;
    std::vector<uint8_t> history_;
};

}  // namespace

std::unique_ptr<FolderEncoder> MakeMszipEncoder(int level) {
    auto encoder = std::make_unique<MszipEncoder>(level);
    if (!encoder->Init()) return nullptr;
    return encoder;
}

}  // namespace cab
