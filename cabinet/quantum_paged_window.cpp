#include "cabinet/quantum_paged_window.h"

#include <cstring>
#include <new>

namespace cab {

struct QuantumPage {
    QuantumPage* previous;
    QuantumPage* next;
    int32_t number;  // -1 while the buffer holds no page
    bool dirty;
    uint8_t data[QUANTUM_PAGE_SIZE];
};

QuantumPagedWindow* QuantumPagedWindow::Create(const DecoderServices& services,
                                               uint32_t windowSize) {
    if (!services.open || !services.read || !services.write || !services.close || !services.seek ||
        windowSize < QUANTUM_MIN_PAGES * QUANTUM_PAGE_SIZE) {
        return nullptr;
    }
    // In place of a path the open callback gets "*" followed by the window size,
    // so that it can tell a scratch file request from a cabinet name.
    char request[6] = {'*', '\0'};
    for (int i = 0; i < 4; ++i) request[2 + i] = static_cast<char>((windowSize >> (8 * i)) & 0xFF);
    void* memory = services.alloc(sizeof(QuantumPagedWindow));
    if (!memory) return nullptr;
    auto* window = new (memory) QuantumPagedWindow();
    window->services_ = services;
    window->windowMask_ = windowSize - 1;
    window->pageCount_ = windowSize / QUANTUM_PAGE_SIZE;
    window->table_ = static_cast<Slot*>(
        services.alloc(static_cast<uint32_t>(sizeof(Slot) * window->pageCount_)));
    if (!window->table_) {
        Destroy(window);
        return nullptr;
    }
    window->scratch_ =
        services.open(request, CAB_O_BINARY | CAB_O_CREAT | CAB_O_RDWR, CAB_S_IREAD | CAB_S_IWRITE);
    if (window->scratch_ == -1) {
        Destroy(window);
        return nullptr;
    }
    for (uint32_t i = 0; i < window->pageCount_; ++i) {
        void* pageMemory = services.alloc(sizeof(QuantumPage));
        if (!pageMemory) break;
        auto* page = new (pageMemory) QuantumPage();
        page->number = -1;
        page->previous = window->last_;
        page->next = nullptr;
        if (window->last_) {
            window->last_->next = page;
        } else {
            window->first_ = page;
        }
        window->last_ = page;
        ++window->residentPages_;
    }
    if (window->residentPages_ < QUANTUM_MIN_PAGES || !window->Reset()) {
        Destroy(window);
        return nullptr;
    }
    return window;
}

void QuantumPagedWindow::Destroy(QuantumPagedWindow* window) {
    if (!window) return;
    const DecoderServices services = window->services_;
    for (QuantumPage* page = window->first_; page;) {
        QuantumPage* next = page->next;
        services.free(page);
        page = next;
    }
    if (window->table_) services.free(window->table_);
    if (window->scratch_ != -1) services.close(window->scratch_);
    window->~QuantumPagedWindow();
    services.free(window);
}

bool QuantumPagedWindow::Reset() {
    for (QuantumPage* page = first_; page; page = page->next) {
        page->number = -1;
        page->dirty = false;
    }
    std::memset(table_, 0, sizeof(Slot) * pageCount_);
    writePage_ = 0;
    writeOffset_ = 0;
    QuantumPage* page = Fetch(0, true);
    current_ = page ? page->data : nullptr;
    return page != nullptr;
}

void QuantumPagedWindow::Unlink(QuantumPage* page) {
    if (page->previous) {
        page->previous->next = page->next;
    } else {
        first_ = page->next;
    }
    if (page->next) {
        page->next->previous = page->previous;
    } else {
        last_ = page->previous;
    }
}

void QuantumPagedWindow::MoveToFront(QuantumPage* page) {
    if (first_ == page) return;
    Unlink(page);
    page->previous = nullptr;
    page->next = first_;
    first_->previous = page;
    first_ = page;
}

QuantumPage* QuantumPagedWindow::Fetch(uint32_t number, bool forWriting) {
    Slot& slot = table_[number];
    if (QuantumPage* page = slot.page) {
        MoveToFront(page);
        if (forWriting) page->dirty = true;
        return page;
    }
    QuantumPage* page = last_;
    if (page->number >= 0) {
        if (static_cast<uint32_t>(page->number) == writePage_) {
            return nullptr;  // would evict the page being written
        }
        Slot& evicted = table_[page->number];
        if (page->dirty) {
            long offset = static_cast<long>(page->number) * QUANTUM_PAGE_SIZE;
            if (services_.seek(scratch_, offset, 0) != offset ||
                services_.write(scratch_, page->data, QUANTUM_PAGE_SIZE) !=
                    static_cast<int>(QUANTUM_PAGE_SIZE)) {
                return nullptr;
            }
            evicted.written = true;
        }
        evicted.page = nullptr;
        page->number = -1;
        page->dirty = false;
    }
    MoveToFront(page);
    if (slot.written) {
        long offset = static_cast<long>(number) * QUANTUM_PAGE_SIZE;
        if (services_.seek(scratch_, offset, 0) != offset ||
            services_.read(scratch_, page->data, QUANTUM_PAGE_SIZE) !=
                static_cast<int>(QUANTUM_PAGE_SIZE)) {
            return nullptr;
        }
    } else if (!forWriting) {
        return nullptr;  // nothing was ever stored there
    } else {
        // A page never written holds no history; keep stray reads of it defined.
        std::memset(page->data, 0, QUANTUM_PAGE_SIZE);
    }
    page->number = static_cast<int32_t>(number);
    page->dirty = forWriting;
    slot.page = page;
    return page;
}

bool QuantumPagedWindow::NextWritePage() {
    uint32_t next = (writePage_ + 1) % pageCount_;
    writePage_ = next;
    writeOffset_ = 0;
    current_ = nullptr;
    QuantumPage* page = Fetch(next, true);
    if (!page) return false;
    current_ = page->data;
    return true;
}

bool QuantumPagedWindow::CopyMatch(uint32_t distance, uint32_t length, uint8_t* output) {
    uint32_t position = writePage_ * QUANTUM_PAGE_SIZE + writeOffset_;
    uint32_t source = (position - distance) & windowMask_;
    while (length > 0) {
        uint32_t sourcePage = source / QUANTUM_PAGE_SIZE;
        uint32_t sourceOffset = source % QUANTUM_PAGE_SIZE;
        QuantumPage* page = Fetch(sourcePage, false);
        if (!page) return false;
        // Fetching the source must not lose the page being written.
        QuantumPage* target = Fetch(writePage_, true);
        if (!target) return false;
        uint32_t piece = length;
        if (piece > QUANTUM_PAGE_SIZE - sourceOffset) piece = QUANTUM_PAGE_SIZE - sourceOffset;
        if (piece > QUANTUM_PAGE_SIZE - writeOffset_) piece = QUANTUM_PAGE_SIZE - writeOffset_;
        const uint8_t* from = page->data + sourceOffset;
        uint8_t* to = target->data + writeOffset_;
        for (uint32_t i = 0; i < piece; ++i) {
            to[i] = from[i];
            output[i] = to[i];
        }
        output += piece;
        length -= piece;
        source = (source + piece) & windowMask_;
        writeOffset_ += piece;
        if (writeOffset_ == QUANTUM_PAGE_SIZE && !NextWritePage()) return false;
    }
    return true;
}

}  // namespace cab
