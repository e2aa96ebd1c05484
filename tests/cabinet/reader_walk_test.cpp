// The walk of a single cabinet: notification order and fields, the callbacks'
// answers (skip, abort, enumerate), and the data delivered.
#include <gtest/gtest.h>

#include "reader_support.h"

namespace cab_test {
namespace {

using ::testing::ElementsAre;

class ReaderWalk : public ScratchTest {};

TEST_F(ReaderWalk, DeliversEveryFileWithItsFieldsInTableOrder) {
    const auto big = Pattern(100000, 1);
    const auto small = Pattern(10, 2);
    const auto paths = Build(
        {{{"big.bin", big, 0x21, 0x5A21, 0x6000}, {"sub\\small", small, 0x01, 0x4C48, 0x1234}},
         {{"second.bin", Pattern(40000, 3), 0x20, 0x21, 0}}});
    ASSERT_EQ(paths.size(), 1u);
    Recorder r;
    ASSERT_EQ(Copy(paths[0], r), 1) << error_.code;
    EXPECT_EQ(error_.present, 0);
    EXPECT_THAT(r.Kinds(),
                ElementsAre(CAB_NOTIFY_CABINET_OPENED, CAB_NOTIFY_ENUMERATE, CAB_NOTIFY_FILE_START,
                            CAB_NOTIFY_FILE_DONE, CAB_NOTIFY_FILE_START, CAB_NOTIFY_FILE_DONE,
                            CAB_NOTIFY_FILE_START, CAB_NOTIFY_FILE_DONE, CAB_NOTIFY_ENUMERATE));
    const Event& opened = r.events[0];
    EXPECT_EQ(opened.text1, "");
    EXPECT_EQ(opened.text3, (dir_ / "").string());
    const Event& enumerate = r.events[1];
    EXPECT_EQ(enumerate.folderIndex, 3);
    const auto bytes = ReadAll(paths[0]);
    EXPECT_EQ(static_cast<uint32_t>(enumerate.size), ReadLe32ForTest(bytes, 16));

    const Event& start = r.events[4];
    EXPECT_EQ(start.text1, "sub\\small");
    EXPECT_EQ(start.size, 10);
    EXPECT_EQ(start.date, 0x4C48);
    EXPECT_EQ(start.time, 0x1234);
    EXPECT_EQ(start.attributes, 0x01);
    EXPECT_EQ(start.folderIndex, 0);
    EXPECT_EQ(r.events[6].folderIndex, 1);
    const Event& done = r.events[5];
    EXPECT_EQ(done.text1, "sub\\small");
    EXPECT_EQ(done.size, 0);
    EXPECT_EQ(done.attributes, 0x01);
    EXPECT_EQ(done.date, 0x4C48);

    EXPECT_EQ(ReadAll(dir_ / "out/big.bin"), big);
    EXPECT_EQ(ReadAll(dir_ / "out/sub/small"), small);
    EXPECT_EQ(ReadAll(dir_ / "out/second.bin"), Pattern(40000, 3));
    EXPECT_EQ(g_faults.liveAllocations, 0);
}

TEST_F(ReaderWalk, ExecAttributeArrivesAsSizeOneWithTheBitCleared) {
    const auto paths = Build({{"run", Pattern(5, 1), 0x61}});
    Recorder r;
    ASSERT_EQ(Copy(paths[0], r), 1);
    ASSERT_EQ(r.events[3].kind, CAB_NOTIFY_FILE_DONE);
    EXPECT_EQ(r.events[3].size, 1);
    EXPECT_EQ(r.events[3].attributes, 0x21);
    EXPECT_EQ(r.events[2].attributes, 0x61);  // FILE_START shows the stored word
}

TEST_F(ReaderWalk, ZeroSizeFileStartsAndFinishesWithoutWritingOrDecoding) {
    const auto paths = Build(std::vector<TestFile>{{"empty", {}}});
    Recorder r;
    ASSERT_EQ(Copy(paths[0], r, true), 1);
    EXPECT_THAT(r.Kinds(),
                ElementsAre(CAB_NOTIFY_CABINET_OPENED, CAB_NOTIFY_ENUMERATE, CAB_NOTIFY_FILE_START,
                            CAB_NOTIFY_FILE_DONE, CAB_NOTIFY_ENUMERATE));
    EXPECT_EQ(g_faults.writeCount, 0);
    // Only the new-cabinet request: no folder was selected, no block read.
    ASSERT_EQ(r.decrypts.size(), 1u);
    EXPECT_EQ(r.decrypts[0].kind, CAB_DECRYPT_NEW_CABINET);
    EXPECT_TRUE(fs::exists(dir_ / "out/empty"));
}

TEST_F(ReaderWalk, SkippedFilesAreNotWrittenAndTheirFoldersNotRead) {
    const auto paths = Build({{{"a", Pattern(50000, 1)}}, {{"b", Pattern(100, 2)}}});
    Recorder r;
    r.answer = [&](int kind, CabNotification* n) {
        if (kind == CAB_NOTIFY_FILE_START && std::string(n->text1) == "a") return 0;
        return DefaultAnswer(r, kind, n);
    };
    ASSERT_EQ(Copy(paths[0], r, true), 1);
    EXPECT_FALSE(fs::exists(dir_ / "out/a"));
    EXPECT_EQ(ReadAll(dir_ / "out/b"), Pattern(100, 2));
    int folders = 0;
    for (const auto& d : r.decrypts) {
        if (d.kind == CAB_DECRYPT_NEW_FOLDER) {
            folders += 1;
            EXPECT_EQ(d.folderIndex, 1);
        }
    }
    EXPECT_EQ(folders, 1);
}

TEST_F(ReaderWalk, MinusOneFromAnyNotificationAborts) {
    const auto paths = Build({{"a", Pattern(10, 1)}, {"b", Pattern(10, 2)}});
    for (int abortKind : {CAB_NOTIFY_CABINET_OPENED, CAB_NOTIFY_ENUMERATE, CAB_NOTIFY_FILE_START,
                          CAB_NOTIFY_FILE_DONE}) {
        SCOPED_TRACE(abortKind);
        g_faults = Faults{};
        error_ = {};
        Recorder r;
        r.answer = [&](int kind, CabNotification* n) {
            if (kind == abortKind) return -1;
            return DefaultAnswer(r, kind, n);
        };
        EXPECT_EQ(Copy(paths[0], r), 0);
        EXPECT_EQ(error_.code, CAB_ERROR_ABORTED);
        EXPECT_EQ(error_.present, 1);
        EXPECT_EQ(r.events.back().kind, abortKind);
        // Every handle the library opened or was given is closed again.
        EXPECT_EQ(g_faults.closeCount, abortKind == CAB_NOTIFY_FILE_DONE ? 3 : 2);
        EXPECT_EQ(g_faults.liveAllocations, 0);
    }
}

TEST_F(ReaderWalk, FileDoneAnsweringZeroIsAnOutputError) {
    const auto paths = Build({{"a", Pattern(10, 1)}, {"b", Pattern(10, 2)}});
    Recorder r;
    r.answer = [&](int kind, CabNotification* n) {
        if (kind == CAB_NOTIFY_FILE_DONE) {
            DefaultAnswer(r, kind, n);
            return 0;
        }
        return DefaultAnswer(r, kind, n);
    };
    EXPECT_EQ(Copy(paths[0], r), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_OUTPUT);
    EXPECT_EQ(r.Names(CAB_NOTIFY_FILE_START).size(), 1u);
}

TEST_F(ReaderWalk, ShortWriteIsAnOutputErrorAndTheLibraryClosesTheFile) {
    // Large enough for a second write (a stored folder is written a run of
    // blocks at a time).
    const auto paths = Build({{"a", Pattern(10 * 32768, 1)}});
    g_faults.writeShortAt = 1;
    Recorder r;
    EXPECT_EQ(Copy(paths[0], r), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_OUTPUT);
    EXPECT_EQ(r.Kinds().back(), CAB_NOTIFY_FILE_START);
    EXPECT_EQ(g_faults.closeCount, 3);  // the output file and both cabinet handles
}

TEST_F(ReaderWalk, EnumerateAnsweringZeroFilesEndsTheWalkAtOnce) {
    const auto paths = Build({{"a", Pattern(10, 1)}});
    Recorder r;
    r.answer = [&](int kind, CabNotification* n) {
        if (kind == CAB_NOTIFY_ENUMERATE) n->folderIndex = 0;
        return DefaultAnswer(r, kind, n);
    };
    EXPECT_EQ(Copy(paths[0], r), 1);
    EXPECT_THAT(r.Kinds(), ElementsAre(CAB_NOTIFY_CABINET_OPENED, CAB_NOTIFY_ENUMERATE));
}

// Moving the table position through ENUMERATE: the second file of a folder
// first, then the first. Going backwards in a folder decodes it again from
// its first block.
TEST_F(ReaderWalk, EnumerateMovesTheTablePositionAndBackwardsFilesReReadTheFolder) {
    const auto a = Pattern(40000, 1);
    const auto b = Pattern(40000, 2);
    const auto paths = Build({{"a", a}, {"b", b}});
    const auto bytes = ReadAll(paths[0]);
    const uint32_t table = ReadLe32ForTest(bytes, 16);
    const uint32_t second = table + 16 + 2;  // after entry "a"

    auto countBlocks = [](const Recorder& r) {
        int blocks = 0;
        for (const auto& d : r.decrypts) blocks += d.kind == CAB_DECRYPT_DATA_BLOCK;
        return blocks;
    };
    {
        Recorder inOrder;
        ASSERT_EQ(Copy(paths[0], inOrder, true), 1);
        EXPECT_EQ(countBlocks(inOrder), 3);  // 80000 bytes: three blocks, once
    }
    Recorder r;
    int enumerations = 0;
    r.answer = [&](int kind, CabNotification* n) {
        if (kind == CAB_NOTIFY_ENUMERATE) {
            enumerations += 1;
            if (enumerations == 1) {
                n->size = static_cast<int32_t>(second);
                n->folderIndex = 1;
            } else if (enumerations == 2) {
                n->size = static_cast<int32_t>(table);
                n->folderIndex = 1;
            } else {
                n->folderIndex = 0;
            }
        }
        return DefaultAnswer(r, kind, n);
    };
    ASSERT_EQ(Copy(paths[0], r, true), 1) << error_.code;
    EXPECT_EQ(r.Names(CAB_NOTIFY_FILE_START), (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(ReadAll(dir_ / "out/a"), a);
    EXPECT_EQ(ReadAll(dir_ / "out/b"), b);
    // b needs blocks 1 and 2 (reached from block 0); a then needs block 0 again
    // and block 1.
    EXPECT_EQ(countBlocks(r), 5);
}

TEST_F(ReaderWalk, EnumerateMoveThatFailsAborts) {
    const auto paths = Build({{"a", Pattern(10, 1)}});
    Recorder r;
    r.answer = [&](int kind, CabNotification* n) {
        if (kind == CAB_NOTIFY_ENUMERATE) n->size = -5;
        return DefaultAnswer(r, kind, n);
    };
    EXPECT_EQ(Copy(paths[0], r), 0);
    EXPECT_EQ(error_.code, CAB_ERROR_ABORTED);
}

TEST_F(ReaderWalk, DecryptCallbackSeesCabinetFolderAndBlocksAndMayAbort) {
    cab::CabinetWriterOptions options;
    options.headerReserveSize = 6;
    options.folderReserveSize = 3;
    options.blockReserveSize = 2;
    const auto data = Pattern(40000, 7);
    const auto paths = Build({{"a", data}}, options);
    Recorder r;
    ASSERT_EQ(Copy(paths[0], r, true), 1) << error_.code;
    ASSERT_EQ(r.decrypts.size(), 4u);
    EXPECT_EQ(r.decrypts[0].kind, CAB_DECRYPT_NEW_CABINET);
    EXPECT_EQ(r.decrypts[0].headerReserveSize, 6);
    EXPECT_NE(r.decrypts[0].headerReserve, nullptr);
    EXPECT_EQ(r.decrypts[1].kind, CAB_DECRYPT_NEW_FOLDER);
    EXPECT_EQ(r.decrypts[1].folderReserveSize, 3);
    EXPECT_NE(r.decrypts[1].folderReserve, nullptr);
    EXPECT_EQ(r.decrypts[2].kind, CAB_DECRYPT_DATA_BLOCK);
    EXPECT_EQ(r.decrypts[2].blockReserveSize, 2);
    EXPECT_EQ(r.decrypts[2].dataSize, 32768);
    EXPECT_EQ(r.decrypts[2].isSplit, 0);
    EXPECT_EQ(r.decrypts[3].dataSize, 40000 - 32768);
    EXPECT_EQ(r.decryptData[0], std::vector<uint8_t>(data.begin(), data.begin() + 32768));
    EXPECT_EQ(ReadAll(dir_ / "out/a"), data);

    // Changing the data in place changes what is written.
    Recorder changed;
    changed.outputDirectory = dir_ / "changed";
    changed.decryptAnswer = [](CabDecryptRequest* q) {
        if (q->kind == CAB_DECRYPT_DATA_BLOCK) static_cast<uint8_t*>(q->data)[0] ^= 0xFF;
        return 0;
    };
    ASSERT_EQ(Copy(paths[0], changed, true), 1);
    auto expected = data;
    expected[0] ^= 0xFF;
    expected[32768] ^= 0xFF;
    EXPECT_EQ(ReadAll(dir_ / "changed/a"), expected);

    for (int kind : {CAB_DECRYPT_NEW_CABINET, CAB_DECRYPT_NEW_FOLDER, CAB_DECRYPT_DATA_BLOCK}) {
        Recorder aborting;
        aborting.decryptAnswer = [kind](CabDecryptRequest* q) { return q->kind == kind ? -1 : 1; };
        error_ = {};
        EXPECT_EQ(Copy(paths[0], aborting, true), 0);
        EXPECT_EQ(error_.code, CAB_ERROR_ABORTED);
    }
}

TEST_F(ReaderWalk, ContextServesSeveralCopiesAndKeepsNothingOpen) {
    const auto paths = Build({{"a", Pattern(1000, 1)}});
    CabContext* context = NewContext();
    for (int i = 0; i < 3; ++i) {
        Recorder r;
        EXPECT_EQ(CopyWith(context, paths[0], r), 1);
    }
    EXPECT_EQ(g_faults.openCount, 3 * 3);   // two cabinet handles and the output, each time
    EXPECT_EQ(g_faults.closeCount, 3 * 2);  // the library closes its own two
    EXPECT_EQ(CabDestroy(context), 1);
    EXPECT_EQ(g_faults.liveAllocations, 0);
}

}  // namespace
}  // namespace cab_test
