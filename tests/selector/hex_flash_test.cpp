// Intel HEX files read into and written from the image, and flash mode against a simulated
// PIC18 loader.
#include "selector_fixture.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace selector;
using namespace selector_test;

namespace {

namespace fs = std::filesystem;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class HexRead : public SelectorTest {
protected:
    oEEPMem Read(const std::string& text, std::uint32_t start = 0, std::uint32_t length = 256,
                 std::uint32_t size = 256, bool* result = nullptr) {
        oEEPMem image = Image(size);
        bool ok = ReadImageFromFile(image, dir.Write("in.hex", text), start, length);
        if (result != nullptr) {
            *result = ok;
        } else {
            EXPECT_TRUE(ok) << image.ErrorText;
        }
        return image;
    }
};

TEST_F(HexRead, ADataRecord) {
    oEEPMem image = Read(":03004000010203B7\n");
    EXPECT_EQ(image.Data[0x40], 0x01);
    EXPECT_EQ(image.Data[0x41], 0x02);
    EXPECT_EQ(image.Data[0x42], 0x03);
    EXPECT_EQ(MarkedAddresses(image), (std::vector<int>{0x40, 0x41, 0x42}));
    EXPECT_EQ(image.Used, 0x43);
    EXPECT_EQ(image.ErrorText, "");
    EXPECT_FALSE(image.EndSeen);
}

TEST_F(HexRead, AWrongChecksumKeepsTheDataAndSaysWhatWasExpected) {
    oEEPMem image = Read(":03004000010203BF\n:00000001FF\n");
    EXPECT_EQ(image.Data[0x42], 0x03);
    EXPECT_EQ(image.Marks[0x42], 1);
    EXPECT_EQ(image.ErrorText, "wrong checksum in hexfile, B7 expected");
    EXPECT_TRUE(image.EndSeen);
}

TEST_F(HexRead, TheEndRecordEndsTheRead) {
    oEEPMem image = Read(":00000001FF\n:03004000010203B7\n");
    EXPECT_TRUE(image.EndSeen);
    EXPECT_TRUE(MarkedAddresses(image).empty());
    EXPECT_EQ(image.Used, 0);
    EXPECT_EQ(image.ErrorText, "");

    // EndSeen is for reads from address 0 only.
    image = Read(":00000001FF\n", 0x10, 4);
    EXPECT_FALSE(image.EndSeen);
}

TEST_F(HexRead, ARecordRunningPastTheImageKeepsWhatFits) {
    oEEPMem image = Read(":1000F800000102030405060708090A0B0C0D0E0F00\n");
    EXPECT_EQ(MarkedAddresses(image).size(), 8u);
    EXPECT_EQ(image.Data[0xF8], 0x00);
    EXPECT_EQ(image.Data[0xFF], 0x07);
    EXPECT_EQ(image.Used, 256);
    // The ninth data byte stands where the checksum is read.
    EXPECT_EQ(image.ErrorText, "wrong checksum in hexfile, DC expected");
}

TEST_F(HexRead, ALineWithoutColonEndsTheReadWithFalse) {
    bool ok = true;
    oEEPMem image = Read(":0100100055\n\n:00000001FF\n", 0, 256, 256, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(image.ErrorText, "start character wrong");
    EXPECT_EQ(image.Data[0x10], 0x55); // records before it stay
    EXPECT_FALSE(image.EndSeen);

    image = Read(" :00000001FF\n", 0, 256, 256, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(image.ErrorText, "start character wrong");
}

TEST_F(HexRead, AWindowTakesItsPartOfARecordAndEndsTheRead) {
    oEEPMem image = Read(":10001000101112131415161718191A1B1C1D1E1F68\n"
                         ":01000000AA55\n",
                         0x10, 4);
    EXPECT_EQ(MarkedAddresses(image), (std::vector<int>{0x10, 0x11, 0x12, 0x13}));
    EXPECT_EQ(image.Data[0x13], 0x13);
    EXPECT_EQ(image.Used, 0x14);
    // 0x14 is read as the checksum.
    EXPECT_EQ(image.ErrorText, "wrong checksum in hexfile, 9A expected");
    EXPECT_EQ(image.Marks[0], 0); // the read ended before the next record
}

TEST_F(HexRead, BytesBelowTheWindowAreNotTaken) {
    oEEPMem image = Read(":10000000000102030405060708090A0B0C0D0E0F78\n", 0x0C, 100);
    EXPECT_EQ(MarkedAddresses(image), (std::vector<int>{0x0C, 0x0D, 0x0E, 0x0F}));
    EXPECT_EQ(image.ErrorText, "");
}

TEST_F(HexRead, ShortLinesAndStrangeDigitsStayInsideTheLine) {
    // The second data byte is missing, and so is the checksum: both read as 0.
    oEEPMem image = Read(":02004000BE\n");
    EXPECT_EQ(image.ErrorText, "unexpected end of record");
    EXPECT_EQ(image.Data[0x40], 0xBE);
    EXPECT_EQ(image.Data[0x41], 0x00);

    // A record that declares 255 bytes on a short line.
    image = Read(":FF00000002");
    EXPECT_EQ(image.Used, 255);
    EXPECT_EQ(image.Data[0], 0x02);
    EXPECT_EQ(image.Data[254], 0x00);
    EXPECT_EQ(image.ErrorText, "wrong checksum in hexfile, FF expected");

    // Lower case is read; a character that is no hex digit counts as 9 below "A", else 15.
    image = Read(":02002000abZ/ee\n");
    EXPECT_EQ(image.Data[0x20], 0xAB);
    EXPECT_EQ(image.Data[0x21], 0xF9);
    EXPECT_EQ(image.ErrorText, "wrong checksum in hexfile, 3A expected");

    // Only a colon.
    image = Read(":\n");
    EXPECT_EQ(image.ErrorText, "unexpected end of record");
    EXPECT_TRUE(image.EndSeen);
}

TEST_F(HexRead, RecordsBeyondTheImageWriteNothing) {
    oEEPMem image = Read(":02F000001234C8\n:0200000056781E\n", 0, 0xFFFF, 16);
    EXPECT_TRUE(MarkedAddresses(image).empty());
    EXPECT_EQ(image.Used, 16);
    EXPECT_TRUE(image.EndSeen); // the record past the image ends the read
    EXPECT_EQ(image.Data.size(), 16u);
}

TEST_F(HexRead, WindowsDoNotWrapRoundAtTheTopOfTheAddressRange) {
    oEEPMem image = Read(":02FFF0001234C9\n:00000001FF\n", 0xFFF0, 0xFFFF, 0xFFFF);
    EXPECT_EQ(image.Data[0xFFF0], 0x12);
    EXPECT_EQ(image.Data[0xFFF1], 0x34);
    EXPECT_EQ(image.Used, 0xFFF2);
    EXPECT_EQ(image.ErrorText, "");
}

TEST_F(HexRead, WindowsLineEndsAndAMissingLastLineEnd) {
    oEEPMem image = Read(":03004000010203B7\r\n:0100500042"
                         "6D\r\n:00000001FF");
    EXPECT_EQ(image.Data[0x50], 0x42);
    EXPECT_EQ(image.ErrorText, "");
    EXPECT_TRUE(image.EndSeen);

    // Without an end record the read stops at the end of the file.
    image = Read(":03004000010203B7");
    EXPECT_EQ(image.Used, 0x43);
    EXPECT_FALSE(image.EndSeen);
}

TEST_F(HexRead, ExtendedAddressRecordsKeepUpperMemoryOutOfTheImage) {
    // A PIC18 file: code at 0, configuration words at 0x300000.
    oEEPMem image = Read(":020000040000FA\n"
                         ":04000000AABBCCDDEE\n"
                         ":020000040030CA\n"
                         ":0E000000FFFFFFFFFFFFFFFFFFFFFFFFFFFF00\n"
                         ":00000001FF\n",
                         0, 0xFFFF, 0xFFFF);
    EXPECT_EQ(MarkedAddresses(image), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(image.Data[0], 0xAA);
    EXPECT_EQ(image.Data[3], 0xDD);
    EXPECT_EQ(image.Used, 4);
    EXPECT_EQ(image.ErrorText, "");
    EXPECT_TRUE(image.EndSeen);
    EXPECT_EQ(image.LeftOutHighRecords, 1u);
    EXPECT_EQ(image.LeftOutEepromRecords, 0u);

    // A PIC18's data EEPROM is counted apart; a record running past 0xFFFF counts as above
    // 64 KiB, and the whole-range image keeps its byte at 0xFFFF.
    image = Read(":0200000400F00A\n:0100000033CC\n:0100010044BA\n"
                 ":020000040000FA\n:01FFFF0077"
                 "8A\n:00000001FF\n",
                 0, 0x10000, 0x10000);
    EXPECT_EQ(MarkedAddresses(image), std::vector<int>{0xFFFF});
    EXPECT_EQ(image.Data[0xFFFF], 0x77);
    EXPECT_EQ(image.Used, 0x10000u);
    EXPECT_EQ(image.LeftOutEepromRecords, 2u);
    EXPECT_EQ(image.LeftOutHighRecords, 0u);
    image = Read(":02FFFF00AABB9B\n", 0, 0x10000, 0x10000);
    EXPECT_EQ(MarkedAddresses(image), std::vector<int>{0xFFFF});
    EXPECT_EQ(image.LeftOutHighRecords, 1u);

    // Segment addresses below 64 KiB move the records; a bad checksum is reported as usual.
    image = Read(":020000020010EC\n:0100000077"
                 "88\n:02000002F000FC\n:0100000066"
                 "99\n",
                 0, 0xFFFF, 0xFFFF);
    EXPECT_EQ(MarkedAddresses(image), std::vector<int>{0x100});
    EXPECT_EQ(image.Data[0x100], 0x77);
    EXPECT_EQ(image.ErrorText, "wrong checksum in hexfile, 0C expected");
}

TEST_F(HexRead, AMissingFileOrAFolder) {
    oEEPMem image = Image(256);
    EXPECT_FALSE(ReadImageFromFile(image, "", 0, 256));
    EXPECT_EQ(image.ErrorText, "inputfile  not found");
    const std::string missing = dir.path() + "/none.hex";
    EXPECT_FALSE(ReadImageFromFile(image, missing, 0, 256));
    EXPECT_EQ(image.ErrorText, "inputfile " + missing + " not found");
    EXPECT_FALSE(ReadImageFromFile(image, dir.path(), 0, 256));
    EXPECT_EQ(image.ErrorText, "inputfile " + dir.path() + " not found");
}

class HexWrite : public SelectorTest {};

TEST_F(HexWrite, TwoBytesAtSixteen) {
    oEEPMem image = Image(256, 0x10, {0x12, 0x34});
    const std::string out = dir.path() + "/out.hex";
    ASSERT_TRUE(WriteImageToFile(image, out));
    EXPECT_EQ(ReadText(out), ":020010001234A8\n:00000001FF\n");
    EXPECT_EQ(image.ErrorText, "");
}

TEST_F(HexWrite, RecordsStopAtSixteenByteBoundariesGapsAndUsed) {
    oEEPMem image = Image(256);
    for (int a = 0x0C; a < 0x24; ++a) {
        image.Data[a] = static_cast<std::uint8_t>(a);
        image.Marks[a] = 1;
    }
    image.Marks[0x20] = 0x80; // not takeable
    image.Marks[0x30] = 1;
    image.Data[0xAB] = 0xCD;
    image.Marks[0xAB] = 0x7F;
    image.Used = 0xAC;
    const std::string out = dir.path() + "/out.hex";
    ASSERT_TRUE(WriteImageToFile(image, out));
    EXPECT_EQ(ReadText(out), ":04000C000C0D0E0FBA\n"
                             ":10001000101112131415161718191A1B1C1D1E1F68\n"
                             ":03002100212223"
                             "76\n"
                             ":01003000"
                             "00CF\n"
                             ":0100AB00CD87\n"
                             ":00000001FF\n");

    // What was written reads back to the same bytes and marks.
    oEEPMem back = Image(256);
    ASSERT_TRUE(ReadImageFromFile(back, out, 0, 256));
    EXPECT_EQ(back.ErrorText, "");
    for (int a = 0; a < 256; ++a) {
        const bool taken = image.Marks[a] >= 1 && image.Marks[a] <= 127;
        EXPECT_EQ(back.Marks[a], taken ? 1 : 0) << a;
        if (taken) {
            EXPECT_EQ(back.Data[a], image.Data[a]) << a;
        }
    }
    EXPECT_EQ(back.Used, 0xAC);
    EXPECT_TRUE(back.EndSeen);

    // Nothing marked: only the end record.
    oEEPMem empty = Image(256);
    empty.Used = 256;
    ASSERT_TRUE(WriteImageToFile(empty, out));
    EXPECT_EQ(ReadText(out), ":00000001FF\n");
}

TEST_F(HexWrite, AnEmptyNameIsAFileThatCannotBeWrittenNeverTheMc) {
    Bench("device MC\n  appl_id 0x12\nend\nchannel 1 MC\n");
    const auto before = bench->Sim().DeviceAt(1)->Eeprom();
    oEEPMem image = Image(256, 0x10, {0x12, 0x34});
    EXPECT_FALSE(WriteImageToFile(image, ""));
    EXPECT_EQ(image.ErrorText, "outputfile  could not be written");
    // Flash mode concerns the MC; a file is a file all the same.
    image.FlashMode = true;
    const std::string out = dir.path() + "/out.hex";
    ASSERT_TRUE(WriteImageToFile(image, out));
    EXPECT_EQ(ReadText(out), ":020010001234A8\n:00000001FF\n");
    EXPECT_TRUE(bench->Sent().empty());
    EXPECT_EQ(bench->Sim().DeviceAt(1)->Eeprom(), before);
}

TEST_F(HexWrite, AFileWithoutWritePermissionIsLeftAsItWas) {
    // Decided by the mode bits, so that it holds for root too.
    const std::pair<mode_t, bool> cases[] = {{0444, false}, {0400, false}, {0555, false},
                                             {0000, false}, {0200, true},  {0644, true}};
    const std::string old = ":0100000011EE\n:00000001FF\n";
    for (const auto& [mode, writable] : cases) {
        const std::string target = dir.Write("ro.hex", old);
        ASSERT_EQ(chmod(target.c_str(), mode), 0);
        const std::string link = dir.path() + "/ro-link.hex";
        fs::remove(link);
        fs::create_symlink("ro.hex", link);
        for (const std::string& name : {target, link}) {
            oEEPMem image = Image(256, 0x10, {0x12, 0x34});
            EXPECT_EQ(WriteImageToFile(image, name), writable) << std::oct << mode << " " << name;
            if (!writable) {
                EXPECT_EQ(image.ErrorText, "outputfile " + name + " could not be written");
            }
        }
        struct stat st {};
        ASSERT_EQ(stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, mode);
        ASSERT_EQ(chmod(target.c_str(), 0600), 0);
        EXPECT_EQ(ReadText(target), writable ? ":020010001234A8\n:00000001FF\n" : old)
            << std::oct << mode;
        EXPECT_TRUE(fs::is_symlink(link));
    }
}

TEST_F(HexWrite, AFileThatCannotBeWrittenLeavesTheOldOneAlone) {
    oEEPMem image = Image(256, 0x10, {0x12, 0x34});
    const std::string inMissingFolder = dir.path() + "/no/such/folder/out.hex";
    EXPECT_FALSE(WriteImageToFile(image, inMissingFolder));
    EXPECT_EQ(image.ErrorText, "outputfile " + inMissingFolder + " could not be written");
    EXPECT_FALSE(fs::exists(inMissingFolder));

    // A full disk, as far as this process is concerned: a file size limit.
    const std::string out = dir.Write("old.hex", ":0100000011EE\n:00000001FF\n");
    oEEPMem big = Image(256);
    std::fill(big.Marks.begin(), big.Marks.end(), 1);
    big.Used = 256;
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    auto* previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = previous;
    small.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = WriteImageToFile(big, out);
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(big.ErrorText, "outputfile " + out + " could not be written");
    EXPECT_EQ(ReadText(out), ":0100000011EE\n:00000001FF\n");
    // No temporary file is left behind.
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST_F(HexWrite, ALinkStaysALinkAndPermissionsAreKept) {
    const std::string target = dir.Write("real.hex", "old\n");
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    const std::string link = dir.path() + "/link.hex";
    fs::create_symlink("real.hex", link);
    oEEPMem image = Image(256, 0x10, {0x12, 0x34});
    ASSERT_TRUE(WriteImageToFile(image, link));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadText(target), ":020010001234A8\n:00000001FF\n");
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// ----------------------------------------------------------------------------------------
// Flash mode

std::string Pic18(const std::string& code, const std::string& extra = "") {
    return "device P\n  appl_id 0x12\n  loader " + code + "\n" + extra + "end\nchannel 1 P\n";
}

class Flash : public SelectorTest {
protected:
    Flash() { McSys().PrintMask = 1; }
};

TEST_F(Flash, APic18IsProgrammedInBlocksAfterItsIdentification) {
    Bench(Pic18("0x50"));
    oEEPMem image = Image(0xFFFF);
    for (int a = 0; a < 0x25; ++a) {
        image.Data[a] = static_cast<std::uint8_t>(0xA0 ^ a);
        image.Marks[a] = 1;
    }
    image.Used = 0x25;
    image.FlashMode = true;
    image.Verbose = true;
    ASSERT_TRUE(WriteImageToMc(image)) << image.ErrorText;
    EXPECT_TRUE(Fatals().empty());
    const auto& flash = bench->Sim().DeviceAt(1)->Flash();
    const auto& written = bench->Sim().DeviceAt(1)->FlashWritten();
    for (int a = 0; a < 0x25; ++a) {
        EXPECT_EQ(flash[a], 0xA0 ^ a) << a;
    }
    EXPECT_FALSE(written[0x25]);
    // The query, then blocks of 16, 16 and 5 bytes.
    const Bytes sent = bench->Sent();
    ASSERT_GE(sent.size(), 1u + 3u * 4u + 0x25u);
    EXPECT_EQ(sent[0], 0xA5);
    EXPECT_EQ(sent[1], 16);
    EXPECT_EQ(sent[1 + 20], 16);
    EXPECT_EQ(sent[1 + 20 + 2], 0x10);
    EXPECT_EQ(sent[1 + 40], 5);
    EXPECT_EQ(comlink::BaudRate(), 9600);
    // No banner; the device line and the statistics.
    EXPECT_EQ(Out().rfind("connected to device : Lorpeth 19200 Baud (PIC 18Fxx2 loading)\n", 0), 0u)
        << Out();
    EXPECT_NE(Out().find("3 records processed\n37 bytes transfered ("), std::string::npos) << Out();
    EXPECT_EQ(image.ErrorText, "");
}

TEST_F(Flash, TheOffsetMovesTheBlocks) {
    Bench(Pic18("0x57"));
    oEEPMem image = Image(256, 0, {1, 2, 3});
    image.AddrOffset = 0x0800;
    image.FlashMode = true;
    ASSERT_TRUE(WriteImageToMc(image));
    const auto& flash = bench->Sim().DeviceAt(1)->Flash();
    EXPECT_EQ(flash[0x0800], 1);
    EXPECT_EQ(flash[0x0802], 3);
    EXPECT_FALSE(bench->Sim().DeviceAt(1)->FlashWritten()[0]);
}

TEST_F(Flash, OnlyPic18DevicesAreProgrammed) {
    Bench(Pic18("0x31"));
    oEEPMem image = Image(256, 0, {1, 2, 3});
    image.FlashMode = true;
    EXPECT_FALSE(WriteImageToMc(image));
    EXPECT_EQ(image.ErrorText, "Supported are only PIC18 devices");
    EXPECT_EQ(bench->Sent(), Bytes{0xA5});
    EXPECT_FALSE(bench->Sim().DeviceAt(1)->FlashWritten()[0]);
    EXPECT_TRUE(Fatals().empty());
}

TEST_F(Flash, CodeZeroIsAskedForAgainAndThenFatal) {
    Bench(Pic18("0x00"));
    oEEPMem image = Image(256, 0, {1});
    image.FlashMode = true;
    EXPECT_FALSE(WriteImageToMc(image));
    EXPECT_EQ(Fatals(), std::vector<std::string>{"connected to unknown device : $00"});
    EXPECT_EQ(bench->Sent(), (Bytes{0xA5, 0xA5}));
}

TEST_F(Flash, ABadStatusIsRetriedAndTheFourthIsFatal) {
    Bench(Pic18("0x50") + "fault checksum every 1\n");
    oEEPMem image = Image(256, 0, {1, 2});
    image.FlashMode = true;
    const auto start = NowMs();
    EXPECT_FALSE(WriteImageToMc(image));
    EXPECT_EQ(Fatals(), std::vector<std::string>{"CheckSum from MC flash prog is invalid (1)"});
    EXPECT_GE(NowMs() - start, 3u * 150u);
    const Bytes block{0x02, 0x00, 0x00, 0x01, 0x02, 0xFB};
    Bytes expected{0xA5};
    for (int i = 0; i < 4; ++i) {
        expected.insert(expected.end(), block.begin(), block.end());
    }
    EXPECT_EQ(bench->Sent(), expected);
    EXPECT_EQ(image.Size, 0);

    // One spoilt status: the block is sent again and the transfer succeeds.
    Bench(Pic18("0x50") + "fault checksum every 2\n");
    image = Image(256, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17});
    image.FlashMode = true;
    ASSERT_TRUE(WriteImageToMc(image));
    EXPECT_EQ(bench->Sim().DeviceAt(1)->Flash()[16], 17);
    EXPECT_EQ(image.ErrorText, "");
}

TEST_F(Flash, ADryRunProgramsNothing) {
    Bench(Pic18("0x31"));
    McSys().NoLink = true;
    McSys().ProcessorFile = dir.Write("cpu.asm", "PROCESSOR 18F1320\n");
    oEEPMem image = Image(256, 0, {1, 2, 3});
    image.FlashMode = true;
    ASSERT_TRUE(WriteImageToMc(image));
    EXPECT_TRUE(bench->Sent().empty());
    EXPECT_EQ(McSys().DeviceCode, 0x57);
}

} // namespace
