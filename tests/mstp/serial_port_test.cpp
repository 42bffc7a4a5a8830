// CSerialPort on a real pseudo-terminal.
#include <fcntl.h>
#include <termios.h>

#include "platform/serial_baud.h"
#include "pty_support.h"

using namespace mstptest;

class SerialPort : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        ASSERT_TRUE(m_pty.ok());
    }
    termios Settings(const CSerialPort& port)
    {
        termios tio{};
        EXPECT_EQ(tcgetattr(port.m_hComm, &tio), 0);
        return tio;
    }
    PtyPair m_pty;
};

TEST_F(SerialPort, OpenTwiceKeepsFirstSettingsThenCloseAndReopen)
{
    CSerialPort port;
    ASSERT_TRUE(port.Open(m_pty.port, 9600, 'N', 8, 1));
    EXPECT_EQ(port.m_bOpened, 1);
    const int fd = port.m_hComm;
    EXPECT_TRUE(port.Open(m_pty.port, 38400, 'E', 7, 2));
    EXPECT_EQ(port.m_hComm, fd);
    termios tio = Settings(port);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & PARENB, 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
    EXPECT_NE(tio.c_cflag & CREAD, 0u);
    EXPECT_TRUE(port.Close());
    EXPECT_EQ(port.m_bOpened, 0);
    EXPECT_TRUE(port.Close());
    EXPECT_TRUE(port.Open(m_pty.port, 19200, 'N', 8, 1));
    EXPECT_EQ(cfgetospeed(&(tio = Settings(port))), static_cast<speed_t>(B19200));
}

TEST_F(SerialPort, AccessIsExclusive)
{
    CSerialPort first, second;
    ASSERT_TRUE(first.Open(m_pty.port, 9600, 'N', 8, 1));
    EXPECT_FALSE(second.Open(m_pty.port, 9600, 'N', 8, 1));
    first.Close();
    EXPECT_TRUE(second.Open(m_pty.port, 9600, 'N', 8, 1));
}

// The settings asked of the driver. (A pseudo-terminal itself takes no parity, so the flags are
// checked on the settings record; the opens below check what a pseudo-terminal accepts.)
TEST(SerialLineSettings, ParityDataAndStopBits)
{
    struct Case {
        char parity;
        unsigned dataBits;
        int stopBits;
        BOOL valid;
        tcflag_t parityFlags;
        tcflag_t size;
        bool twoStop;
    } cases[] = {
        {'N', 8, 1, TRUE, 0, CS8, false},
        {'E', 8, 1, TRUE, PARENB, CS8, false},
        {'O', 7, 1, TRUE, PARENB | PARODD, CS7, false},
        {0, 8, 1, TRUE, 0, CS8, false},
        {1, 8, 1, TRUE, PARENB | PARODD, CS8, false},
        {2, 8, 1, TRUE, PARENB, CS8, false},
        {3, 8, 1, TRUE, PARENB | PARODD | CMSPAR, CS8, false},
        {4, 8, 1, TRUE, PARENB | CMSPAR, CS8, false},
        {'N', 8, 2, TRUE, 0, CS8, true},
        {'N', 8, 0, TRUE, 0, CS8, false},
        {'N', 8, 3, TRUE, 0, CS8, false},
        {'X', 8, 1, FALSE, 0, 0, false},
        {5, 8, 1, FALSE, 0, 0, false},
        {-1, 8, 1, FALSE, 0, 0, false},
        {'N', 6, 1, FALSE, 0, 0, false},
        {'N', 9, 1, FALSE, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << int(c.parity) << " " << c.dataBits << " " << c.stopBits);
        termios tio{};
        tio.c_cflag = CSTOPB | PARENB | CS5 | CRTSCTS; // leftovers of an earlier user
        tio.c_lflag = ICANON | ECHO | ISIG;
        tio.c_iflag = IXON | ICRNL;
        ASSERT_EQ(MakeSerialLineSettings(&tio, c.parity, c.dataBits, c.stopBits), c.valid);
        if (!c.valid)
            continue;
        EXPECT_EQ(tio.c_cflag & (PARENB | PARODD | CMSPAR), c.parityFlags);
        EXPECT_EQ(tio.c_cflag & CSIZE, c.size);
        EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, c.twoStop);
        EXPECT_NE(tio.c_cflag & CRTSCTS, 0u); // flow control stays as the driver had it
        EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(tio.c_iflag & (IXON | ICRNL), 0u);
        EXPECT_EQ(tio.c_cc[VMIN], 0);
        EXPECT_EQ(tio.c_cc[VTIME], 0);
    }
}

TEST_F(SerialPort, RefusedSettingsLeavePortClosed)
{
    struct Case {
        char parity;
        unsigned dataBits;
        int stopBits;
        int baud;
        BOOL opens;
    } cases[] = {
        {'N', 8, 1, 9600, TRUE}, {'N', 8, 2, 9600, TRUE}, {'N', 8, 0, 9600, TRUE},  {'N', 8, 3, 9600, TRUE},
        {'X', 8, 1, 9600, FALSE}, {'N', 6, 1, 9600, FALSE}, {'N', 9, 1, 9600, FALSE}, {'N', 8, 1, 0, FALSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.parity << " " << c.dataBits << " " << c.stopBits << " " << c.baud);
        CSerialPort port;
        ASSERT_EQ(port.Open(m_pty.port, c.baud, c.parity, c.dataBits, c.stopBits), c.opens);
        EXPECT_EQ(port.m_bOpened, c.opens ? 1 : 0);
        if (!c.opens)
            EXPECT_EQ(port.m_hComm, -1);
        else
            EXPECT_EQ((Settings(port).c_cflag & CSTOPB) != 0, c.stopBits == 2);
    }
}

// Rates without a B constant go through termios2.
TEST_F(SerialPort, CustomBaudRate)
{
    for (int baud : {76800, 9600, 14400}) {
        CSerialPort port;
        ASSERT_TRUE(port.Open(m_pty.port, baud, 'N', 8, 1)) << baud;
        EXPECT_EQ(GetSerialBaudRateExact(port.m_hComm), baud);
    }
}

TEST_F(SerialPort, MissingPortFailsAndCloseIsHarmless)
{
    CSerialPort port;
    EXPECT_FALSE(port.Open(9999, 9600, 'N', 8, 1));
    EXPECT_FALSE(port.Open(0, 9600, 'N', 8, 1));
    int missing = AddSerialPortPath("/dev/quorix-no-such-tty");
    ASSERT_GT(missing, 0);
    EXPECT_FALSE(port.Open(missing, 9600, 'N', 8, 1));
    EXPECT_EQ(port.m_bOpened, 0);
    EXPECT_TRUE(port.Close());
}

TEST_F(SerialPort, ReadDataTakesNoMoreThanAskedAndQueued)
{
    CSerialPort port;
    ASSERT_TRUE(port.Open(m_pty.port, 9600, 'N', 8, 1));
    BYTE buffer[8] = {};
    EXPECT_EQ(port.GetBytesWaiting(), 0u);
    EXPECT_EQ(port.ReadData(buffer, 1), 0);

    m_pty.Write({0x10, 0x11, 0x12, 0x13, 0x14});
    ASSERT_TRUE(WaitUntil([&] { return port.GetBytesWaiting() == 5; }));
    EXPECT_EQ(port.ReadData(buffer, 1), 1);
    EXPECT_EQ(buffer[0], 0x10);
    EXPECT_EQ(port.GetBytesWaiting(), 4u);
    EXPECT_EQ(port.ReadData(buffer, 8), 4);
    EXPECT_EQ(buffer[3], 0x14);
    EXPECT_EQ(port.ReadData(buffer, 8), 0);
}

TEST_F(SerialPort, WritesReachTheOtherEnd)
{
    CSerialPort port;
    const BYTE frame[] = {0x55, 0xFF, 0x00, 0x08, 0x07, 0x00, 0x00, 0x73};
    EXPECT_EQ(port.SendData(frame, 8), 0); // closed
    ASSERT_TRUE(port.Open(m_pty.port, 9600, 'N', 8, 1));
    EXPECT_FALSE(port.Write(frame, 0));
    EXPECT_FALSE(port.Write(nullptr, 8));
    EXPECT_EQ(port.SendData(frame, 8), 8);
    EXPECT_TRUE(port.WriteByte(0xAA));
    fcntl(m_pty.master, F_SETFL, fcntl(m_pty.master, F_GETFL) | O_NONBLOCK);
    BYTE got[9] = {};
    size_t n = 0;
    ASSERT_TRUE(WaitUntil([&] {
        ssize_t r = read(m_pty.master, got + n, sizeof got - n);
        if (r > 0)
            n += static_cast<size_t>(r);
        return n == sizeof got;
    }));
    EXPECT_EQ(got[7], 0x73);
    EXPECT_EQ(got[8], 0xAA);
}

// A device that goes away under an open port reports nothing queued, and says that it is lost.
TEST_F(SerialPort, HungUpDeviceIsLost)
{
    CSerialPort port;
    ASSERT_TRUE(port.Open(m_pty.port, 9600, 'N', 8, 1));
    EXPECT_EQ(port.m_bLost, 0);
    m_pty.Write({0x55, 0xFF});
    ASSERT_TRUE(WaitUntil([&] { return port.GetBytesWaiting() == 2; }));
    EXPECT_EQ(port.m_bLost, 0);
    m_pty.HangUp();
    BYTE b = 0;
    EXPECT_EQ(port.GetBytesWaiting(), 0u);
    EXPECT_EQ(port.ReadData(&b, 1), 0);
    EXPECT_EQ(port.m_bLost, 1);
    EXPECT_TRUE(port.Close());
    EXPECT_EQ(port.m_bLost, 0);
}

TEST_F(SerialPort, ClosedPortSeesEmptyLine)
{
    CSerialPort port;
    BYTE b = 0;
    EXPECT_EQ(port.GetBytesWaiting(), 0u);
    EXPECT_EQ(port.ReadData(&b, 1), 0);
}
