// Stored folders: every block's data is the frame itself.
#include <memory>

#include "cabinet/cabinet.h"
#include "cabinet/writer/folder_encoder.h"

namespace cab {

namespace {

class StoredEncoder final : public FolderEncoder {
  public:
    uint16_t CompressionType() const override { return CAB_CODEC_NONE; }
    bool EncodeFrame(const uint8_t* frame, uint32_t size, bool,
                     std::vector<uint8_t>& out) override {
        out.insert(out.end(), frame, frame + size);
        return true;
    }
};

}  // namespace

std::unique_ptr<FolderEncoder> MakeStoredEncoder() { return std::make_unique<StoredEncoder>(); }

}  // namespace cab
