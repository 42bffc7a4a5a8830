// The COM-number table over a fake /sys/class/tty tree.
#include <sys/stat.h>

#include "mstp_test_support.h"
#include "platform/serial_port_table.h"

using namespace mstptest;

class PortTable : public TempDirTest {
protected:
    void Entry(const std::string& name, bool device, const char* type = nullptr)
    {
        std::string dir = Path("tty/" + name);
        ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
        if (device) {
            ASSERT_EQ(mkdir((dir + "/device").c_str(), 0755), 0);
        }
        if (type) {
            ASSERT_TRUE(mstpgen::WriteFile(dir + "/type", type));
        }
    }
    void TearDown() override
    {
        ClearSerialPortTable();
        TempDirTest::TearDown();
    }
};

TEST_F(PortTable, FilledFromDevicesInNameOrderThenTypedPaths)
{
    ASSERT_EQ(mkdir(Path("tty").c_str(), 0755), 0);
    Entry("ttyUSB10", true);
    Entry("tty0", false);
    Entry("console", false);
    Entry("ttyS1", true, "0\n"); // a UART with no hardware behind it
    Entry("ttyS0", true, "4\n");
    Entry("ttyUSB2", true);

    ASSERT_EQ(LoadSerialPortTable(Path("tty"), "/dev"), 3);
    EXPECT_EQ(GetSerialPortDevice(1), "/dev/ttyS0");
    EXPECT_EQ(GetSerialPortDevice(2), "/dev/ttyUSB2");
    EXPECT_EQ(GetSerialPortDevice(3), "/dev/ttyUSB10");
    EXPECT_EQ(GetSerialPortDevice(0), "");
    EXPECT_EQ(GetSerialPortDevice(4), "");
    EXPECT_EQ(GetSerialPortComName(3), "COM3");
    EXPECT_EQ(GetSerialPortDisplayName(3), "COM3 (/dev/ttyUSB10)");

    EXPECT_EQ(AddSerialPortPath("/dev/pts/7"), 4);
    EXPECT_EQ(AddSerialPortPath("/dev/pts/7"), 4);
    EXPECT_EQ(AddSerialPortPath("/dev/ttyUSB2"), 2);
    EXPECT_EQ(AddSerialPortPath("pts/7"), 0);
    EXPECT_EQ(AddSerialPortPath("/dev/"), 0);
    EXPECT_EQ(AddSerialPortPath(""), 0);

    std::vector<SerialPortEntry> table = GetSerialPortTable();
    ASSERT_EQ(table.size(), 4u);
    EXPECT_EQ(table[3].nNumber, 4);
    EXPECT_EQ(table[3].strDevice, "/dev/pts/7");

    // A reload replaces the whole table.
    EXPECT_EQ(LoadSerialPortTable(Path("no-such-dir"), "/dev"), 0);
    EXPECT_TRUE(GetSerialPortTable().empty());
}

// A number with no entry fails to open like a missing device.
TEST_F(PortTable, NumberWithoutEntryDoesNotOpen)
{
    ClearSerialPortTable();
    CSerialPort port;
    EXPECT_FALSE(port.Open(1, 9600, 'N', 8, 1));
}
