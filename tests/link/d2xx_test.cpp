#include "fake_ftdi.h"
#include "link/d2xx.h"
#include "link/libftdi_library.h"

#include <gtest/gtest.h>

using namespace comlink;
using testing_support::FakeFtLibrary;

namespace {

class D2xx : public ::testing::Test {
protected:
    D2xx() { ResetUsb(); }
    ~D2xx() override { ResetUsb(); }

    void Open() {
        ASSERT_EQ(GetFTDeviceCount(), FT_OK);
        ASSERT_EQ(UsbOpen(), FT_OK);
        ASSERT_FALSE(Usb().usbClosed);
    }

    FakeFtLibrary ft;
    ScopedFtLibrary use{ft};
};

TEST(D2xxStatusText, EveryCodeHasItsFixedText) {
    const char* expected[] = {
        "",
        " - Invalid handle...",
        " - Device not found...",
        " - Device not opened...",
        " - General IO error...",
        " - Insufficient resources...",
        " - Invalid parameter...",
        " - Invalid baud rate...",
        " Device not opened for erase...",
        " Device not opened for write...",
        " - Failed to write...",
        " - EEPROM read failed...",
        " - EEPROM write failed...",
        " - EEPROM erase failed...",
        " - EEPROM not present...",
        " - EEPROM not programmed...",
        " - Invalid arguments...",
        " - Other error ...",
    };
    for (FT_STATUS s = 0; s <= 17; ++s) {
        EXPECT_EQ(FtStatusText(s), expected[s]) << "status " << s;
    }
    EXPECT_EQ(FtStatusText(18), "");
    EXPECT_EQ(FtStatusText(0xFFFFFFFF), "");
}

TEST_F(D2xx, StartsClosedWithNoError) {
    EXPECT_TRUE(Usb().usbClosed);
    EXPECT_TRUE(Usb().lastError.empty());
    EXPECT_EQ(Usb().handle, nullptr);
}

TEST_F(D2xx, OpenFailingWithNoAdapterLeavesTextAndClosedFlag) {
    ft.Unplug();
    EXPECT_EQ(UsbOpen(), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(Usb().lastError, "FT_Open - Device not found...");
    EXPECT_TRUE(Usb().usbClosed);
    EXPECT_EQ(Usb().deviceCount, 0u);
}

TEST_F(D2xx, LatencyTimerNameCarriesItsTrailingBlank) {
    Open();
    ft.Fail("FT_SetLatencyTimer", FT_INVALID_HANDLE);
    EXPECT_EQ(UsbSetLatencyTimer(2), FT_INVALID_HANDLE);
    EXPECT_EQ(Usb().lastError, "FT_SetLatencyTimer  - Invalid handle...");
}

TEST_F(D2xx, UnknownStatusEmptiesTheTextButStillCountsDevices) {
    Open();
    ft.Fail("FT_SetBreakOff", 18);
    int lists = ft.listCalls;
    EXPECT_EQ(UsbSetBreakOff(), 18u);
    EXPECT_EQ(Usb().lastError, "");
    EXPECT_EQ(ft.listCalls, lists + 1);
    EXPECT_FALSE(Usb().usbClosed); // the adapter is still there and the handle still works
}

TEST_F(D2xx, AFailureClosesThePortOnlyWhenTheAdapterOrHandleIsGone) {
    Open();
    ft.Fail("FT_SetBaudRate", FT_INVALID_BAUD_RATE);
    Usb().baudRate = 123;
    EXPECT_EQ(UsbSetBaudRate(), FT_INVALID_BAUD_RATE);
    EXPECT_EQ(Usb().lastError, "FT_SetBaudRate - Invalid baud rate...");
    EXPECT_FALSE(Usb().usbClosed);

    ft.Unplug();
    EXPECT_EQ(UsbGetQueueStatus(), FT_IO_ERROR);
    EXPECT_EQ(Usb().lastError, "FT_GetQueueStatus - General IO error...");
    EXPECT_TRUE(Usb().usbClosed);
    EXPECT_EQ(Usb().receiveQueueCount, 0u);
}

TEST_F(D2xx, ADeadHandleClosesThePortEvenWithAnAdapterAttached) {
    Open();
    ft.Unplug();
    ft.Replug();
    EXPECT_EQ(UsbGetStatus(), FT_IO_ERROR);
    EXPECT_EQ(Usb().deviceCount, 1u);
    EXPECT_TRUE(Usb().usbClosed);
}

TEST_F(D2xx, CloseSetsTheClosedFlagWhateverTheResult) {
    Open();
    ft.Fail("FT_Close", FT_OTHER_ERROR);
    EXPECT_EQ(UsbClose(), FT_OTHER_ERROR);
    EXPECT_EQ(Usb().lastError, "FT_Close - Other error ...");
    EXPECT_TRUE(Usb().usbClosed);
    EXPECT_EQ(Usb().handle, nullptr);
}

TEST_F(D2xx, AFailingCountIsNotCountedAgain) {
    ft.Fail("FT_ListDevices", FT_IO_ERROR);
    EXPECT_EQ(GetFTDeviceCount(), FT_IO_ERROR);
    EXPECT_EQ(Usb().lastError, "GetFTDeviceCount - General IO error...");
    EXPECT_EQ(Usb().deviceCount, 0u);
    EXPECT_EQ(ft.listCalls, 1);
}

TEST_F(D2xx, BytesMoveThroughTheSharedBuffers) {
    Open();
    Usb().transmitBuffer[0] = 0xAB;
    Usb().transmitBuffer[1] = 0xCD;
    std::uint32_t n = 0;
    EXPECT_EQ(UsbWrite(2, n), FT_OK);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(ft.written, (std::vector<std::uint8_t>{0xAB, 0xCD}));

    ft.rx.assign(70000, 0x5A);
    ft.rx.front() = 0x01;
    EXPECT_EQ(UsbGetQueueStatus(), FT_OK);
    EXPECT_EQ(Usb().receiveQueueCount, 70000u);
    // A request larger than the receive buffer is cut to its size.
    EXPECT_EQ(UsbRead(70000, n), FT_OK);
    EXPECT_EQ(n, kUsbBufferSize);
    EXPECT_EQ(Usb().receiveBuffer[0], 0x01);
    EXPECT_EQ(ft.rx.size(), 70000 - kUsbBufferSize);
}

TEST_F(D2xx, SettingsCallsPassTheStoredValues) {
    Open();
    ft.calls.clear();
    EXPECT_EQ(UsbSetDataCharacteristics(), FT_OK);
    EXPECT_EQ(UsbSetFlowControl(), FT_OK);
    EXPECT_EQ(UsbSetTimeouts(300, 400), FT_OK);
    EXPECT_EQ(UsbPurgeTx(), FT_OK);
    EXPECT_EQ(UsbSetLatencyTimer(1000), FT_OK);
    EXPECT_EQ(ft.calls, (std::vector<std::string>{
                            "FT_SetDataCharacteristics 8 0 0", "FT_SetFlowControl 0 17 19",
                            "FT_SetTimeouts 300 400", "FT_Purge 2", "FT_SetLatencyTimer 255"}));
    EXPECT_EQ(Usb().readTimeout, 300);
    EXPECT_EQ(Usb().writeTimeout, 400);
}

// libftdi itself, without an adapter: whatever the machine has, calls on a handle that was
// never opened are refused with the D2XX code and nothing crashes.
TEST(LibFtdi, RefusesUnknownHandlesAndFindsNoAdapterWhereThereIsNone) {
    LibFtdiLibrary lib;
    std::uint32_t n = 7;
    std::uint32_t count = 99;
    std::uint8_t buffer[4] = {};
    EXPECT_EQ(lib.FT_GetQueueStatus(nullptr, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(lib.FT_Read(nullptr, buffer, 1, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(lib.FT_Write(&count, buffer, 1, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(lib.FT_SetRts(nullptr), FT_INVALID_HANDLE);
    EXPECT_EQ(lib.FT_Close(nullptr), FT_INVALID_HANDLE);
    EXPECT_EQ(lib.FT_ListDevices(&count, nullptr, 0), FT_INVALID_PARAMETER);

    FT_STATUS s = lib.FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
    if (s != FT_OK) {
        GTEST_SKIP() << "USB cannot be listed here: " << lib.LastDetail();
    }
    if (count > 0) {
        GTEST_SKIP() << "an FTDI adapter is attached; it is left alone";
    }
    FT_HANDLE h = nullptr;
    EXPECT_EQ(lib.FT_Open(0, &h), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(h, nullptr);
}

} // namespace
