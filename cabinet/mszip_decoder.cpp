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
    // Room for a word stored at the last length (see ReadCodeLengths).
    uint8_t lengths[MAX_DYNAMIC_LITERAL_LENGTH_CODES + MAX_DYNAMIC_DISTANCE_CODES + 7];
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

inline void Store64(uint8_t* p, uint64_t value) {
    if constexpr (std::endian::native == std::endian::big) value = __builtin_bswap64(value);
    std::memcpy(p, &value, 8);
}

// For a distance d below 8: the multiplier that repeats d bytes across a
// word, and the whole periods per word, by which the copy steps.
constexpr uint64_t PATTERN_REPEAT[8] = {0,
                                        0x0101010101010101,
                                        0x0001000100010001,
                                        0x0001000001000001,
                                        0x0000000100000001,
                                        0x0000010000000001,
                                        0x0001000000000001,
                                        0x0100000000000001};
constexpr uint8_t PATTERN_STEP[8] = {0, 8, 8, 6, 8, 5, 6, 7};

// How far a match copy may write past the match's end.
constexpr std::ptrdiff_t MATCH_SPILL = 32;

// Copies a match inside the current block with whole words, writing up to
// MATCH_SPILL bytes past its end. From distance 8 on, every word's source lies
// wholly before the word itself, so word copies repeat overlapping bytes as
// byte copies would.
inline void CopyMatchFast(uint8_t* out, uint32_t distance, uint32_t length) {
    const uint8_t* source = out - distance;
    uint8_t* const end = out + length;
    if (distance >= 8) {
        // Three words first: most matches are no longer.
        std::memcpy(out, source, 8);
        std::memcpy(out + 8, source + 8, 8);
        std::memcpy(out + 16, source + 16, 8);
        if (length <= 24) return;
        out += 24;
        source += 24;
        if (distance >= 16) {
            do {
                std::memcpy(out, source, 16);
                std::memcpy(out + 16, source + 16, 16);
                out += 32;
                source += 32;
            } while (out < end);
        } else {
            do {
                std::memcpy(out, source, 8);
                out += 8;
                source += 8;
            } while (out < end);
        }
    } else {
        // The d bytes before `out` repeated across a word; the load reaches
        // past `out` into the room ahead, whose bytes the mask drops.
        const uint64_t period = Load64(source) & ((uint64_t(1) << (8 * distance)) - 1);
        const uint64_t pattern = period * PATTERN_REPEAT[distance];
        const uint32_t step = PATTERN_STEP[distance];
        do {
            Store64(out, pattern);
            Store64(out + step, pattern);
            out += 2 * step;
        } while (out < end);
    }
}

// The bits of `value` below the count in the low byte of `entry` (at most
// 63). The BMI2 build says so in one instruction, which the compiler does not
// find by itself inside the loop; it runs only where BMI2 was found.
template <bool Bmi2>
[[gnu::always_inline]] inline uint64_t LowBits(uint64_t value, uint64_t entry) {
#if defined(__x86_64__)
    if constexpr (Bmi2) {
        uint64_t low;
        asm("bzhi %2, %1, %0" : "=r"(low) : "r"(value), "r"(entry));
        return low;
    }
#endif
    return value & ((uint64_t(1) << (entry & 63)) - 1);
}

// How the fast loop ended: `finished` when decoding ended inside it (then
// `status` says how), else it ran short of room and the careful loop goes on.
struct FastResult {
    bool finished;
    Status status;
};

// The fast loop runs while this much output room and input are left: one
// iteration writes at most three literals, or two literals and a 258-byte
// match with its spill, and refills at most twice (8-byte loads, each moving
// the input on by at most 7 bytes).
constexpr std::ptrdiff_t FAST_OUTPUT_ROOM = 2 + 258 + MATCH_SPILL;
constexpr std::ptrdiff_t FAST_INPUT_ROOM = 15;

// Decodes codes with whole-word refills and no bounds checks while at least
// FAST_INPUT_ROOM bytes of input and FAST_OUTPUT_ROOM bytes of output room
// remain. Shaped for speed: the next literal/length entry is looked up as soon
// as the bits before it are consumed, ahead of the match copy, so lookups do
// not wait on copies; and the lookups that may follow an entry go out before
// the test of its kind (see the loop).
//
// With `KeepTail` (history left by the previous block is still in the buffer)
// the bytes a match copy spills are put back afterwards: they may be history
// that a later match reads.
template <bool Bmi2, bool KeepTail>
[[gnu::always_inline]] inline FastResult DecodeFast(DecodingState& state, uint8_t*& outRef,
                                                    const uint32_t* literalLength,
                                                    const uint32_t* distances) {
    BitReader& reader = state.reader;
    FastResult result{false, Status::BlockDone};
    if (reader.end - reader.next < FAST_INPUT_ROOM || state.outputEnd - outRef < FAST_OUTPUT_ROOM)
        return result;
    uint8_t* out = outRef;
    uint8_t* const outStart = state.outputStart;
    uint8_t* const outLimit = state.outputEnd - FAST_OUTPUT_ROOM;
    const uint8_t* in = reader.next;
    const uint8_t* const inLimit = reader.end - FAST_INPUT_ROOM;
    uint64_t bits = reader.bits;
    // Only the low byte of `count` is the number of valid bits: whole entries
    // are subtracted from it, and their bits 8 and up fall into its high bytes.
    uint32_t count = reader.count;

    // Bits above the count are zero or already the bits of the bytes at `in`
    // (see BitReader), so OR-ing in a whole word is exact; `in` moves past
    // the whole bytes taken, and the count becomes 56 + count % 8.
    auto refill = [&] {
        bits |= Load64(in) << (count & 63);
        in += 7 - ((count >> 3) & 7);
        count |= 56;
    };
    auto consume = [&](uint32_t entry) {
        bits >>= entry & 63;
        count -= entry;
    };
    // A length's or distance's extra bits sit between its code and the bits
    // the entry consumed; `before` is the buffer as it was before consuming.
    auto extra = [](uint64_t before, uint32_t entry) {
        return uint32_t(LowBits<Bmi2>(before, entry) >> ((entry >> 8) & 63));
    };

    refill();
    uint32_t entry = literalLength[bits & LITERAL_LENGTH_MASK];
    // At the top of each iteration `entry` is the literal/length entry for
    // the low bits, looked up with at least 11 of them valid, and the room
    // checked allows one iteration without a bound check. The refill comes
    // first: it only adds bits above the count, so it does not change
    // `entry`, and it runs while that lookup is still in flight instead of
    // between a code and the next lookup. Afterwards the count is at least
    // 56, and all 64 bits of the buffer are stream bits (the load fills it
    // up; the count only takes whole bytes). That covers three root literals
    // (11 bits each) with the look-ahead after each (at most 11 + 11 + 16 +
    // 11 bits: a root length takes at most 16 with its extra bits); or up to
    // two literals and the look-ahead after them, then a second refill; then
    // a length with its extra bits (20 bits from a sub-table), a distance
    // with its extra bits (28 bits) and the next lookup (11 bits, within the
    // 64).
    while (in <= inLimit && out <= outLimit) {
        refill();
        // Whether `entry` is a root literal or a root length, the bits after
        // it are the same, and so are the lookups that may follow: the next
        // literal/length or the distance. Both go out before the test of its
        // kind, so that when that test is mispredicted (about once per match)
        // the lookup the right path needs is already under way.
        uint64_t after;
        uint32_t nextAfterLiteral, distanceAfterLength;
        auto lookAhead = [&] {
            after = bits >> (entry & 63);
            nextAfterLiteral = literalLength[after & LITERAL_LENGTH_MASK];
            distanceAfterLength = distances[after & DISTANCE_MASK];
        };
        auto literal = [&] {
            bits = after;
            count -= entry;
            *out++ = EntryLiteral(entry);
            entry = nextAfterLiteral;
        };
        lookAhead();
        if (EntryIsLiteral(entry)) {
            // Up to three literals; a length after the first or second
            // goes on in this iteration, after the second refill.
            literal();
            lookAhead();
            if (EntryIsLiteral(entry)) {
                literal();
                lookAhead();
                if (EntryIsLiteral(entry)) {
                    literal();
                    continue;
                }
            }
            refill();
            after = bits >> (entry & 63);
        }
        uint64_t before = bits;
        uint32_t distanceEntry = distanceAfterLength;
        if (entry & ENTRY_SPECIAL) {
            if (entry & ENTRY_SUBTABLE) {
                consume(entry);
                entry =
                    literalLength[EntryValue(entry) + (bits & ((1u << EntryCodeBits(entry)) - 1))];
                if (EntryIsLiteral(entry)) {
                    consume(entry);
                    *out++ = EntryLiteral(entry);
                    entry = literalLength[bits & LITERAL_LENGTH_MASK];
                    continue;
                }
            }
            if (entry & (ENTRY_END | ENTRY_INVALID)) {
                if (entry & ENTRY_INVALID) {
                    result = {true, Status::Error};
                } else {
                    consume(entry);
                    result = {true, Status::BlockDone};
                }
                break;
            }
            // A length from a sub-table: its distance follows it.
            before = bits;
            consume(entry);
            distanceEntry = distances[bits & DISTANCE_MASK];
        } else {
            bits = after;
            count -= entry;
        }
        // Length and distance entries have no literal flag: their base is
        // all of the entry above the value shift.
        uint32_t length = (entry >> ENTRY_VALUE_SHIFT) + extra(before, entry);

        entry = distanceEntry;
        if (entry & ENTRY_SPECIAL) {
            if (entry & ENTRY_INVALID) {
                result = {true, Status::Error};
                break;
            }
            consume(entry);
            entry = distances[EntryValue(entry) + (bits & ((1u << EntryCodeBits(entry)) - 1))];
            if (entry & ENTRY_INVALID) {
                result = {true, Status::Error};
                break;
            }
        }
        before = bits;
        consume(entry);
        const uint32_t distance = (entry >> ENTRY_VALUE_SHIFT) + extra(before, entry);

        entry = literalLength[bits & LITERAL_LENGTH_MASK];

        if (distance > uint32_t(out - outStart)) {
            // Copies of the position and length keep the loop's own in registers.
            uint8_t* historyOut = out;
            uint32_t rest = length;
            if (!CopyFromHistory(state, historyOut, distance, rest)) {
                result = {true, Status::Error};
                break;
            }
            out = historyOut;
            length = rest;
            if (length == 0) continue;
        }
        uint8_t* const end = out + length;
        if constexpr (KeepTail) {
            uint8_t saved[MATCH_SPILL];
            std::memcpy(saved, end, MATCH_SPILL);
            CopyMatchFast(out, distance, length);
            std::memcpy(end, saved, MATCH_SPILL);
        } else {
            CopyMatchFast(out, distance, length);
        }
        out = end;
    }

    count &= 63;
    reader.bits = bits & ((uint64_t(1) << count) - 1);
    reader.count = count;
    reader.next = in;
    outRef = out;
    return result;
}

#if defined(__x86_64__) && defined(__BMI2__)
constexpr bool BMI2_EVERYWHERE = true;
#else
constexpr bool BMI2_EVERYWHERE = false;
#endif

// The loop for the block at hand: history in the buffer or none.
template <bool Bmi2>
[[gnu::always_inline]] inline FastResult DecodeFastFor(DecodingState& state, uint8_t*& out,
                                                       const uint32_t* literalLength,
                                                       const uint32_t* distances) {
    return state.historyFilled != 0 ? DecodeFast<Bmi2, true>(state, out, literalLength, distances)
                                    : DecodeFast<Bmi2, false>(state, out, literalLength, distances);
}

FastResult DecodeFastPlain(DecodingState& state, uint8_t*& out, const uint32_t* literalLength,
                           const uint32_t* distances) {
    return DecodeFastFor<BMI2_EVERYWHERE>(state, out, literalLength, distances);
}

// The same loop for processors with BMI2, whose shifts take their count from
// any register and leave the flags alone, and whose bzhi masks in one step:
// the loop is mostly shifts and masks by counts held in entries.
#if defined(__x86_64__) && !defined(__BMI2__)
[[gnu::target("bmi2")]] FastResult DecodeFastBmi2(DecodingState& state, uint8_t*& out,
                                                  const uint32_t* literalLength,
                                                  const uint32_t* distances) {
    return DecodeFastFor<true>(state, out, literalLength, distances);
}

// Set while the library is loaded; should a decoder run before that, the
// plain loop serves, which is just as exact.
const bool HAS_BMI2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("bmi2") != 0;
}();

FastResult DecodeFastBest(DecodingState& state, uint8_t*& out, const uint32_t* literalLength,
                          const uint32_t* distances) {
    return HAS_BMI2 ? DecodeFastBmi2(state, out, literalLength, distances)
                    : DecodeFastPlain(state, out, literalLength, distances);
}
#else
FastResult DecodeFastBest(DecodingState& state, uint8_t*& out, const uint32_t* literalLength,
                          const uint32_t* distances) {
    return DecodeFastPlain(state, out, literalLength, distances);
}
#endif

// Decodes literal/length and distance codes until the end-of-block code, a
// full output buffer or an error. First the fast loop, then one code at a
// time near the ends of the input and the output.
Status DecodeCodes(DecodingState& state, const uint32_t* literalLength, const uint32_t* distances) {
    BitReader& reader = state.reader;
    uint8_t* out = state.output;
    uint8_t* const outEnd = state.outputEnd;
    const FastResult fast = DecodeFastBest(state, out, literalLength, distances);
    if (fast.finished) {
        state.output = out;
        return fast.status;
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
            *out++ = EntryLiteral(entry);
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

// Reads `total` code lengths with the code-length code's table. Works on a
// copy of the bit reader: kept in registers, it is not reloaded after every
// length stored. Every symbol is read the same way (see CodeLengthLeaf), and
// its first 8 copies are stored as one word, which may reach up to 7 bytes
// past `total` (`lengths` has room for that): no branch on the kind of symbol.
bool ReadCodeLengths(BitReader& shared, const uint32_t* codeLength, uint8_t* lengths,
                     unsigned total) {
    BitReader reader = shared;
    uint32_t previous = 0;
    for (unsigned i = 0; i < total;) {
        if (reader.count < CODE_LENGTH_ROOT_BITS + 7) reader.Refill();
        const uint32_t entry = codeLength[reader.bits & (CODE_LENGTH_TABLE_SIZE - 1)];
        if (entry & ENTRY_INVALID) return false;
        const uint32_t extra = reader.Peek(EntryDrop(entry)) >> EntryCodeBits(entry);
        reader.Drop(EntryDrop(entry));
        const unsigned value = EntryValue(entry);
        const unsigned repeat = (value >> CODE_LENGTH_REPEAT_SHIFT & 15) + extra;
        const uint32_t length = value & CODE_LENGTH_PREVIOUS ? previous : value & 15;
        if (i + repeat > total) return false;
        Store64(lengths + i, uint64_t(length) * 0x0101010101010101);
        if (repeat > 8) std::memset(lengths + i + 8, int(length), repeat - 8);
        i += repeat;
        previous = length;
    }

    shared = reader;
    return true;
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
    if (!ReadCodeLengths(reader, state.codeLength, lengths, total)) return false;

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
