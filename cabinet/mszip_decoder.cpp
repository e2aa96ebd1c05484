// MSZIP: each data block is "CK" followed by deflate data that starts on a
// deflate block boundary. One data block decodes into at most 32768 bytes of
// the reader's output buffer; that buffer is also the history window, since
// every block of a folder but the last fills it completely.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <new>

#include "cabinet/decoder.h"
#include "cabinet/deflate_bit_reader.h"
#include "cabinet/deflate_huffman.h"

namespace cab {
namespace {

using namespace deflate;

constexpr uint32_t SIGNATURE = uint32_t('M') | uint32_t('D') << 8 | uint32_t('I') << 16 |
                               uint32_t('C') << 24;  // "MDIC" in memory

constexpr uint32_t LITERAL_LENGTH_MASK = (1u << LITERAL_LENGTH_ROOT_BITS) - 1;
constexpr uint32_t DISTANCE_MASK = (1u << DISTANCE_ROOT_BITS) - 1;

// The fast loop runs while this much output room and input are left: one
// iteration writes at most two literals and a 258-byte match, and a match copy
// may spill 16 bytes past its end (they are put back afterwards).
constexpr std::ptrdiff_t FAST_OUTPUT_ROOM = 2 + 258 + 16 + 8;
constexpr std::ptrdiff_t FAST_INPUT_ROOM = 16;

struct DecodingState {
    BitReader reader;
    uint8_t* outputStart = nullptr;
    uint8_t* output = nullptr;
    uint8_t* outputEnd = nullptr;
    uint32_t window = MAX_BLOCK_SIZE;  // size of the output buffer that holds the history
    // History: the bytes at the start of `historyBuffer` that the folder's
    // previous block produced. A back-reference before the current block may
    // only reach those.
    const uint8_t* historyBuffer = nullptr;
    uint32_t historyFilled = 0;
    uint32_t literalLength[LITERAL_LENGTH_TABLE_SIZE];
    uint32_t distance[DISTANCE_TABLE_SIZE];
    uint32_t codeLength[CODE_LENGTH_TABLE_SIZE];
    uint8_t lengths[MAX_DYNAMIC_LITERAL_LENGTH_CODES + MAX_DYNAMIC_DISTANCE_CODES];
};

struct MszipHandle {
    uint32_t signature;
    CabFreeFn free;
    uint32_t maxBlockSize;
    DecodingState* state;
};

enum class Status { BlockDone, OutputFull, Error };

MszipHandle* Checked(DecoderHandle handle) { return CheckedHandle<MszipHandle>(handle, SIGNATURE); }

inline uint64_t Load64(const uint8_t* p) {
    uint64_t value;
    std::memcpy(&value, p, 8);
    if constexpr (std::endian::native == std::endian::big) value = __builtin_bswap64(value);
    return value;
}

// Copies the part of a match that lies before the current block: those bytes
// are still in the buffer at the same positions, left by the previous block.
// Advances `out` and shrinks `length` by what was copied.
bool CopyFromHistory(DecodingState& state, uint8_t*& out, uint32_t distance, uint32_t& length) {
    const uint32_t position = uint32_t(out - state.outputStart);
    const uint32_t before = distance - position;  // bytes of the match before the block
    if (before > state.window) return false;
    const uint32_t from = state.window - before;
    const uint32_t count = std::min(length, before);
    if (from + count > state.historyFilled) return false;
    // The source lies at or after `out`: a forward copy, like memmove's.
    std::memmove(out, state.outputStart + from, count);
    out += count;
    length -= count;
    return true;
}

// Copies a match of `length` bytes exactly, overlapping bytes repeating.
bool CopyMatchExact(DecodingState& state, uint8_t*& out, uint32_t distance, uint32_t length) {
    if (distance > uint32_t(out - state.outputStart)) {
        if (!CopyFromHistory(state, out, distance, length)) return false;
    }
    const uint8_t* source = out - distance;
    if (distance >= length) {
        std::memcpy(out, source, length);
    } else {
        for (uint32_t i = 0; i < length; ++i) out[i] = source[i];
    }
    out += length;
    return true;
}

// Copies a match inside the current block with whole words. Writes up to 16
// bytes past the end and restores them, since they may still hold history.
inline void CopyMatchFast(uint8_t* out, uint32_t distance, uint32_t length) {
    const uint8_t* source = out - distance;
    uint8_t* const end = out + length;
    uint8_t saved[16];
    std::memcpy(saved, end, 16);
    if (distance >= 16) {
        do {
            std::memcpy(out, source, 16);
            out += 16;
            source += 16;
        } while (out < end);
    } else if (distance >= 8) {
        do {
            std::memcpy(out, source, 8);
            out += 8;
            source += 8;
        } while (out < end);
    } else if (distance == 1) {
        std::memset(out, *source, length);
    } else {
        uint8_t pattern[8];
        for (uint32_t i = 0; i < 8; ++i)
            pattern[i] = i < distance ? source[i] : pattern[i - distance];
        const uint32_t step = 8 - 8 % distance;  // whole periods per word
        do {
            std::memcpy(out, pattern, 8);
            out += step;
        } while (out < end);
    }
    std::memcpy(end, saved, 16);
}

// Decodes literal/length and distance codes until the end-of-block code, a
// full output buffer or an error. First a fast loop with whole-word refills
// while input and output room allow, then one code at a time.
Status DecodeCodes(DecodingState& state, const uint32_t* literalLength, const uint32_t* distances) {
    BitReader& reader = state.reader;
    uint8_t* out = state.output;
    uint8_t* const outEnd = state.outputEnd;
    uint8_t* const outStart = state.outputStart;

    if (reader.end - reader.next >= FAST_INPUT_ROOM && outEnd - out >= FAST_OUTPUT_ROOM) {
        uint64_t bits = reader.bits;
        unsigned count = reader.count;
        const uint8_t* in = reader.next;
        const uint8_t* const inLimit = reader.end - FAST_INPUT_ROOM;
        uint8_t* const outLimit = outEnd - FAST_OUTPUT_ROOM;
        bool finished = false;  // else the loop ran out of room
        Status status = Status::BlockDone;

        // Bits above `count` are zero or already equal to the bytes at `in`
        // (see BitReader), so OR-ing in a whole word is exact; `in` moves
        // past the whole bytes taken, and count becomes 56 + count % 8.
        auto refill = [&] {
            bits |= Load64(in) << count;
            in += (63 - count) >> 3;
            count |= 56;
        };
        auto drop = [&](unsigned n) {
            bits >>= n;
            count -= n;
        };

        // At the top of each iteration at least FAST_INPUT_ROOM bytes lie at
        // `in` and at least FAST_OUTPUT_ROOM bytes of room at `out`, so no
        // step below checks a bound. A refill loads 8 bytes and advances `in`
        // by at most 7; an iteration refills at most twice, so the second
        // load still ends inside the input. After a refill 56 bits or more
        // are held: enough for three literal codes (15 bits each), and after
        // the second refill for a length code with its extra bits (15 + 5)
        // and a distance code with its extra bits (15 + 13). The output room
        // covers two literals, the longest match and the 16 bytes
        // CopyMatchFast may write past it.
        while (in <= inLimit && out <= outLimit) {
            refill();
            uint32_t entry = literalLength[bits & LITERAL_LENGTH_MASK];
            if (entry & ENTRY_LITERAL) {
                drop(EntryDrop(entry));
                *out++ = uint8_t(entry >> 12);
                entry = literalLength[bits & LITERAL_LENGTH_MASK];
                if (entry & ENTRY_LITERAL) {
                    drop(EntryDrop(entry));
                    *out++ = uint8_t(entry >> 12);
                    entry = literalLength[bits & LITERAL_LENGTH_MASK];
                    if (entry & ENTRY_LITERAL) {
                        drop(EntryDrop(entry));
                        *out++ = uint8_t(entry >> 12);
                        continue;
                    }
                }
                refill();  // at least 56 bits again for a length and distance
            }
            if (entry & ENTRY_SUBTABLE) {
                drop(EntryDrop(entry));
                entry =
                    literalLength[EntryValue(entry) + (bits & ((1u << EntryCodeBits(entry)) - 1))];
                if (entry & ENTRY_LITERAL) {
                    drop(EntryDrop(entry));
                    *out++ = uint8_t(entry >> 12);
                    continue;
                }
            }
            if (entry & (ENTRY_END | ENTRY_INVALID)) {
                if (entry & ENTRY_INVALID) {
                    status = Status::Error;
                } else {
                    drop(EntryDrop(entry));
                    status = Status::BlockDone;
                }
                finished = true;
                break;
            }
            uint32_t length =
                EntryValue(entry) +
                uint32_t((bits & ((uint64_t(1) << EntryDrop(entry)) - 1)) >> EntryCodeBits(entry));
            drop(EntryDrop(entry));

            entry = distances[bits & DISTANCE_MASK];
            if (entry & ENTRY_SUBTABLE) {
                drop(EntryDrop(entry));
                entry = distances[EntryValue(entry) + (bits & ((1u << EntryCodeBits(entry)) - 1))];
            }
            if (entry & ENTRY_INVALID) {
                status = Status::Error;
                finished = true;
                break;
            }
            const uint32_t distance =
                EntryValue(entry) +
                uint32_t((bits & ((uint64_t(1) << EntryDrop(entry)) - 1)) >> EntryCodeBits(entry));
            drop(EntryDrop(entry));

            if (distance > uint32_t(out - outStart)) {
                if (!CopyFromHistory(state, out, distance, length)) {
                    status = Status::Error;
                    finished = true;
                    break;
                }
                if (length == 0) continue;
            }
            CopyMatchFast(out, distance, length);
            out += length;
        }

        reader.bits = bits & ((uint64_t(1) << count) - 1);
        reader.count = count;
        reader.next = in;
        if (finished) {
            state.output = out;
            return status;
        }
    }

    Status status;
    for (;;) {
        if (out == outEnd) {
            status = Status::OutputFull;
            break;
        }
        reader.Refill();
        uint32_t entry = literalLength[reader.bits & LITERAL_LENGTH_MASK];
        if (entry & ENTRY_SUBTABLE) {
            reader.Drop(EntryDrop(entry));
            entry = literalLength[EntryValue(entry) + reader.Peek(EntryCodeBits(entry))];
        }
        if (entry & ENTRY_LITERAL) {
            reader.Drop(EntryDrop(entry));
            *out++ = uint8_t(entry >> 12);
            continue;
        }
        if (entry & ENTRY_INVALID) {
            status = Status::Error;
            break;
        }
        if (entry & ENTRY_END) {
            reader.Drop(EntryDrop(entry));
            status = Status::BlockDone;
            break;
        }
        uint32_t length =
            EntryValue(entry) + (reader.Peek(EntryDrop(entry)) >> EntryCodeBits(entry));
        reader.Drop(EntryDrop(entry));

        entry = distances[reader.bits & DISTANCE_MASK];
        if (entry & ENTRY_SUBTABLE) {
            reader.Drop(EntryDrop(entry));
            entry = distances[EntryValue(entry) + reader.Peek(EntryCodeBits(entry))];
        }
        if (entry & ENTRY_INVALID) {
            status = Status::Error;
            break;
        }
        const uint32_t distance =
            EntryValue(entry) + (reader.Peek(EntryDrop(entry)) >> EntryCodeBits(entry));
        reader.Drop(EntryDrop(entry));

        length = std::min(length, uint32_t(outEnd - out));  // the block ends at the limit
        if (!CopyMatchExact(state, out, distance, length)) {
            status = Status::Error;
            break;
        }
    }
    state.output = out;
    return status;
}

Status DecodeStored(DecodingState& state) {
    BitReader& reader = state.reader;
    reader.Drop(reader.count % 8);
    const uint64_t position = reader.BytePosition();
    const uint64_t size = uint64_t(reader.end - reader.start);
    auto byteAt = [&](uint64_t i) -> uint32_t { return i < size ? reader.start[i] : 0; };
    const uint32_t length = byteAt(position) | byteAt(position + 1) << 8;
    const uint32_t check = byteAt(position + 2) | byteAt(position + 3) << 8;
    if (check != (~length & 0xFFFF)) return Status::Error;
    // A length running past the data block is refused before anything is copied.
    if (position + 4 + length > size) return Status::Error;
    const uint32_t room = uint32_t(state.outputEnd - state.output);
    const uint32_t count = std::min(length, room);
    std::memcpy(state.output, reader.start + position + 4, count);
    state.output += count;
    if (count < length) return Status::OutputFull;
    reader.Seek(position + 4 + length);
    return Status::BlockDone;
}

// Reads a dynamic block's code lengths and builds its two tables.
bool ReadDynamicTables(DecodingState& state) {
    BitReader& reader = state.reader;
    reader.Refill();
    const unsigned literalCodes = reader.Take(5) + 257;
    const unsigned distanceCodes = reader.Take(5) + 1;
    const unsigned codeLengthCodes = reader.Take(4) + 4;
    if (literalCodes > MAX_DYNAMIC_LITERAL_LENGTH_CODES ||
        distanceCodes > MAX_DYNAMIC_DISTANCE_CODES)
        return false;

    uint8_t codeLengthLengths[CODE_LENGTH_SYMBOLS] = {};
    reader.Refill();  // 19 x 3 bits fit
    for (unsigned i = 0; i < codeLengthCodes; ++i)
        codeLengthLengths[CODE_LENGTH_ORDER[i]] = uint8_t(reader.Take(3));
    if (!BuildTable(codeLengthLengths, CODE_LENGTH_SYMBOLS, CODE_LENGTH_LEAVES.leaf,
                    CODE_LENGTH_ROOT_BITS, state.codeLength, CODE_LENGTH_TABLE_SIZE,
                    Completeness::Required))
        return false;

    const unsigned total = literalCodes + distanceCodes;
    uint8_t* lengths = state.lengths;
    uint8_t previous = 0;
    for (unsigned i = 0; i < total;) {
        if (reader.count < CODE_LENGTH_ROOT_BITS + 7) reader.Refill();
        const uint32_t entry = state.codeLength[reader.bits & (CODE_LENGTH_TABLE_SIZE - 1)];
        if (entry & ENTRY_INVALID) return false;
        reader.Drop(EntryDrop(entry));
        const unsigned symbol = EntryValue(entry);
        if (symbol < 16) {
            lengths[i++] = previous = uint8_t(symbol);
            continue;
        }
        unsigned repeat;
        uint8_t value = 0;
        if (symbol == 16) {
            repeat = 3 + reader.Take(2);
            value = previous;
        } else if (symbol == 17) {
            repeat = 3 + reader.Take(3);
        } else {
            repeat = 11 + reader.Take(7);
        }
        if (i + repeat > total) return false;
        std::memset(lengths + i, value, repeat);
        i += repeat;
        previous = value;
    }

    return BuildTable(lengths, literalCodes, LITERAL_LENGTH_LEAVES.leaf, LITERAL_LENGTH_ROOT_BITS,
                      state.literalLength, LITERAL_LENGTH_TABLE_SIZE, Completeness::Required) &&
           BuildTable(lengths + literalCodes, distanceCodes, DISTANCE_LEAVES.leaf,
                      DISTANCE_ROOT_BITS, state.distance, DISTANCE_TABLE_SIZE,
                      Completeness::Required);
}

// One deflate block. Sets `final` from its header.
Status DecodeBlock(DecodingState& state, bool& final) {
    BitReader& reader = state.reader;
    reader.Refill();
    final = reader.Take(1) != 0;
    switch (reader.Take(2)) {
        case 0:
            return DecodeStored(state);
        case 1:
            return DecodeCodes(state, FIXED_TABLES.literalLength, FIXED_TABLES.distance);
        case 2:
            if (!ReadDynamicTables(state)) return Status::Error;
            return DecodeCodes(state, state.literalLength, state.distance);
        default:
            return Status::Error;
    }
}

}  // namespace

int MszipQuery(uint32_t* maxBlockSize, uint32_t* compressedBufferSize) {
    *compressedBufferSize = ClampBlockSize(maxBlockSize) + MSZIP_INPUT_SLACK;
    return CAB_DECODER_OK;
}

int MszipCreate(uint32_t* maxBlockSize, uint32_t* compressedBufferSize,
                const DecoderServices& services, DecoderHandle* handle) {
    *handle = nullptr;
    MszipQuery(maxBlockSize, compressedBufferSize);
    if (services.alloc == nullptr || services.free == nullptr) return CAB_DECODER_NO_MEMORY;

    void* handleMemory = services.alloc(sizeof(MszipHandle));
    if (handleMemory == nullptr) return CAB_DECODER_NO_MEMORY;
    void* stateMemory = services.alloc(sizeof(DecodingState));
    if (stateMemory == nullptr) {
        services.free(handleMemory);
        return CAB_DECODER_NO_MEMORY;
    }
    auto* state = new (stateMemory) DecodingState();
    state->window = *maxBlockSize;
    *handle = new (handleMemory) MszipHandle{SIGNATURE, services.free, *maxBlockSize, state};
    return CAB_DECODER_OK;
}

int MszipDecompress(DecoderHandle handle, const uint8_t* input, uint32_t inputSize, uint8_t* output,
                    uint32_t* outputSize) {
    MszipHandle* mszip = Checked(handle);
    if (mszip == nullptr) return CAB_DECODER_BAD_HANDLE;
    if (inputSize > mszip->maxBlockSize + MSZIP_INPUT_SLACK) return CAB_DECODER_BAD_SIZE;
    if (outputSize == nullptr || (output == nullptr && *outputSize != 0))
        return CAB_DECODER_BAD_SIZE;
    if (inputSize < 2 || input[0] != 'C' || input[1] != 'K') return CAB_DECODER_DATA_ERROR;

    DecodingState& state = *mszip->state;
    state.reader.Begin(input + 2, inputSize - 2);
    const uint32_t limit = std::min(*outputSize, mszip->maxBlockSize);
    state.outputStart = state.output = output;
    state.outputEnd = output + limit;
    if (state.historyBuffer != output) {
        state.historyBuffer = output;
        state.historyFilled = 0;
    }

    Status status = Status::BlockDone;
    bool final = false;
    while (!final && state.output < state.outputEnd) {
        status = DecodeBlock(state, final);
        if (status == Status::Error) break;
    }
    const uint32_t produced = uint32_t(state.output - output);
    if (status == Status::Error) {
        state.historyFilled = 0;
        return CAB_DECODER_DATA_ERROR;
    }
    state.historyFilled = produced;
    *outputSize = produced;
    return CAB_DECODER_OK;
}

int MszipReset(DecoderHandle handle) {
    MszipHandle* mszip = Checked(handle);
    if (mszip == nullptr) return CAB_DECODER_BAD_HANDLE;
    // The next block starts a folder: nothing before it may be referred to.
    mszip->state->historyFilled = 0;
    return CAB_DECODER_OK;
}

int MszipDestroy(DecoderHandle handle) {
    MszipHandle* mszip = Checked(handle);
    if (mszip == nullptr) return CAB_DECODER_BAD_HANDLE;
    mszip->free(mszip->state);
    ReleaseHandle(mszip, mszip->free);
    return CAB_DECODER_OK;
}

}  // namespace cab
