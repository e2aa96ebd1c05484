// Placeholder until the LZX encoder lands.
#include "cabinet/writer/folder_encoder.h"

namespace cab {

std::unique_ptr<FolderEncoder> MakeLzxEncoder(int, bool) { return nullptr; }

}  // namespace cab
