// LZX decoder behind the cabinet decoder interface.
//
// Each data block of a folder is one frame of at most 32768 output bytes. The
// window, the repeated offsets, the tree lengths (the base of the next delta)
// and a block in progress carry over from frame to frame until Reset.
#include <cstring>
#include <new>

#include "cabinet/decoder.h"
#include "cabinet/lzx_bit_reader.h"
#include "cabinet/lzx_e8.h"
#include "cabinet/lzx_format.h"
#include "cabinet/lzx_huffman_table.h"

namespace cab {
namespace {

using namespace lzx;

constexpr uint32_t SIGNATURE = 0x4349444C;  // "LDIC"

// Bytes allocated past the window: the mirror plus room for copies by 16 bytes.
constexpr uint32_t WINDOW_SLACK = MIRROR_BYTES + 48;

using MainTable = HuffmanTable<11, MAX_MAIN_ELEMENTS>;
using LengthTable = HuffmanTable<10, LENGTH_ELEMENTS>;
using AlignedTable = HuffmanTable<7, ALIGNED_ELEMENTS>;
using Pretree = HuffmanTable<8, PRETREE_ELEMENTS>;

enum class Header { Needed = 1, InBlock = 2 };

struct State {
    uint8_t* window;
    uint32_t windowSize;
    uint32_t windowMask;
    uint32_t r0, r1, r2;
    int positionSlots;
    int mainElements;

    uint8_t mainLengths[MAX_MAIN_ELEMENTS];
    uint8_t mainPrevious[MAX_MAIN_ELEMENTS];
    uint8_t lengthLengths[LENGTH_ELEMENTS];
    uint8_t lengthPrevious[LENGTH_ELEMENTS];
    uint8_t alignedLengths[ALIGNED_ELEMENTS];

    bool inputOverrun;
    bool translationPending;
    int32_t translationSize;
    int32_t translationPosition;

    uint32_t blockSize;
    uint32_t blockRemaining;
    int blockType;
    Header header;

    uint32_t windowPosition;
    uint32_t framesDone;

    // Decoding tables, rebuilt with each block header.
    MainTable mainTable;
    LengthTable lengthTable;
    AlignedTable alignedTable;
    Pretree pretree;
};

struct Handle {
    uint32_t signature;
    CabFreeFn free;
    uint32_t maxBlockSize;
    State* state;
};

void ResetState(State& s) {
    std::memset(s.mainLengths, 0, sizeof s.mainLengths);
    std::memset(s.mainPrevious, 0, sizeof s.mainPrevious);
    std::memset(s.lengthLengths, 0, sizeof s.lengthLengths);
    std::memset(s.lengthPrevious, 0, sizeof s.lengthPrevious);
    s.r0 = s.r1 = s.r2 = 1;
    s.windowPosition = 0;
    s.header = Header::Needed;
    s.blockRemaining = 0;
    s.blockSize = 0;
    s.blockType = 0;
    s.translationPending = true;
    s.translationSize = 0;
    s.framesDone = 0;
    s.translationPosition = 0;
    s.inputOverrun = false;
}

// Notes an overrun of the current word-aligned stream in the sticky flag.
void NoteOverrun(State& s, const BitReader& in) {
    if (in.PastEnd()) s.inputOverrun = true;
}

// Reads one segment [first, end) of a tree's lengths as deltas against
// `previous`, through a pretree sent first.
bool ReadLengths(State& s, BitReader& in, uint8_t* lengths, const uint8_t* previous, int first,
                 int end) {
    uint8_t pretreeLengths[PRETREE_ELEMENTS];
    for (uint8_t& length : pretreeLengths) length = static_cast<uint8_t>(in.Read(4));
    NoteOverrun(s, in);
    if (s.inputOverrun) return false;
    if (!s.pretree.Build(pretreeLengths, PRETREE_ELEMENTS)) return false;

    auto nextSymbol = [&] {
        in.Refill();
        uint32_t entry = s.pretree.Lookup(in.Peek16());
        in.Skip(Pretree::Length(entry));
        return static_cast<int>(Pretree::Symbol(entry));
    };
    int i = first;
    while (i < end) {
        int symbol = nextSymbol();
        if (symbol <= 16) {
            lengths[i] = static_cast<uint8_t>((previous[i] + 17 - symbol) % 17);
            ++i;
            continue;
        }
        int run;
        int value;
        if (symbol == 17) {
            run = 4 + static_cast<int>(in.Read(4));
            value = 0;
        } else if (symbol == 18) {
            run = 20 + static_cast<int>(in.Read(5));
            value = 0;
        } else {
            run = 4 + static_cast<int>(in.Read(1));
            int delta = nextSymbol();
            value = (previous[i] + 34 - delta) % 17;
        }
        for (; run > 0 && i < end; --run) lengths[i++] = static_cast<uint8_t>(value);
    }
    NoteOverrun(s, in);
    return !s.inputOverrun;
}

bool ReadTrees(State& s, BitReader& in) {
    std::memcpy(s.mainPrevious, s.mainLengths, sizeof s.mainLengths);
    std::memcpy(s.lengthPrevious, s.lengthLengths, sizeof s.lengthLengths);
    if (!ReadLengths(s, in, s.mainLengths, s.mainPrevious, 0, NUM_CHARS)) return false;
    if (!ReadLengths(s, in, s.mainLengths, s.mainPrevious, NUM_CHARS, s.mainElements)) return false;
    if (!s.mainTable.Build(s.mainLengths, s.mainElements)) return false;
    if (!ReadLengths(s, in, s.lengthLengths, s.lengthPrevious, 0, LENGTH_ELEMENTS)) return false;
    return s.lengthTable.Build(s.lengthLengths, LENGTH_ELEMENTS);
}

uint32_t ReadLe32(const BitReader& in, uint32_t at) {
    return static_cast<uint32_t>(in.ByteAt(at)) | static_cast<uint32_t>(in.ByteAt(at + 1)) << 8 |
           static_cast<uint32_t>(in.ByteAt(at + 2)) << 16 |
           static_cast<uint32_t>(in.ByteAt(at + 3)) << 24;
}

bool ReadBlockHeader(State& s, BitReader& in) {
    if (s.translationPending) {
        s.translationPending = false;
        if (in.Read(1)) {
            uint32_t high = in.Read(16);
            uint32_t low = in.Read(16);
            s.translationSize = static_cast<int32_t>(high << 16 | low);
        } else {
            s.translationSize = 0;
        }
    }
    if (s.blockType == BLOCK_UNCOMPRESSED) {
        // The raw block's padding byte, then a new word-aligned stream.
        uint32_t at = in.pos;
        if ((s.blockSize & 1) && static_cast<uint64_t>(at) < static_cast<uint64_t>(in.size) + 4)
            ++at;
        s.blockType = 0;
        in.Restart(at);
    }
    s.blockType = static_cast<int>(in.Read(3));
    uint32_t size = in.Read(8) << 16;
    size |= in.Read(8) << 8;
    size |= in.Read(8);
    s.blockSize = s.blockRemaining = size;

    switch (s.blockType) {
        case BLOCK_ALIGNED:
            for (uint8_t& length : s.alignedLengths) length = static_cast<uint8_t>(in.Read(3));
            if (!s.alignedTable.Build(s.alignedLengths, ALIGNED_ELEMENTS)) return false;
            [[fallthrough]];
        case BLOCK_VERBATIM:
            if (!ReadTrees(s, in)) return false;
            break;
        case BLOCK_UNCOMPRESSED: {
            NoteOverrun(s, in);
            uint32_t at = in.AlignedPosition();
            if (at >= in.size) return false;
            s.r0 = ReadLe32(in, at);
            s.r1 = ReadLe32(in, at + 4);
            s.r2 = ReadLe32(in, at + 8);
            in.pos = at + 12;  // raw bytes are taken from here
            in.count = 0;
            in.buffer = 0;
            break;
        }
        default:
            return false;
    }
    s.header = Header::InBlock;
    return true;
}

// Copies a match of `length` bytes from `offset` back, byte by byte with every
// source index masked, keeping the mirror of the window's first bytes.
void CopyCareful(State& s, uint32_t to, uint32_t offset, uint32_t length) {
    uint8_t* window = s.window;
    for (uint32_t i = 0; i < length; ++i) {
        uint32_t at = to + i;
        uint8_t byte = window[(at - offset) & s.windowMask];
        window[at] = byte;
        if (at < MIRROR_BYTES) window[s.windowSize + at] = byte;
    }
}

// Copies 16 bytes through a register: both are read before either is written,
// so the two ranges may overlap.
inline void Move16(uint8_t* dst, const uint8_t* src) {
    uint8_t chunk[16];
    std::memcpy(chunk, src, 16);
    std::memcpy(dst, chunk, 16);
}

// The same once the write position is past the mirrored part: the source runs
// on into the mirror instead of wrapping. Copies by 8 or 16 bytes may write
// past the match; the bytes there are saved and put back.
//
// A source behind the destination repeats bytes written by this match, so it
// is copied by chunks no longer than the distance. A source ahead of it (an
// offset close to the window size, reaching the previous pass of the window)
// is never reached by this match's writes, whose chunks run ahead of their
// reads: chunk i reads [from + i, from + i + 16) before writing
// [to + i, to + i + 16), and every later read starts past every earlier write.
inline void CopyFast(uint8_t* window, uint32_t windowMask, uint32_t to, uint32_t offset,
                     uint32_t length) {
    uint32_t from = (to - offset) & windowMask;
    uint8_t* dst = window + to;
    const uint8_t* src = window + from;
    uint32_t distance = to - from;  // wraps to a large value when the source lies ahead
    if (distance >= 16) {
        uint8_t saved[16];
        std::memcpy(saved, dst + length, 16);
        for (uint32_t i = 0; i < length; i += 16) Move16(dst + i, src + i);
        std::memcpy(dst + length, saved, 16);
    } else if (distance >= 8) {
        uint8_t saved[8];
        std::memcpy(saved, dst + length, 8);
        for (uint32_t i = 0; i < length; i += 8) std::memcpy(dst + i, src + i, 8);
        std::memcpy(dst + length, saved, 8);
    } else if (distance == 1) {
        std::memset(dst, *src, length);
    } else {
        for (uint32_t i = 0; i < length; ++i) dst[i] = src[i];
    }
}

// Decodes the length and offset of a match whose main symbol (less the 256
// literals) is `symbol`, updating the repeated offsets. The reader holds at
// least 49 bits: the length code and the offset's verbatim bits fit; an
// aligned block refills before its aligned code (without tests in the fast
// loop).
template <bool ALIGNED_BLOCK, bool FAST>
inline uint32_t DecodeMatch(const State& s, BitReader& in, uint32_t symbol, uint32_t& r0,
                            uint32_t& r1, uint32_t& r2, uint32_t& offset) {
    uint32_t length = symbol & 7;
    uint32_t slot = symbol >> 3;
    if (length == NUM_PRIMARY_LENGTHS) {
        uint32_t lengthEntry = s.lengthTable.Lookup(in.Peek16());
        in.Skip(LengthTable::Length(lengthEntry));
        length += LengthTable::Symbol(lengthEntry);
    }
    length += MIN_MATCH;

    if (slot < 3) {
        if (slot == 0) {
            offset = r0;
        } else if (slot == 1) {
            offset = r1;
            r1 = r0;
            r0 = offset;
        } else {
            offset = r2;
            r2 = r0;
            r0 = offset;
        }
        return length;
    }
    int extra = EXTRA_BITS[slot];
    uint32_t bits;
    if (ALIGNED_BLOCK && extra >= 3) {
        bits = in.Take(extra - 3) << 3;
        if (FAST) {
            in.RefillFast();
        } else {
            in.Refill();
        }
        uint32_t alignedEntry = s.alignedTable.Lookup(in.Peek16());
        in.Skip(AlignedTable::Length(alignedEntry));
        bits += AlignedTable::Symbol(alignedEntry);
    } else {
        bits = in.Take(extra);
    }
    offset = POSITION_BASE[slot] - 2 + bits;
    r2 = r1;
    r1 = r0;
    r0 = offset;
    return length;
}

// Decodes the verbatim or aligned block's symbols until the write position
// reaches `end`. Fails on a symbol read past the input or a match passing `end`.
//
// A fast loop runs while the write position is past the mirrored part, any
// match fits before `end` and the input holds the words of one iteration: it
// needs no input, mirror or overrun test. One symbol at a time otherwise.
template <bool ALIGNED_BLOCK>
bool DecodeSymbols(State& s, BitReader& reader, uint32_t end) {
    // Input bytes one fast iteration may load: three refills, each loading 8
    // bytes at most 8 bytes past the previous one.
    constexpr uint32_t FAST_INPUT = 32;
    BitReader in = reader;
    const uint64_t pastEnd = in.PastEndLimit();
    uint8_t* const window = s.window;
    const uint32_t windowMask = s.windowMask;
    uint32_t r0 = s.r0, r1 = s.r1, r2 = s.r2;
    uint32_t at = s.windowPosition;
    const uint32_t fastEnd = end > MAX_MATCH ? end - MAX_MATCH : 0;
    const uint32_t fastInput = in.size > FAST_INPUT ? in.size - FAST_INPUT : 0;
    bool ok = true;

    while (at < end) {
        // Guaranteed at the top of the fast loop: a match of any length ends
        // before `end` (no overrun test); the write position is past the
        // bytes the window mirrors behind its end (no mirror update); and
        // the input holds the 32 bytes that the at most three refills of an
        // iteration load, so every bit taken here is real input and the
        // past-the-end test is left to the careful path.
        while (at < fastEnd && at >= MIRROR_BYTES && in.pos <= fastInput) {
            in.RefillFast();
            uint32_t entry = s.mainTable.Lookup(in.Peek16());
            uint32_t symbol = MainTable::Symbol(entry);
            if (symbol < NUM_CHARS) {
                // A literal leaves at least 33 bits: enough for a second one.
                in.Skip(MainTable::Length(entry));
                window[at++] = static_cast<uint8_t>(symbol);
                entry = s.mainTable.Lookup(in.Peek16());
                symbol = MainTable::Symbol(entry);
                if (symbol < NUM_CHARS) {
                    in.Skip(MainTable::Length(entry));
                    window[at++] = static_cast<uint8_t>(symbol);
                    continue;
                }
                in.RefillFast();
            }
            in.Skip(MainTable::Length(entry));
            uint32_t offset;
            uint32_t length =
                DecodeMatch<ALIGNED_BLOCK, true>(s, in, symbol - NUM_CHARS, r0, r1, r2, offset);
            CopyFast(window, windowMask, at, offset, length);
            at += length;
        }
        if (at >= end) break;

        in.Refill();
        if (in.Consumed() >= pastEnd) {
            ok = false;
            break;
        }
        uint32_t entry = s.mainTable.Lookup(in.Peek16());
        in.Skip(MainTable::Length(entry));
        uint32_t symbol = MainTable::Symbol(entry);
        if (symbol < NUM_CHARS) {
            window[at] = static_cast<uint8_t>(symbol);
            if (at < MIRROR_BYTES) window[s.windowSize + at] = static_cast<uint8_t>(symbol);
            ++at;
            continue;
        }
        uint32_t offset;
        uint32_t length =
            DecodeMatch<ALIGNED_BLOCK, false>(s, in, symbol - NUM_CHARS, r0, r1, r2, offset);
        if (length > end - at) {
            ok = false;
            break;
        }
        if (at >= MIRROR_BYTES) {
            CopyFast(window, windowMask, at, offset, length);
        } else {
            CopyCareful(s, at, offset, length);
        }
        at += length;
    }

    s.r0 = r0;
    s.r1 = r1;
    s.r2 = r2;
    s.windowPosition = at;
    reader = in;
    return ok;
}

// Copies `span` raw bytes of an uncompressed block into the window. The input
// counts as 4 bytes longer than given (read as zeros), like the bit reader's.
bool CopyRaw(State& s, BitReader& in, uint32_t span) {
    uint64_t limit = static_cast<uint64_t>(in.size) + 4;
    if (static_cast<uint64_t>(in.pos) + span > limit) return false;
    uint32_t at = s.windowPosition;
    uint32_t available = in.pos < in.size ? in.size - in.pos : 0;
    uint32_t real = span < available ? span : available;
    std::memcpy(s.window + at, in.data + in.pos, real);
    std::memset(s.window + at + real, 0, span - real);
    if (at < MIRROR_BYTES) {
        uint32_t mirrored = MIRROR_BYTES - at < span ? MIRROR_BYTES - at : span;
        std::memcpy(s.window + s.windowSize + at, s.window + at, mirrored);
    }
    in.pos += span;
    s.windowPosition = at + span;
    return true;
}

bool DecodeFrame(State& s, const uint8_t* input, uint32_t inputSize, uint8_t* output,
                 uint32_t outputSize) {
    const uint32_t frameStart = s.windowPosition;
    // Frames never wrap around the window's end; one that would is refused.
    if (outputSize > s.windowSize - frameStart) return false;

    BitReader in;
    in.data = input;
    in.size = inputSize;
    if (s.blockType == BLOCK_UNCOMPRESSED) {
        in.pos = in.start = 0;
    } else {
        in.Restart(0);
    }

    uint32_t n = outputSize;
    while (n > 0) {
        if (s.header == Header::Needed && !ReadBlockHeader(s, in)) return false;
        while (s.blockRemaining > 0 && n > 0) {
            uint32_t span = s.blockRemaining < n ? s.blockRemaining : n;
            uint32_t end = s.windowPosition + span;
            bool ok;
            switch (s.blockType) {
                case BLOCK_VERBATIM:
                    ok = DecodeSymbols<false>(s, in, end);
                    break;
                case BLOCK_ALIGNED:
                    ok = DecodeSymbols<true>(s, in, end);
                    break;
                default:
                    ok = CopyRaw(s, in, span);
                    break;
            }
            if (!ok) return false;
            n -= span;
            s.blockRemaining -= span;
        }
        if (s.blockRemaining == 0) s.header = Header::Needed;
    }
    if (s.blockType != BLOCK_UNCOMPRESSED) NoteOverrun(s, in);

    std::memcpy(output, s.window + frameStart, outputSize);
    s.windowPosition = (frameStart + outputSize) & s.windowMask;
    if (s.translationSize != 0 && s.framesDone < TRANSLATED_FRAMES) {
        TranslateCalls(output, outputSize, s.translationSize, s.translationPosition);
    }
    s.framesDone += 1;
    return true;
}

Handle* Check(DecoderHandle handle) { return CheckedHandle<Handle>(handle, SIGNATURE); }

}  // namespace

int LzxQuery(uint32_t* maxBlockSize, uint32_t windowSize, uint32_t* compressedBufferSize) {
    (void)windowSize;
    *compressedBufferSize = ClampBlockSize(maxBlockSize) + LZX_INPUT_SLACK;
    return CAB_DECODER_OK;
}

int LzxCreate(uint32_t* maxBlockSize, uint32_t windowSize, uint32_t* compressedBufferSize,
              const DecoderServices& services, DecoderHandle* handle) {
    *handle = nullptr;
    LzxQuery(maxBlockSize, windowSize, compressedBufferSize);
    if (services.alloc == nullptr || services.free == nullptr) return CAB_DECODER_NO_MEMORY;
    if (windowSize == 0 || (windowSize & (windowSize - 1)) != 0) return CAB_DECODER_NO_MEMORY;
    // The slot tables cover windows of 2^15 to 2^21 bytes; others are refused.
    int windowBits = __builtin_ctz(windowSize);
    if (windowBits < MIN_WINDOW_BITS || windowBits > MAX_WINDOW_BITS)
        return CAB_DECODER_BAD_PARAMETER;

    auto* h = static_cast<Handle*>(services.alloc(sizeof(Handle)));
    if (h == nullptr) return CAB_DECODER_NO_MEMORY;
    auto* s = static_cast<State*>(services.alloc(sizeof(State)));
    uint8_t* window = static_cast<uint8_t*>(services.alloc(windowSize + WINDOW_SLACK));
    if (s == nullptr || window == nullptr) {
        if (window != nullptr) services.free(window);
        if (s != nullptr) services.free(s);
        services.free(h);
        return CAB_DECODER_NO_MEMORY;
    }
    // Matches may reach bytes never written in this folder; they read zeros.
    std::memset(window, 0, windowSize + WINDOW_SLACK);
    s->window = window;
    s->windowSize = windowSize;
    s->windowMask = windowSize - 1;
    s->positionSlots = PositionSlots(windowBits);
    s->mainElements = NUM_CHARS + 8 * s->positionSlots;
    ResetState(*s);

    h->signature = SIGNATURE;
    h->free = services.free;
    h->maxBlockSize = *maxBlockSize;
    h->state = s;
    *handle = h;
    return CAB_DECODER_OK;
}

int LzxDecompress(DecoderHandle handle, const uint8_t* input, uint32_t inputSize, uint8_t* output,
                  uint32_t* outputSize) {
    Handle* h = Check(handle);
    if (h == nullptr) return CAB_DECODER_BAD_HANDLE;
    if (*outputSize > h->maxBlockSize) return CAB_DECODER_BAD_SIZE;
    if (!DecodeFrame(*h->state, input, inputSize, output, *outputSize)) {
        return CAB_DECODER_DATA_ERROR;
    }
    return CAB_DECODER_OK;
}

int LzxReset(DecoderHandle handle) {
    Handle* h = Check(handle);
    if (h == nullptr) return CAB_DECODER_BAD_HANDLE;
    ResetState(*h->state);
    return CAB_DECODER_OK;
}

int LzxDestroy(DecoderHandle handle) {
    Handle* h = Check(handle);
    if (h == nullptr) return CAB_DECODER_BAD_HANDLE;
    h->free(h->state->window);
    h->free(h->state);
    ReleaseHandle(h, h->free);
    return CAB_DECODER_OK;
}

}  // namespace cab
