// Placeholder until the Quantum encoder lands.
#include "cabinet/writer/folder_encoder.h"

namespace cab {

std::unique_ptr<FolderEncoder> MakeQuantumEncoder(int) { return nullptr; }

}  // namespace cab
