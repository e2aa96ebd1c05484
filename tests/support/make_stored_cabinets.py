#!/usr/bin/env python3
"""Writes a corpus of stored (uncompressed) cabinets for the extraction tests.

This producer is written on its own from the cabinet format as the reader
takes it, apart from the C++ cabinet writer, so that a misreading shared by
our writer and reader shows up here. The layouts are ones our writer never
makes: several folders with their file entries interleaved, data areas out
of folder order, the file table after the data, irregular block sizes,
checksums on some blocks only, every kind of reserve, sets whose folders run
across cabinet ends with split blocks, and broken cabinets.

usage: make_stored_cabinets.py FOLDER

FOLDER receives:
  cabinets/<case>/*.cab   the cabinets of each case
  expected/<case>/...     the files extracting the case must give, exactly
                          (for a case that must fail: those it still gives)
  corpus.txt              one line per fact, tab separated:
      case <name> <cabinet to extract, relative to FOLDER> ok|fail
      exec <name> <path>      extracted with execute permission
      readonly <name> <path>  extracted without write permission
      outside <name> <path>   an absolute path that must not appear
"""

import os
import random
import struct
import sys

STORED = 0
FROM_PREVIOUS = 0xFFFD
TO_NEXT = 0xFFFE
BOTH = 0xFFFF
ATTR_READONLY = 0x01
ATTR_ARCHIVE = 0x20
ATTR_EXEC = 0x40
ATTR_UTF8 = 0x80
DATE = ((2024 - 1980) << 9) | (5 << 5) | 17  # 2024-05-17
TIME = (13 << 11) | (45 << 5) | (30 // 2)  # 13:45:30


def checksum(data, seed=0):
    """The data block checksum: XOR of the little-endian 32-bit words, then
    the one to three bytes left over, the first of them highest."""
    whole = len(data) // 4
    words = int.from_bytes(data[: whole * 4], "little")
    # XOR all 32-bit words at once by folding the number in halves.
    count = 1
    while count < whole:
        count *= 2
    while count > 1:
        count //= 2
        shift = count * 32
        words = (words >> shift) ^ (words & ((1 << shift) - 1))
    value = seed ^ words
    rest = data[whole * 4 :]
    if len(rest) == 3:
        value ^= (rest[0] << 16) ^ (rest[1] << 8) ^ rest[2]
    elif len(rest) == 2:
        value ^= (rest[0] << 8) ^ rest[1]
    elif len(rest) == 1:
        value ^= rest[0]
    return value


class Block:
    """One data block as it lies in one cabinet."""

    def __init__(self, data, uncompressed=None, summed=True, stored_sum=None):
        self.data = bytes(data)
        self.uncompressed = len(self.data) if uncompressed is None else uncompressed
        self.summed = summed
        self.stored_sum = stored_sum  # a value to store instead of the right one

    def encode(self, reserve):
        sizes = struct.pack("<HH", len(self.data), self.uncompressed) + reserve
        value = checksum(sizes, checksum(self.data)) if self.summed else 0
        if self.stored_sum is not None:
            value = self.stored_sum
        return struct.pack("<I", value) + sizes + self.data


class Entry:
    """One file entry of a file table."""

    def __init__(self, name, size, offset, folder, attributes=ATTR_ARCHIVE, date=DATE, time=TIME):
        self.name = name
        self.size = size
        self.offset = offset
        self.folder = folder
        self.attributes = attributes
        self.date = date
        self.time = time

    def encode(self):
        name = self.name if isinstance(self.name, bytes) else self.name.encode("utf-8")
        return (
            struct.pack(
                "<IIHHHH",
                self.size,
                self.offset,
                self.folder,
                self.date,
                self.time,
                self.attributes,
            )
            + name
            + b"\0"
        )


class Cabinet:
    """One cabinet file: header, optional reserve and neighbour names, folder
    table, file table and the folders' data areas, laid out as asked."""

    def __init__(self, set_id=0x1234, index=0):
        self.set_id = set_id
        self.index = index
        self.reserve = None  # (header reserve bytes, folder reserve size, block reserve size)
        self.previous = None  # (cabinet name, disk name)
        self.next = None
        self.folders = []  # lists of Blocks, one list per folder entry
        self.entries = []
        self.data_order = None  # order of the folders' data areas in the file
        self.table_at_end = False
        self.file_table_offset = None  # a value to store instead of the right one
        self.signature = b"MSCF"
        self.version = (3, 1)  # minor, major
        self.junk = False  # fill the fields the reader ignores

    def add_folder(self, blocks):
        self.folders.append(blocks)
        return len(self.folders) - 1

    def encode(self):
        header_reserve, folder_reserve, block_reserve = self.reserve or (b"", 0, 0)
        flags = 0
        after_header = b""
        if self.reserve is not None:
            flags |= 0x0004
            after_header += struct.pack("<HBB", len(header_reserve), folder_reserve, block_reserve)
            after_header += header_reserve
        for flag, names in ((0x0001, self.previous), (0x0002, self.next)):
            if names is not None:
                flags |= flag
                after_header += names[0].encode() + b"\0" + names[1].encode() + b"\0"
        file_table = b"".join(entry.encode() for entry in self.entries)
        position = 36 + len(after_header) + len(self.folders) * (8 + folder_reserve)
        table_offset = position
        if not self.table_at_end:
            position += len(file_table)
        order = self.data_order or list(range(len(self.folders)))
        offsets = {}
        data = b""
        for folder in order:
            offsets[folder] = position + len(data)
            for number, block in enumerate(self.folders[folder]):
                data += block.encode(reserve_bytes(block_reserve, 7 * folder + number))
        if self.table_at_end:
            table_offset = position + len(data)
        folder_table = b""
        for folder, blocks in enumerate(self.folders):
            folder_table += struct.pack("<IHH", offsets.get(folder, 0), len(blocks), STORED)
            folder_table += reserve_bytes(folder_reserve, 100 + folder)
        if self.file_table_offset is not None:
            table_offset = self.file_table_offset
        size = position + len(data) + (len(file_table) if self.table_at_end else 0)
        junk = 0xDEADBEEF if self.junk else 0
        header = struct.pack(
            "<4sIIIIIBBHHHHH",
            self.signature,
            junk,
            junk or size,
            junk,
            table_offset,
            junk,
            self.version[0],
            self.version[1],
            len(self.folders),
            len(self.entries),
            flags,
            self.set_id,
            self.index,
        )
        body = header + after_header + folder_table
        if self.table_at_end:
            body += data + file_table
        else:
            body += file_table + data
        assert len(body) == size
        return body


def reserve_bytes(size, seed):
    return random.Random(seed).randbytes(size)


def file_bytes(size, seed):
    return random.Random(seed * 7919 + size).randbytes(size)


def cut(stream, sizes, summed=lambda number: True):
    """Cuts a folder's stream into blocks of the given sizes, repeated as
    needed; the last block takes what is left."""
    blocks = []
    position = 0
    number = 0
    while position < len(stream):
        size = sizes[number % len(sizes)]
        blocks.append(Block(stream[position : position + size], summed=summed(number)))
        position += size
        number += 1
    return blocks


def divide(blocks, offsets):
    """Divides a folder's blocks at offsets of its uncompressed stream, one
    list of blocks per cabinet. A block that an offset falls inside is
    split: its first part, with no uncompressed size, ends one list; its
    second part, carrying the whole block's size, opens the next."""
    parts = [[]]
    pending = list(offsets)
    start = 0
    for block in blocks:
        end = start + len(block.data)
        if pending and pending[0] == start:
            pending.pop(0)
            parts.append([])
        if pending and start < pending[0] < end:
            inside = pending.pop(0) - start
            parts[-1].append(Block(block.data[:inside], uncompressed=0, summed=block.summed))
            parts.append([Block(block.data[inside:], uncompressed=len(block.data))])
            assert not pending or pending[0] >= end
        else:
            parts[-1].append(block)
        start = end
    return parts


class FolderStream:
    """The uncompressed stream of a folder, built file by file."""

    def __init__(self, seed):
        self.data = bytearray()
        self.files = []  # (name, content, offset, attributes)
        self.seed = seed

    def add(self, name, size, attributes=ATTR_ARCHIVE, content=None):
        if content is None:
            content = file_bytes(size, self.seed + len(self.files))
        self.files.append((name, bytes(content), len(self.data), attributes))
        self.data += content
        return len(self.files) - 1

    def entry(self, number, folder):
        name, content, offset, attributes = self.files[number]
        return Entry(name, len(content), offset, folder, attributes)


class Corpus:
    def __init__(self, root):
        self.root = root
        self.lines = []

    def case(self, name, cabinets, expect_ok, expected=None, first=None):
        folder = os.path.join(self.root, "cabinets", name)
        os.makedirs(folder, exist_ok=True)
        for file_name, cabinet in cabinets:
            data = cabinet if isinstance(cabinet, bytes) else cabinet.encode()
            with open(os.path.join(folder, file_name), "wb") as out:
                out.write(data)
        first = first or cabinets[0][0]
        self.lines.append(
            "\t".join(
                ["case", name, "cabinets/%s/%s" % (name, first), "ok" if expect_ok else "fail"]
            )
        )
        expected_root = os.path.join(self.root, "expected", name)
        os.makedirs(expected_root, exist_ok=True)
        for path, content in (expected or {}).items():
            target = os.path.join(expected_root, path)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as out:
                out.write(content)

    def fact(self, kind, name, path):
        self.lines.append("\t".join([kind, name, path]))

    def finish(self):
        with open(os.path.join(self.root, "corpus.txt"), "w", encoding="utf-8") as out:
            out.write("\n".join(self.lines) + "\n")


def on_disk(name):
    return name.replace("\\", "/")


def expected_from_table(cabinet, streams):
    """What a walk of a single cabinet writes: every entry in table order,
    a later entry of the same name replacing an earlier one."""
    expected = {}
    for entry in cabinet.entries:
        stream = streams[entry.folder]
        name = entry.name if isinstance(entry.name, str) else entry.name.decode()
        expected[on_disk(name)] = bytes(stream.data[entry.offset : entry.offset + entry.size])
    return expected


def interleaved(corpus):
    """Three folders whose entries alternate in the table, data areas out of
    order, the file table last, irregular blocks holding the ends and starts
    of several files, checksums on some blocks only, overwritten and
    zero-size files, subfolders and a UTF-8 name."""
    cabinet = Cabinet()
    rng = random.Random(5)
    first = FolderStream(10)
    a = first.add("a.bin", 70000)
    b = first.add("sub\\b.txt", 1)
    empty_middle = first.add("sub\\empty_middle", 0)
    utf8 = first.add("文档\\说明.txt".encode("utf-8"), 12345, ATTR_ARCHIVE | ATTR_UTF8)
    tool = first.add("bin\\tool", 3000, ATTR_ARCHIVE | ATTR_EXEC)
    locked = first.add("locked.txt", 40, ATTR_READONLY)
    empty_end = first.add("empty_end", 0)
    dot = first.add("dot\\.\\inside", 10)
    hidden = first.add("hidden and system", 20, 0x02 | 0x04 | ATTR_ARCHIVE)

    second = FolderStream(20)
    empty_start = second.add("empty_start", 0)
    sizes = [0, 1, 2, 3, 17, 300, 2999, 5000]
    many = [second.add("many\\f%02d" % i, rng.choice(sizes)) for i in range(40)]
    duplicate_long = second.add("dup.txt", 5000)
    long_name = second.add("sub\\" + "n" * 251, 77)  # 255 characters, the longest name
    duplicate_short = second.add("dup.txt", 10)

    third = FolderStream(30)
    deep = third.add("deep\\er\\x.dat", 100000)
    tail = third.add("deep\\tail", 33000)

    summed = lambda number: rng.random() < 0.5
    cabinet.add_folder(cut(first.data, [32768, 1, 4093, 7, 32767, 2, 9000], summed))
    cabinet.add_folder(cut(second.data, [1, 2, 3, 5, 100, 4095, 17, 32768, 9000, 333], summed))
    cabinet.add_folder(cut(third.data, [1] * 50 + [32768, 30000, 32768, 12345], summed))
    cabinet.data_order = [2, 0, 1]
    cabinet.table_at_end = True

    e0 = lambda n: first.entry(n, 0)
    e1 = lambda n: second.entry(n, 1)
    e2 = lambda n: third.entry(n, 2)
    # Table order: folders alternate, and within a folder some entries come
    # before ones that lie earlier in its stream (the folder is read again).
    cabinet.entries = [e1(empty_start), e0(b), e2(tail), e1(many[5]), e0(a), e2(deep)]
    cabinet.entries += [e1(duplicate_long), e0(utf8), e1(many[0])]
    cabinet.entries += [e1(number) for number in many[1:5]]
    cabinet.entries += [e0(empty_middle), e0(tool)]
    cabinet.entries += [e1(number) for number in reversed(many[6:])]
    cabinet.entries += [e1(long_name), e0(locked), e1(duplicate_short), e0(empty_end)]
    # An entry whose bytes lie inside another file's, and one with no valid
    # date or time.
    cabinet.entries += [Entry("alias\\of a", 1000, first.files[a][2] + 30000, 0), e0(dot)]
    undated = e0(hidden)
    undated.date = 0
    undated.time = 0xFFFF
    cabinet.entries.append(undated)

    expected = expected_from_table(cabinet, [first, second, third])
    assert expected["dup.txt"] == second.files[duplicate_short][1]
    corpus.case("interleaved", [("interleaved.cab", cabinet)], True, expected)
    corpus.fact("exec", "interleaved", "bin/tool")
    corpus.fact("readonly", "interleaved", "locked.txt")


def many_files(corpus):
    """Fifteen hundred small files in one folder, most blocks holding several
    of them, listed in shuffled order so that the folder is read again and
    again."""
    cabinet = Cabinet()
    rng = random.Random(9)
    stream = FolderStream(35)
    for number in range(1500):
        stream.add("m\\%d\\%04d" % (number % 7, number), rng.randrange(0, 41))
    cabinet.add_folder(cut(stream.data, [1000, 7, 32768, 3333], lambda number: number % 3 != 0))
    cabinet.entries = [stream.entry(number, 0) for number in range(1500)]
    rng.shuffle(cabinet.entries)
    expected = expected_from_table(cabinet, [stream])
    corpus.case("many_files", [("many.cab", cabinet)], True, expected)


def reserves(corpus):
    """The largest header reserve, folder reserve and block reserve, with
    runs of full blocks whose headers are as large as they get."""
    cabinet = Cabinet(set_id=0xFFFF)
    cabinet.reserve = (reserve_bytes(0xFFFF, 1), 255, 255)
    first = FolderStream(40)
    first.add("full_blocks.bin", 20 * 32768 + 5)
    first.add("after.bin", 999)
    second = FolderStream(50)
    second.add("small\\one", 1)
    second.add("small\\two", 70001)
    cabinet.add_folder(cut(first.data, [32768], lambda number: number % 7 != 3))
    cabinet.add_folder(cut(second.data, [1, 32768, 255, 32767]))
    cabinet.entries = [second.entry(0, 1), first.entry(0, 0), second.entry(1, 1), first.entry(1, 0)]
    expected = expected_from_table(cabinet, [first, second])
    corpus.case("reserves", [("reserves.cab", cabinet)], True, expected)

    # The reserve flag with every size zero reads like no reserve at all.
    plain = Cabinet()
    plain.reserve = (b"", 0, 0)
    plain.junk = True  # and the reserved fields and the size are not looked at
    stream = FolderStream(60)
    stream.add("plain.txt", 50000)
    # The longest name, ending the file: fewer than 256 bytes are left to read.
    stream.add("d\\" + "e" * 253, 3)
    plain.add_folder(cut(stream.data, [20000]))
    plain.entries = [stream.entry(0, 0), stream.entry(1, 0)]
    plain.table_at_end = True
    corpus.case("reserve_zero", [("zero.cab", plain)], True, expected_from_table(plain, [stream]))


def empty(corpus):
    """No folders and no files; and zero-size files in a folder of no blocks."""
    corpus.case("no_files", [("none.cab", Cabinet())], True, {})
    cabinet = Cabinet()
    cabinet.add_folder([])
    cabinet.entries = [Entry("nothing", 0, 0, 0), Entry("dir\\also_nothing", 0, 0, 0)]
    expected = {"nothing": b"", "dir/also_nothing": b""}
    corpus.case("only_empty_files", [("empty.cab", cabinet)], True, expected)


def set_of_three(corpus, name, set_id, middle_set_id=None):
    """A file that begins in the first cabinet, fills the second and ends in
    the third, with its folder's blocks split at both cabinet ends. The third
    cabinet closes the continued folder after that file and opens a new one;
    its data area comes first in the file. All three carry reserves."""
    reserve = (reserve_bytes(30, 2), 4, 9)
    names = ["%s%d.cab" % (name, number) for number in (1, 2, 3)]
    cabinets = [Cabinet(set_id, index) for index in range(3)]
    if middle_set_id is not None:
        cabinets[1].set_id = middle_set_id
    for index, cabinet in enumerate(cabinets):
        cabinet.reserve = reserve
        if index > 0:
            cabinet.previous = (names[index - 1], "Disk %d" % index)
        if index < 2:
            cabinet.next = (names[index + 1], "Disk %d" % (index + 2))

    complete = FolderStream(70)
    complete.add("x1", 3000)
    complete.add("x2", 0)
    complete.add("x\\3", 40000)
    cabinets[0].add_folder(cut(complete.data, [32768, 4000]))

    crossing = FolderStream(80)
    crossing.add("y1", 20000)
    big = crossing.add("big.bin", 200000)
    blocks = cut(crossing.data, [32768, 10000, 777, 32768], lambda number: number % 2 == 0)
    in_first, in_second, in_third = divide(blocks, [70000, 150000])
    assert in_first[-1].uncompressed == 0 and in_second[-1].uncompressed == 0
    cabinets[0].add_folder(in_first)
    cabinets[1].add_folder(in_second)
    cabinets[2].add_folder(in_third)

    last = FolderStream(90)
    last.add("z1", 5000)
    last.add("z2", 0)
    last.add("z\\3", 33000)
    cabinets[2].add_folder(cut(last.data, [8192, 3]))
    cabinets[2].data_order = [1, 0]

    big_entry = lambda folder: crossing.entry(big, folder)
    cabinets[0].entries = [
        complete.entry(0, 0),
        crossing.entry(0, 1),
        complete.entry(1, 0),
        complete.entry(2, 0),
        big_entry(TO_NEXT),
    ]
    cabinets[1].entries = [big_entry(BOTH)]
    cabinets[2].entries = [big_entry(FROM_PREVIOUS)] + [last.entry(n, 1) for n in range(3)]

    expected = {}
    for stream in (complete, crossing, last):
        for file_name, content, _, _ in stream.files:
            expected[on_disk(file_name)] = content
    whole = middle_set_id is None
    corpus.case(name, list(zip(names, cabinets)), whole, expected if whole else {})
    if whole:
        # From the second cabinet on: only the files that begin there or later.
        later = {on_disk(file_name): content for file_name, content, _, _ in last.files}
        corpus.case(name + "_from_second", list(zip(names, cabinets)), True, later, names[1])


def set_at_block_ends(corpus):
    """A file that crosses into the second cabinet exactly at a block end,
    then a new folder there whose last file crosses into the third cabinet
    inside a split block; each cabinet's continued folder is closed after
    the file that crosses, and a new folder begins."""
    set_id = 0x0BEE
    names = ["edge1.cab", "edge2.cab", "edge3.cab"]
    cabinets = [Cabinet(set_id, index) for index in range(3)]
    for index, cabinet in enumerate(cabinets):
        if index > 0:
            cabinet.previous = (names[index - 1], "")
        if index < 2:
            cabinet.next = (names[index + 1], "")

    small = FolderStream(100)
    small.add("q1", 500)
    small.add("q2", 0)
    cabinets[0].add_folder(cut(small.data, [100, 400]))

    crossing = FolderStream(110)
    crossing.add("p1", 100)
    crossing.add("p\\2", 65536 + 100)
    in_first, in_second = divide(cut(crossing.data, [32768]), [32768])
    assert in_first[-1].uncompressed != 0
    cabinets[0].add_folder(in_first)
    cabinets[1].add_folder(in_second)

    second = FolderStream(120)
    second.add("r1", 7000)
    second.add("r2", 50000)
    r_first, r_second = divide(cut(second.data, [4096, 4096, 1, 16000]), [30001])
    assert r_first[-1].uncompressed == 0
    cabinets[1].add_folder(r_first)
    cabinets[2].add_folder(r_second)

    third = FolderStream(130)
    third.add("s1", 10)
    cabinets[2].add_folder(cut(third.data, [10]))

    cabinets[0].entries = [crossing.entry(0, 1), small.entry(0, 0), small.entry(1, 0)]
    cabinets[0].entries += [crossing.entry(1, TO_NEXT)]
    cabinets[1].entries = [crossing.entry(1, FROM_PREVIOUS), second.entry(0, 1)]
    cabinets[1].entries += [second.entry(1, TO_NEXT)]
    cabinets[2].entries = [second.entry(1, FROM_PREVIOUS), third.entry(0, 1)]

    expected = {}
    for stream in (small, crossing, second, third):
        for file_name, content, _, _ in stream.files:
            expected[on_disk(file_name)] = content
    corpus.case("set_block_ends", list(zip(names, cabinets)), True, expected)


def set_entry_after_crossing(corpus):
    """A file listed after the one that continues into the next cabinet. A
    walk finishes the continued file in the next cabinet and goes on from
    there, so that file cannot be reached: the extraction must say so and
    fail rather than end well without it. The expected files are those that
    can be reached."""
    names = ["after1.cab", "after2.cab"]
    first, second = Cabinet(0x7777, 0), Cabinet(0x7777, 1)
    first.next = (names[1], "")
    second.previous = (names[0], "")
    complete = FolderStream(140)
    complete.add("a", 1000)
    complete.add("c", 500)
    crossing = FolderStream(150)
    crossing.add("big", 50000)
    in_first, in_second = divide(cut(crossing.data, [32768]), [40000])
    first.add_folder(cut(complete.data, [700]))
    first.add_folder(in_first)
    second.add_folder(in_second)
    first.entries = [complete.entry(0, 0), crossing.entry(0, TO_NEXT), complete.entry(1, 0)]
    second.entries = [crossing.entry(0, FROM_PREVIOUS)]
    reachable = {"a": complete.files[0][1], "big": crossing.files[0][1]}
    corpus.case("set_entry_after_crossing", list(zip(names, [first, second])), False, reachable)


def set_continued_after_crossing(corpus):
    """A file listed after the one that crosses into the next cabinet, whose
    data all lies in the next cabinet, listed as continued in both: it is
    reached from the next cabinet's table, and the extraction succeeds."""
    names = ["later1.cab", "later2.cab"]
    first, second = Cabinet(0x7778, 0), Cabinet(0x7778, 1)
    first.next = (names[1], "")
    second.previous = (names[0], "")
    complete = FolderStream(160)
    complete.add("a", 1000)
    crossing = FolderStream(170)
    crossing.add("p", 30000)
    crossing.add("q", 9000)
    in_first, in_second = divide(cut(crossing.data, [4096]), [20000])
    first.add_folder(cut(complete.data, [1000]))
    first.add_folder(in_first)
    second.add_folder(in_second)
    first.entries = [complete.entry(0, 0), crossing.entry(0, TO_NEXT), crossing.entry(1, TO_NEXT)]
    second.entries = [crossing.entry(0, FROM_PREVIOUS), crossing.entry(1, FROM_PREVIOUS)]
    expected = {"a": complete.files[0][1], "p": crossing.files[0][1], "q": crossing.files[1][1]}
    corpus.case("set_continued_after_crossing", list(zip(names, [first, second])), True, expected)


def simple(seed, sizes=(1000, 1, 3000), blocks=(700,), table_at_end=False):
    """A one-folder cabinet of a few files, to be broken."""
    cabinet = Cabinet()
    stream = FolderStream(seed)
    for number, size in enumerate(sizes):
        stream.add("f%d" % number, size)
    cabinet.add_folder(cut(stream.data, list(blocks)))
    cabinet.entries = [stream.entry(n, 0) for n in range(len(sizes))]
    cabinet.table_at_end = table_at_end
    return cabinet, stream


def broken(corpus, escape_root):
    # Cut inside a data block's bytes, and inside a block header.
    cabinet, _ = simple(200)
    data = cabinet.encode()
    corpus.case("truncated_in_block", [("cut.cab", data[: len(data) - 350])], False)
    corpus.case("truncated_in_block_header", [("cut.cab", data[: len(data) - 505])], False)

    # A wrong checksum in the middle of the folder, and on its first block.
    for name, bad in (("bad_checksum", 3), ("bad_checksum_first", 0)):
        cabinet, _ = simple(210)
        block = cabinet.folders[0][bad]
        sizes = struct.pack("<HH", len(block.data), len(block.data))
        block.stored_sum = checksum(sizes, checksum(block.data)) ^ 0x100
        corpus.case(name, [("sum.cab", cabinet)], False)

    # The file table lies past the end of the file.
    cabinet, _ = simple(220)
    cabinet.file_table_offset = len(cabinet.encode()) + 10
    corpus.case("table_past_end", [("far.cab", cabinet)], False)

    # The header counts more entries than the file holds.
    cabinet, stream = simple(230, table_at_end=True)
    cabinet.entries.append(stream.entry(0, 0))
    data = cabinet.encode()
    corpus.case("entries_past_end", [("short.cab", data[: len(data) - 5])], False)

    # A file reaching beyond its folder's data, in a cabinet with no next.
    cabinet, stream = simple(240)
    cabinet.entries.append(Entry("beyond", 500, len(stream.data) - 100, 0))
    corpus.case("file_past_folder", [("beyond.cab", cabinet)], False)

    # A file naming a folder the cabinet does not have.
    cabinet, stream = simple(250)
    cabinet.entries.append(Entry("nowhere", 5, 0, 3))
    corpus.case("folder_out_of_range", [("nowhere.cab", cabinet)], False)

    # A split block in a cabinet that names no next cabinet.
    cabinet, stream = simple(260)
    cabinet.folders[0] = divide(cabinet.folders[0], [len(stream.data) - 50])[0]
    corpus.case("split_without_next", [("split.cab", cabinet)], False)

    # Stored blocks whose two sizes differ, or that exceed the largest block.
    cabinet, stream = simple(270)
    cabinet.folders[0][1].uncompressed += 1
    corpus.case("sizes_differ", [("differ.cab", cabinet)], False)
    cabinet, stream = simple(280, sizes=(100, 40000, 100), blocks=(100, 40000))
    corpus.case("block_too_large", [("large.cab", cabinet)], False)
    cabinet, stream = simple(290, sizes=(100, 40000, 100), blocks=(100, 40000))
    cabinet.folders[0][1].summed = False
    corpus.case("block_too_large_unsummed", [("large.cab", cabinet)], False)

    # Two cabinets that name each other as the next one.
    first, _ = simple(292)
    second, _ = simple(293)
    first.next = ("loop2.cab", "")
    second.index = 1
    second.previous = ("loop1.cab", "")
    second.next = ("loop1.cab", "")
    corpus.case("set_loop", [("loop1.cab", first), ("loop2.cab", second)], False)

    # Not a cabinet, and another format version.
    cabinet, _ = simple(295)
    cabinet.signature = b"MSCE"
    corpus.case("signature", [("sig.cab", cabinet)], False)
    cabinet, _ = simple(296)
    cabinet.version = (2, 1)
    corpus.case("version_1_2", [("version.cab", cabinet)], False)

    # A file where a folder is wanted, and the other way round.
    clashes = (("file_then_folder", ("x", "x\\y")), ("folder_then_file", ("x\\y", "x")))
    for case_name, names in clashes:
        cabinet, _ = simple(297)
        cabinet.entries[0].name, cabinet.entries[1].name = names
        corpus.case(case_name, [("clash.cab", cabinet)], False)

    # A name with no terminator within 256 bytes.
    cabinet, stream = simple(300)
    cabinet.entries[1].name = "m" * 256
    corpus.case("name_too_long", [("long.cab", cabinet)], False)

    # Names that would leave the output folder; a good file comes first.
    inside = escape_root + "/escaped"  # an absolute name that could be written
    hostile = [
        ("name_parent", "..\\x", None),
        ("name_root", "\\abs", "/abs"),
        ("name_root_inside", inside.replace("/", "\\"), inside),
        ("name_climb", "a\\..\\..\\b", None),
        ("name_climb_slash", "a/../../c", None),
        ("name_absolute", "/etc/x", "/etc/x"),
        ("name_empty", "", None),
        ("name_folder_only", "dir\\", None),
    ]
    for case_name, file_name, outside in hostile:
        cabinet, stream = simple(310)
        cabinet.entries[1].name = file_name
        corpus.case(case_name, [("evil.cab", cabinet)], False)
        if outside is not None:
            corpus.fact("outside", case_name, outside)


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: make_stored_cabinets.py FOLDER\n")
        return 2
    root = os.path.abspath(sys.argv[1])
    os.makedirs(root, exist_ok=True)
    corpus = Corpus(root)
    interleaved(corpus)
    many_files(corpus)
    reserves(corpus)
    empty(corpus)
    set_of_three(corpus, "set_split", 0x5150)
    set_of_three(corpus, "set_wrong_cabinet", 0x5151, middle_set_id=0x5152)
    set_at_block_ends(corpus)
    set_entry_after_crossing(corpus)
    set_continued_after_crossing(corpus)
    broken(corpus, root)
    corpus.finish()
    return 0


if __name__ == "__main__":
    sys.exit(main())
