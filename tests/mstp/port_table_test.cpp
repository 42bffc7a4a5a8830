// The COM-number table over a fake /sys/class/tty tree.
#include <sys/inotify.h>
#include <sys/stat.h>

#include "mstp_test_support.h"
#include "pty_support.h"
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

// A serial port is a tty-class character device or a pseudo-terminal slave, told from the node and
// sysfs without an open. A fake sysfs shows that the class decides, not the name.
TEST_F(PortTable, OnlyTtyClassDevicesAndPseudoTerminalsAreSerialPorts)
{
    const std::string sys = Path("sys");
    for (const char* dir : {"sys", "sys/class", "sys/class/tty", "sys/class/mem", "sys/dev", "sys/dev/char",
                            "sys/dev/char/1:3", "sys/dev/char/1:5"})
        ASSERT_EQ(mkdir(Path(dir).c_str(), 0755), 0) << dir;
    ASSERT_EQ(symlink("../../../class/tty", Path("sys/dev/char/1:3/subsystem").c_str()), 0);
    ASSERT_EQ(symlink("../../../class/mem", Path("sys/dev/char/1:5/subsystem").c_str()), 0);
    EXPECT_TRUE(IsSerialPortNode("/dev/null", sys)) << "1:3 stands in the tty class here";
    EXPECT_FALSE(IsSerialPortNode("/dev/zero", sys)) << "1:5 stands in the mem class here";
    EXPECT_FALSE(IsSerialPortNode("/dev/full", sys)) << "1:7 has no entry here";
    EXPECT_FALSE(IsSerialPortNode("/dev/null")) << "the real /dev/null is of the mem class";

    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    EXPECT_TRUE(IsSerialPortNode(pty.device)) << "a pseudo-terminal slave has no sysfs entry";
    EXPECT_TRUE(IsSerialPortNode(pty.device, sys));
    ASSERT_EQ(symlink(pty.device.c_str(), Path("by-id-link").c_str()), 0);
    EXPECT_TRUE(IsSerialPortNode(Path("by-id-link"))) << "a link to a port names the port";

    ASSERT_TRUE(mstpgen::WriteFile(Path("plain"), ""));
    ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/null", Path("null-link").c_str()), 0);
    for (const char* name : {"plain", "pipe", "sys", "null-link", "missing"})
        EXPECT_FALSE(IsSerialPortNode(Path(name))) << name;
}

// Open refuses what is no serial port before it opens anything: a listed node that is a named pipe
// or a plain file is never opened.
TEST_F(PortTable, OpenRefusesWhatIsNoSerialPortWithoutOpeningIt)
{
    ASSERT_EQ(mkdir(Path("tty").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(Path("dev").c_str(), 0755), 0);
    Entry("ttyPipe", true);
    Entry("ttyPlain", true);
    ASSERT_EQ(mkfifo(Path("dev/ttyPipe").c_str(), 0600), 0);
    ASSERT_TRUE(mstpgen::WriteFile(Path("dev/ttyPlain"), ""));
    ASSERT_EQ(LoadSerialPortTable(Path("tty"), Path("dev")), 2);
    int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, Path("dev").c_str(), IN_OPEN), 0);
    CSerialPort port;
    EXPECT_FALSE(port.Open(1, 9600, 'N', 8, 1));
    EXPECT_FALSE(port.Open(2, 9600, 'N', 8, 1));
    EXPECT_EQ(port.m_bOpened, 0);
    char events[4096];
    EXPECT_LT(read(watch, events, sizeof events), 0) << "a node that is no serial port was opened";
    close(watch);

    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    EXPECT_TRUE(port.Open(pty.port, 9600, 'N', 8, 1));
    port.Close();
}
