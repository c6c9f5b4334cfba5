// The EEPROM image moved to and from the simulated MC over the in-memory link: the bytes on
// the wire, block cutting, checksums, byte mode, the handshake answers, retries and the fatal
// stops with their texts.
#include "selector_fixture.h"

#include <algorithm>

using namespace selector;
using namespace selector_test;

namespace {

// EEPROM contents of the simulated MC: address a holds a ^ 0x5A, address 255 holds 0x22.
std::string EepromLines() {
    std::string text = "  eeprom 0";
    for (int a = 0; a < 255; ++a) {
        text += " " + std::to_string(a ^ 0x5A);
    }
    return text + "\n  eeprom 255 0x22\n";
}

std::uint8_t At(int a) {
    return a == 255 ? 0x22 : static_cast<std::uint8_t>(a ^ 0x5A);
}

std::string Device(const std::string& mode, const std::string& extra = "") {
    return "device MC\n  appl_id 0x12\n  eeprom_mode " + mode + "\n" + EepromLines() + extra +
           "end\nchannel 1 MC\n";
}

// One block read as the PC puts it on the wire: the handshake, the request with its check
// byte and the 0x00 after every data byte.
Bytes ReadRequest(int address, int n) {
    auto hi = static_cast<std::uint8_t>(address >> 8);
    auto lo = static_cast<std::uint8_t>(address & 0xFF);
    Bytes b{0xF8, static_cast<std::uint8_t>(0x80 + n), hi, lo,
            static_cast<std::uint8_t>(0 - (n + hi + lo))};
    b.insert(b.end(), static_cast<std::size_t>(n), 0x00);
    return b;
}

// One block write: handshake, count, address, data and the byte that makes the sum 0.
Bytes WriteRequest(int address, const Bytes& data) {
    Bytes b{0xF8, static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(address >> 8),
            static_cast<std::uint8_t>(address & 0xFF)};
    b.insert(b.end(), data.begin(), data.end());
    std::uint8_t sum = 0;
    for (std::size_t i = 1; i < b.size(); ++i) {
        sum = static_cast<std::uint8_t>(sum + b[i]);
    }
    b.push_back(static_cast<std::uint8_t>(0 - sum));
    return b;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

std::vector<int> Range(int from, int to) {
    std::vector<int> r;
    for (int a = from; a <= to; ++a) {
        r.push_back(a);
    }
    return r;
}

class EepromRead : public SelectorTest {};

TEST_F(EepromRead, TheByteAt255IsOneBlockOfOne) {
    Bench(Device("block"));
    oEEPMem image = Image(256);
    ASSERT_TRUE(ReadImageFromMc(image, 255, 1));
    EXPECT_EQ(bench->Sent(), (Bytes{0xF8, 0x81, 0x00, 0xFF, 0x00, 0x00}));
    // The sum byte continues the request's sum: 1 + 0 + 0xFF + 0x22.
    EXPECT_EQ(bench->Received(), (Bytes{0x07, 0x22, 0x22}));
    EXPECT_EQ(image.Used, 256);
    EXPECT_EQ(MarkedAddresses(image), std::vector<int>{255});
    EXPECT_EQ(image.Data[255], 0x22);
    EXPECT_EQ(image.ErrorText, "");
    EXPECT_FALSE(image.ByteMode);
    EXPECT_EQ(comlink::BaudRate(), 9600);
    EXPECT_TRUE(Fatals().empty());
}

TEST_F(EepromRead, AWindowIsCutAtSixteenByteBoundaries) {
    Bench(Device("block"));
    oEEPMem image = Image(256);
    image.Marks[100] = 1; // marks only grow between InitImage calls
    image.Used = 200;     // and Used is cut back to the start first
    ASSERT_TRUE(ReadImageFromMc(image, 5, 40));
    EXPECT_EQ(bench->Sent(), Join({ReadRequest(5, 11), ReadRequest(16, 16), ReadRequest(32, 13)}));
    EXPECT_EQ(image.Used, 45);
    std::vector<int> expected = Range(5, 44);
    expected.push_back(100);
    EXPECT_EQ(MarkedAddresses(image), expected);
    for (int a = 5; a < 45; ++a) {
        EXPECT_EQ(image.Data[a], At(a)) << a;
    }
}

TEST_F(EepromRead, AWindowPastTheImageEndsAtItsSize) {
    Bench(Device("block"));
    oEEPMem image = Image(40);
    ASSERT_TRUE(ReadImageFromMc(image, 30, 100));
    EXPECT_EQ(bench->Sent(), Join({ReadRequest(30, 2), ReadRequest(32, 8)}));
    EXPECT_EQ(image.Used, 40);
    EXPECT_EQ(MarkedAddresses(image), Range(30, 39));

    // Starting beyond the image reads nothing and does not hang.
    bench->ClearWire();
    ASSERT_TRUE(ReadImageFromMc(image, 41, 10));
    EXPECT_TRUE(bench->Sent().empty());
}

TEST_F(EepromRead, TheLastBlockOfAWholeRangeImageHoldsAddressFFFFAndEndsTheRead) {
    Bench(Device("block"));
    oEEPMem image = Image(0x10000);
    image.AddrMode = 2;
    image.AddrOffset = static_cast<std::uint16_t>(0x10000 - 0xFF00); // back onto 0x00..0xFF
    ASSERT_TRUE(ReadImageFromMc(image, 0xFFF0, 0x10000));
    EXPECT_EQ(image.Used, 0x10000u);
    EXPECT_EQ(MarkedAddresses(image), Range(0xFFF0, 0xFFFF));
    EXPECT_EQ(image.Data[0xFFFF], At(0xFF));
}

TEST_F(EepromRead, AddressModeTwoAddsTheOffsetToTheRequestOnly) {
    Bench(Device("block"));
    oEEPMem image = Image(256);
    image.AddrMode = 2;
    image.AddrOffset = 0x20;
    ASSERT_TRUE(ReadImageFromMc(image, 0x10, 2));
    EXPECT_EQ(bench->Sent(), (Bytes{0xF8, 0x82, 0x00, 0x30, 0xCE, 0x00, 0x00}));
    EXPECT_EQ(MarkedAddresses(image), (std::vector<int>{0x10, 0x11}));
    EXPECT_EQ(image.Data[0x10], At(0x30));
    EXPECT_EQ(image.Data[0x11], At(0x31));

    // Mode 1 ignores the offset.
    bench->ClearWire();
    image.AddrMode = 1;
    ASSERT_TRUE(ReadImageFromMc(image, 0x10, 1));
    EXPECT_EQ(bench->Sent(), ReadRequest(0x10, 1));
    EXPECT_EQ(image.Data[0x10], At(0x10));
}

TEST_F(EepromRead, A19200HandshakeRunsTheBlockFastAndReturnsTo9600) {
    Bench(Device("block19200"));
    oEEPMem image = Image(256);
    ASSERT_TRUE(ReadImageFromMc(image, 0, 32));
    EXPECT_EQ(bench->Sent(), Join({ReadRequest(0, 16), ReadRequest(16, 16)}));
    EXPECT_EQ(comlink::BaudRate(), 9600);
    for (int a = 0; a < 32; ++a) {
        EXPECT_EQ(image.Data[a], At(a)) << a;
    }
}

TEST_F(EepromRead, ByteModeReadsAddressByAddressUpTo47) {
    Bench(Device("byte"));
    oEEPMem image = Image(256);
    ASSERT_TRUE(ReadImageFromMc(image, 10, 12));
    Bytes expected{0xF8};
    for (int a = 10; a < 16; ++a) {
        expected.push_back(static_cast<std::uint8_t>(0x80 + a));
    }
    expected.push_back(0xF8);
    for (int a = 16; a < 22; ++a) {
        expected.push_back(static_cast<std::uint8_t>(0x80 + a));
    }
    EXPECT_EQ(bench->Sent(), expected);
    EXPECT_TRUE(image.ByteMode);
    EXPECT_EQ(MarkedAddresses(image), Range(10, 21));
    for (int a = 10; a < 22; ++a) {
        EXPECT_EQ(image.Data[a], At(a)) << a;
    }

    // A block that reaches address 48 is refused after its handshake.
    bench->ClearWire();
    EXPECT_FALSE(ReadImageFromMc(image, 40, 10));
    EXPECT_EQ(Fatals(), std::vector<std::string>{"max 48 EEP bytes readable"});
    Bytes sent = bench->Sent();
    EXPECT_EQ(sent.size(), 1u + 8u + 1u);
    EXPECT_EQ(sent.back(), 0xF8);
    // The fatal stop leaves the link closed and the image released.
    EXPECT_TRUE(comlink::LinkDown());
    EXPECT_EQ(image.Size, 0);
    EXPECT_TRUE(image.Data.empty());
}

TEST_F(EepromRead, AWrongSumByteIsFatalWithBothValues) {
    Bench(Device("block", "") + "fault checksum every 1\n");
    oEEPMem image = Image(256);
    EXPECT_FALSE(ReadImageFromMc(image, 255, 1));
    EXPECT_EQ(Fatals(), std::vector<std::string>{"wrong checksum from MC: $23, $22 expected"});

    // The same with the values of a board that sends 0xA5 where 0x3C is due: one byte at
    // 0x10 (sum 1 + 0x00 + 0x10) holding 0x2B.
    bench.reset();
    int step = 0;
    ScriptedLink link([&](std::uint8_t b) -> std::optional<std::uint8_t> {
        ++step;
        if (b == 0xF8 && step == 1) {
            return 0x07;
        }
        if (step == 5) {
            return 0x2B;
        }
        if (step == 6) {
            return 0xA5;
        }
        return std::nullopt;
    });
    oEEPMem scripted = Image(256);
    EXPECT_FALSE(ReadImageFromMc(scripted, 0x10, 1));
    EXPECT_EQ(link.Sent(), (Bytes{0xF8, 0x81, 0x00, 0x10, 0xEF, 0x00}));
    ASSERT_EQ(Fatals().size(), 2u);
    EXPECT_EQ(Fatals()[1], "wrong checksum from MC: $A5, $3C expected");
}

TEST_F(EepromRead, MissingDataOrSumBytesAreFatal) {
    // Replies: 0x07, then the data bytes; the fifth reply (the fourth data byte) never comes.
    Bench(Device("block") + "fault drop every 5\n");
    oEEPMem image = Image(256);
    const auto start = NowMs();
    EXPECT_FALSE(ReadImageFromMc(image, 0, 16));
    EXPECT_EQ(Fatals(),
              std::vector<std::string>{"missing bytes from MC: 3 instead of 16 received"});
    EXPECT_GE(NowMs() - start, 500u);

    Bench(Device("block") + "fault drop every 3\n");
    image = Image(256);
    EXPECT_FALSE(ReadImageFromMc(image, 7, 1));
    ASSERT_EQ(Fatals().size(), 2u);
    EXPECT_EQ(Fatals()[1], "no checksum from MC");
}

TEST_F(EepromRead, AMissingHandshakeAnswerGetsOneResetAndOneMoreTry) {
    // The MC is off the line for the first 1.2 s: the first handshake goes unanswered, the
    // reset and the pause bring the second one past that.
    Bench(Device("block") + "fault vanish at 0 for 1200\n");
    oEEPMem image = Image(256);
    const auto start = NowMs();
    ASSERT_TRUE(ReadImageFromMc(image, 0, 2));
    EXPECT_GE(NowMs() - start, 500u + 130u + 150u + 500u);
    EXPECT_EQ(image.Data[0], At(0));
    EXPECT_EQ(image.Data[1], At(1));
    EXPECT_TRUE(Fatals().empty());

    // Only one retry per read: an MC that never answers ends it.
    Bench(Device("none"));
    image = Image(256);
    EXPECT_FALSE(ReadImageFromMc(image, 0, 2));
    EXPECT_EQ(bench->Sent(), (Bytes{0xF8, 0xF8}));
    EXPECT_EQ(Fatals(), std::vector<std::string>{"no answer from MCU, can not access EEProm"});
}

TEST_F(EepromRead, AnotherHandshakeAnswerIsFatal) {
    ScriptedLink link([](std::uint8_t b) -> std::optional<std::uint8_t> {
        if (b == 0xF8) {
            return 0x55;
        }
        return std::nullopt;
    });
    oEEPMem image = Image(256);
    EXPECT_FALSE(ReadImageFromMc(image, 0, 1));
    EXPECT_EQ(Fatals(),
              std::vector<std::string>{"MCU returns wrong code or is busy, can not access EEProm"});
    EXPECT_EQ(link.Sent(), Bytes{0xF8});
}

TEST_F(EepromRead, VerboseReadsWriteTheirBanner) {
    Bench(Device("block"));
    oEEPMem image = Image(256);
    image.Verbose = true;
    ASSERT_TRUE(ReadImageFromMc(image, 0, 1));
    EXPECT_EQ(Out(),
              " \nRead data via COM from MC.EEP - please wait\n" + std::string(57, '-') + "\n\n");
}

class EepromWrite : public SelectorTest {};

TEST_F(EepromWrite, AnImageWithoutMarksSendsNothing) {
    Bench(Device("block"));
    oEEPMem image = Image(256);
    image.Used = 256;
    image.Verbose = true;
    EXPECT_TRUE(WriteImageToMc(image));
    EXPECT_TRUE(bench->Sent().empty());
    EXPECT_EQ(Out(), " \nLoad Hexfile via COM to MC.EEP - please wait\n" + std::string(60, '-') +
                         "\n\n0 records processed\n0 bytes transfered (0 bytes/sec)\n\n");
}

TEST_F(EepromWrite, ConsecutiveMarksFormBlocksThatEndAtSixteenByteBoundaries) {
    Bench(Device("block"));
    oEEPMem image = Image(256, 14, {0xAA, 0xBB, 0xCC});
    EXPECT_TRUE(WriteImageToMc(image));
    EXPECT_EQ(bench->Sent(), Join({WriteRequest(14, {0xAA, 0xBB}), WriteRequest(16, {0xCC})}));
    EXPECT_EQ(bench->Received(), (Bytes{0x07, 0x00, 0x07, 0x00}));
    const auto& eeprom = bench->Sim().DeviceAt(1)->Eeprom();
    EXPECT_EQ(eeprom[14], 0xAA);
    EXPECT_EQ(eeprom[15], 0xBB);
    EXPECT_EQ(eeprom[16], 0xCC);
    EXPECT_EQ(eeprom[17], At(17));
    EXPECT_EQ(image.ErrorText, "");
}

TEST_F(EepromWrite, OneByteAt255AndOnlyTakeableMarks) {
    Bench(Device("block"));
    oEEPMem image = Image(256, 255, {0x44});
    EXPECT_TRUE(WriteImageToMc(image));
    EXPECT_EQ(bench->Sent(), (Bytes{0xF8, 0x01, 0x00, 0xFF, 0x44, 0xBC}));

    // Marks 0 and marks with bit 7 set are skipped; 1..127 are taken; nothing at or past Used.
    bench->ClearWire();
    image = Image(256);
    image.Marks[3] = 0x80;
    image.Marks[4] = 0x7F;
    image.Marks[5] = 0xFF;
    image.Marks[6] = 2;
    image.Marks[40] = 1;
    image.Data[4] = 0x04;
    image.Data[6] = 0x06;
    image.Used = 40;
    EXPECT_TRUE(WriteImageToMc(image));
    EXPECT_EQ(bench->Sent(), Join({WriteRequest(4, {0x04}), WriteRequest(6, {0x06})}));
}

TEST_F(EepromWrite, ABadStatusIsRetriedAfter150msAndTheFourthFailureIsFatal) {
    int step = 0;
    ScriptedLink link([&](std::uint8_t b) -> std::optional<std::uint8_t> {
        if (b == 0xF8) {
            step = 0;
            return 0x07;
        }
        return ++step == 5 ? std::optional<std::uint8_t>(5) : std::nullopt;
    });
    oEEPMem image = Image(256, 255, {0x44});
    const auto start = link.Clock().NowUs();
    EXPECT_FALSE(WriteImageToMc(image));
    EXPECT_EQ(Fatals(), std::vector<std::string>{"CheckSum from MC is invalid (5)"});
    const Bytes block{0xF8, 0x01, 0x00, 0xFF, 0x44, 0xBC};
    EXPECT_EQ(link.Sent(), Join({block, block, block, block}));
    EXPECT_GE((link.Clock().NowUs() - start) / 1000, 3u * 150u);
    EXPECT_EQ(image.Size, 0);
}

TEST_F(EepromWrite, ARetriedBlockThatSucceedsEndsClean) {
    Bench(Device("block") + "fault checksum every 2\n");
    // Two blocks: the second one's status comes back spoilt once.
    oEEPMem image = Image(256, 30, {0x01, 0x02, 0x03});
    EXPECT_TRUE(WriteImageToMc(image));
    EXPECT_EQ(bench->Sent(), Join({WriteRequest(30, {0x01, 0x02}), WriteRequest(32, {0x03}),
                                   WriteRequest(32, {0x03})}));
    EXPECT_EQ(image.ErrorText, "");
    EXPECT_TRUE(Fatals().empty());
}

TEST_F(EepromWrite, SpoiltStatusesFromTheSimulatorEndInTheirText) {
    Bench(Device("block") + "fault checksum every 1\n");
    oEEPMem image = Image(256, 0, {0x10});
    EXPECT_FALSE(WriteImageToMc(image));
    EXPECT_EQ(Fatals(), std::vector<std::string>{"CheckSum from MC is invalid (1)"});

    // A silent MC: the handshake's text, after four tries.
    Bench(Device("none"));
    image = Image(256, 0, {0x10});
    EXPECT_FALSE(WriteImageToMc(image));
    EXPECT_EQ(bench->Sent(), (Bytes{0xF8, 0xF8, 0xF8, 0xF8}));
    ASSERT_EQ(Fatals().size(), 2u);
    EXPECT_EQ(Fatals()[1], "no answer from MCU, can not access EEProm");
}

TEST_F(EepromWrite, A19200BlockThatFailsIsRetriedAtTheNormalRate) {
    // The MC goes back to 9600 after every block; a retry sent at 19200 would never be heard.
    Bench(Device("block19200") + "fault checksum every 2\n");
    oEEPMem image = Image(256, 30, {0x01, 0x02, 0x03});
    EXPECT_TRUE(WriteImageToMc(image));
    EXPECT_TRUE(Fatals().empty());
    const auto& eeprom = bench->Sim().DeviceAt(1)->Eeprom();
    EXPECT_EQ(eeprom[30], 0x01);
    EXPECT_EQ(eeprom[31], 0x02);
    EXPECT_EQ(eeprom[32], 0x03);
    EXPECT_EQ(comlink::BaudRate(), 9600);
}

TEST_F(EepromWrite, ByteModeWritesWithEchoes) {
    Bench(Device("byte"));
    oEEPMem image = Image(256, 0, {0x31, 0x32, 0x33});
    EXPECT_TRUE(WriteImageToMc(image));
    EXPECT_EQ(bench->Sent(), (Bytes{0xF8, 0xB0, 0x31, 0xB1, 0x32, 0xB2, 0x33}));
    EXPECT_EQ(bench->Received(), (Bytes{0x43, 0x00, 0x31, 0x01, 0x32, 0x02, 0x33}));
    const auto& eeprom = bench->Sim().DeviceAt(1)->Eeprom();
    EXPECT_EQ(eeprom[0], 0x31);
    EXPECT_EQ(eeprom[2], 0x33);

    // Addresses 46 and 47 go; the block at 48 is refused after its handshake.
    bench->ClearWire();
    image = Image(256, 46, {1, 2, 3, 4});
    EXPECT_FALSE(WriteImageToMc(image));
    EXPECT_EQ(Fatals(), std::vector<std::string>{"max 48 EEP bytes writeable"});
    EXPECT_EQ(bench->Sent(), (Bytes{0xF8, 0xDE, 0x01, 0xDF, 0x02, 0xF8}));
}

TEST_F(EepromWrite, ByteModeRetriesAnAddressAndStopsAtTheFourthFailureOfTheBlock) {
    // Every fourth echo spoilt: the data echoes at 1 and 2 fail once each.
    Bench(Device("byte") + "fault echo every 4\n");
    oEEPMem image = Image(256, 0, {0x31, 0x32, 0x33});
    const auto start = NowMs();
    EXPECT_TRUE(WriteImageToMc(image));
    EXPECT_EQ(bench->Sent(),
              (Bytes{0xF8, 0xB0, 0x31, 0xB1, 0x32, 0xB1, 0x32, 0xB2, 0x33, 0xB2, 0x33}));
    // Once a failure happened, every further attempt waits 150 ms first.
    EXPECT_GE(NowMs() - start, 3u * 150u);
    const auto& eeprom = bench->Sim().DeviceAt(1)->Eeprom();
    EXPECT_EQ(eeprom[1], 0x32);
    EXPECT_EQ(eeprom[2], 0x33);
    EXPECT_EQ(image.ErrorText, "");

    Bench(Device("byte") + "fault echo every 1\n");
    image = Image(256, 5, {0x31});
    EXPECT_FALSE(WriteImageToMc(image));
    EXPECT_EQ(Fatals(), std::vector<std::string>{"Error during EEP-Addr set, Addr is: 5"});

    bench.reset();
    ScriptedLink link([](std::uint8_t b) -> std::optional<std::uint8_t> {
        if (b == 0xF8) {
            return 0x43;
        }
        return b == 0xB7 ? std::optional<std::uint8_t>(7) : std::nullopt;
    });
    image = Image(256, 7, {0x99});
    EXPECT_FALSE(WriteImageToMc(image));
    ASSERT_EQ(Fatals().size(), 2u);
    EXPECT_EQ(Fatals()[1], "Timeout error during EEP write, Addr is: 7");
}

TEST_F(EepromWrite, ByteModeDataEchoMismatchHasItsOwnText) {
    ScriptedLink link([](std::uint8_t b) -> std::optional<std::uint8_t> {
        if (b == 0xF8) {
            return 0x43;
        }
        if (b >= 0xB0 && b < 0xE0) {
            return static_cast<std::uint8_t>(b - 0xB0);
        }
        return static_cast<std::uint8_t>(b ^ 0x01);
    });
    oEEPMem image = Image(256, 3, {0x50});
    EXPECT_FALSE(WriteImageToMc(image));
    EXPECT_EQ(Fatals(), std::vector<std::string>{"Error during EEP write, Addr is: 3"});
    EXPECT_EQ(link.Sent(), (Bytes{0xF8, 0xB3, 0x50, 0xB3, 0x50, 0xB3, 0x50, 0xB3, 0x50}));
}

TEST(EepromImage, InitAndReleaseKeepWhatTheyShould) {
    oEEPMem image;
    image.ErrorText = "kept";
    image.ByteMode = true;
    image.Verbose = true;
    image.AddrOffset = 0x100;
    image.FlashMode = true;
    image.AddrMode = 2;
    image.EndSeen = true;
    image.Used = 9;
    ASSERT_TRUE(InitImage(image, 300));
    EXPECT_EQ(image.Size, 300);
    EXPECT_EQ(image.Data, Bytes(300, 0));
    EXPECT_EQ(image.Marks, Bytes(300, 0));
    EXPECT_EQ(image.Used, 0);
    EXPECT_FALSE(image.EndSeen);
    EXPECT_FALSE(image.FlashMode);
    EXPECT_EQ(image.AddrMode, 1);
    EXPECT_EQ(image.ErrorText, "kept");
    EXPECT_TRUE(image.ByteMode);
    EXPECT_TRUE(image.Verbose);
    EXPECT_EQ(image.AddrOffset, 0x100);

    image.Used = 5;
    image.EndSeen = true;
    ReleaseImage(image);
    EXPECT_EQ(image.Size, 0);
    EXPECT_TRUE(image.Data.empty());
    EXPECT_EQ(image.Used, 0);
    EXPECT_FALSE(image.EndSeen);
    ReleaseImage(image); // twice is harmless

    EXPECT_FALSE(InitImage(image, 0));
    EXPECT_FALSE(InitImage(image, 0x10001));
    EXPECT_EQ(image.Size, 0);
    // A released image takes part in no transfer, even with Used set by hand.
    image.Verbose = false;
    image.Used = 100;
    EXPECT_TRUE(WriteImageToMc(image));
}

TEST(EepromImage, TransferRateRoundsHalfToEvenAndStaysInSixteenBits) {
    EXPECT_EQ(TransferRate({2, 11, 3}), 367); // 366.67
    EXPECT_EQ(TransferRate({1, 1, 8}), 12);   // 12.5
    EXPECT_EQ(TransferRate({1, 3, 8}), 38);   // 37.5
    EXPECT_EQ(TransferRate({1, 100, 0}), 0);  // no time measured
    EXPECT_EQ(TransferRate({1, 100, -5}), 0); // nor a negative one
    EXPECT_EQ(TransferRate({9, 60000, 1}), 0xFFFF);

    std::stringstream out;
    ScopedConsole use(out);
    oEEPMem image;
    PrintTransferStats(image, {2, 11, 3});
    EXPECT_EQ(out.str(), "");
    image.Verbose = true;
    PrintTransferStats(image, {2, 11, 3});
    EXPECT_EQ(out.str(), "\n2 records processed\n11 bytes transfered (367 bytes/sec)\n\n");
}

TEST_F(EepromWrite, StatisticsCountBlocksAndBytesSent) {
    Bench(Device("block"));
    oEEPMem image = Image(256, 14, {0xAA, 0xBB, 0xCC});
    image.Verbose = true;
    EXPECT_TRUE(WriteImageToMc(image));
    // Two blocks of 2 and 1 data bytes, each with count, address and check byte.
    EXPECT_NE(Out().find("\n2 records processed\n11 bytes transfered ("), std::string::npos)
        << Out();
}

} // namespace
