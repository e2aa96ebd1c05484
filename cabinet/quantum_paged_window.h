// The Quantum window kept in a scratch file when it cannot be held in memory:
// 4 KB pages, cached in as many page buffers as could be allocated (at least 3)
// and kept in order of use. A page is written back only when dirty and read
// back only if it was ever written.
#pragma once

#include <cstdint>

#include "cabinet/decoder.h"

namespace cab {

inline constexpr uint32_t QUANTUM_PAGE_SIZE = 4096;
inline constexpr uint32_t QUANTUM_MIN_PAGES = 3;

struct QuantumPage;

class QuantumPagedWindow {
  public:
    // Opens the scratch file and allocates the pages; null when that fails.
    // windowSize is a power of two of at least 3 pages.
    static QuantumPagedWindow* Create(const DecoderServices& services, uint32_t windowSize);
    // Frees every page and closes the scratch file.
    static void Destroy(QuantumPagedWindow* window);

    // Forgets every page and starts writing at window position 0.
    bool Reset();

    // Stores one byte at the write position and advances it.
    bool PutByte(uint8_t byte) {
        current_[writeOffset_] = byte;
        if (++writeOffset_ == QUANTUM_PAGE_SIZE) return NextWritePage();
        return true;
    }

    // Copies `length` bytes starting `distance` bytes behind the write position
    // to the write position and to `output`, one byte at a time as far as
    // overlapping is concerned.
    bool CopyMatch(uint32_t distance, uint32_t length, uint8_t* output);

    uint32_t pageCount() const { return pageCount_; }
    uint32_t residentPages() const { return residentPages_; }

  private:
    struct Slot {
        QuantumPage* page;
        bool written;
    };

    QuantumPagedWindow() = default;
    QuantumPage* Fetch(uint32_t number, bool forWriting);
    bool NextWritePage();
    void MoveToFront(QuantumPage* page);
    void Unlink(QuantumPage* page);

    DecoderServices services_{};
    int scratch_ = -1;
    uint32_t windowMask_ = 0;
    uint32_t pageCount_ = 0;
    uint32_t residentPages_ = 0;
    Slot* table_ = nullptr;
    QuantumPage* first_ = nullptr;  // most recently used
    QuantumPage* last_ = nullptr;
    uint32_t writePage_ = 0;
    uint32_t writeOffset_ = 0;
    uint8_t* current_ = nullptr;  // data of the page being written
};

}  // namespace cab
