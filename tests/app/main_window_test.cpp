// The real main window offscreen, driven by clicks and typing: start-up state, the source radios
// and Browse, the help boxes, Close and its refusals, the banner, the cursor, the system menu, and
// captures from log files and from a pseudo-terminal.
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QMenu>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QLabel>
#include <QTimer>
#include <QWindow>

#include <fcntl.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>

#include <algorithm>
#include <regex>

#include "gui_fixture.h"
#include "build_config.h"
#include "platform/clock.h"
#include "platform/message_pump.h"
#include "platform/serial_port_table.h"
#include "reports/capture_clock.h"
#include "mstp/serial_port.h"
#include "support/big_log.h"
#include "support/mstp_frames.h"
#include "web/loopback_server.h"
#include "web/vantrel_com.h"

using namespace apptest;

namespace {

const char* const kAverageHelp =
    "To calculate averages or to measure performance we need to process x number of message per node.\n"
    "If x is too small the results may be inaccurate.\n"
    "If x is too large then short lived anonolies may not be detected.\n\n"
    "Specify the number of samples to be used to calculate averages. We suggest you try a value of 100.";
const char* const kProjectHelp =
    "When Quorix has finished analysing the data it will create reports.\n"
    "The reports will be created in a folder named using the project name you allocate here.";
const char* const kLogFileHelp =
    "You can capture data and analyse it later.\n\n"
    "The file should contain an uniterrupted sequence of bytes in hexadecimal such as those shown below.\n"
    "55 FF 00 08 07 00 00 73 55 FF 00 0A 08 00 00 63 55 FF 00 0B 0A 00 00 D9 \n\n"
    "How can you achieve this ?\n"
    "Simple. Connect a 485 converter between your computer and the MSTP network.\n"
    "Now run Hyperterminal and capture to file.";

std::string AppName()
{
    return AfxGetAppName();
}

std::vector<std::string> ComboEntries(QWidget* w)
{
    std::vector<std::string> out;
    auto* combo = qobject_cast<QComboBox*>(w);
    for (int i = 0; combo && i < combo->count(); ++i)
        out.push_back(combo->itemText(i).toStdString());
    return out;
}

mstpgen::Traffic SmallNetwork(size_t octets, double damage = 0.0)
{
    mstpgen::NetworkSpec network;
    network.damagePerFrame = damage;
    network.outOfTurnTalker = 30;
    return mstpgen::Generate(network, octets);
}

// Frame lines of a raw frame log ("Frame 000012 ..."), and those of valid frames.
int CountFrameLines(const std::string& rawText, const char* mark = nullptr)
{
    int n = 0;
    std::istringstream in(rawText);
    std::string line;
    while (std::getline(in, line))
        if (std::regex_search(line, std::regex("^Frame [0-9]{6} ")) && (!mark || line.find(mark) != std::string::npos))
            ++n;
    return n;
}

void CopyAssets(const fs::path& to)
{
    for (const char* asset : g_pszReportAssets)
        fs::copy_file(fs::path(QUORIX_ASSETS_DIR) / asset, to / asset, fs::copy_options::overwrite_existing);
}

// Report folders in the working directory.
std::vector<fs::path> ReportFolders(const fs::path& dir)
{
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.is_directory() && e.path().filename().string().find(" [") != std::string::npos)
            out.push_back(e.path());
    return out;
}

}  // namespace

// ---- Start-up ----

TEST_F(WindowTest, StartsWithItsDefaultsAndTheSortedPortList)
{
    // ttyS0 to ttyS10 become COM1 to COM11 in name order.
    for (int i = 0; i <= 10; ++i) {
        Node node = Node::Missing;
        if (i == 1 || i == 2)
            node = Node::Openable;
        if (i == 4)
            node = Node::Unopenable;
        AddTty("ttyS" + std::to_string(i), node);
    }
    OpenWindow();
    std::string dev = (WorkDir() / "dev").string();

    std::vector<std::string> ports = ComboEntries(W(IDC_SERIAL_PORT));
    ASSERT_EQ(ports.size(), 11u);
    auto at = [&](const std::string& text) {
        return std::find(ports.begin(), ports.end(), text) - ports.begin();
    };
    std::string com2 = "COM2 (" + dev + "/ttyS1) ";
    std::string com10 = "COM10 (" + dev + "/ttyS9)  not install";
    ASSERT_LT(at(com10), 11);
    ASSERT_LT(at(com2), 11);
    EXPECT_LT(at(com10), at(com2));
    EXPECT_LT(at("COM5 (" + dev + "/ttyS4)  not available"), 11);
    EXPECT_EQ(ports.front(), "COM1 (" + dev + "/ttyS0)  not install");

    // The last port that opened is the port text; its number is the default port.
    EXPECT_EQ(Text(IDC_SERIAL_PORT), "COM3 (" + dev + "/ttyS2) ");
    EXPECT_EQ(g_nDefaultPort, 3);

    EXPECT_EQ(ComboEntries(W(IDC_BAUDRATE)),
              (std::vector<std::string>{"9600", "19200", "38400", "4800", "2400", "300", "600", "1200"}));
    EXPECT_EQ(Text(IDC_BAUDRATE), "9600");
    EXPECT_EQ(Text(IDC_PROJECT_NAME), "noname");
    EXPECT_EQ(Text(IDC_AVERAGE_DIM), "100");
    EXPECT_EQ(Text(IDC_FILE_LENGTH), "0");
    EXPECT_EQ(Text(IDC_LOGFILE_PATH), "");
    EXPECT_EQ(Text(IDC_STATUS), "");

    EXPECT_TRUE(dlg->IsDlgButtonChecked(IDC_SOURCE_SERIAL));
    EXPECT_FALSE(dlg->IsDlgButtonChecked(IDC_SOURCE_LOGFILE));
    EXPECT_TRUE(Enabled(IDC_START));
    EXPECT_FALSE(Enabled(IDC_STOP));
    EXPECT_FALSE(Enabled(IDC_BROWSE));
    EXPECT_FALSE(Enabled(IDC_REPORT_FILE));
    EXPECT_TRUE(Enabled(IDC_SERIAL_PORT));
    EXPECT_TRUE(Enabled(IDC_BAUDRATE));

    EXPECT_EQ(dlg->GetQWidget()->windowTitle().toStdString(), "ZEL Quorix");
    EXPECT_FALSE(dlg->GetQWidget()->windowIcon().isNull());
    EXPECT_EQ(dlg->GetTimerElapse(BANNER_TIMER_ID), 5000u);
    EXPECT_FALSE(dlg->HasTimer(RUN_TIMER_ID));

    CMenu* menu = dlg->GetSystemMenu(FALSE);
    ASSERT_EQ(menu->Items().size(), 2u);
    EXPECT_TRUE(menu->Items()[0].separator);
    EXPECT_EQ(menu->Items()[1].text, "&About Quorix...");
    EXPECT_EQ(menu->Items()[1].id, static_cast<UINT_PTR>(IDM_ABOUTBOX));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(WindowTest, NoPortTreeGivesAnEmptyListAndNoPortText)
{
    SetSerialPortListSource((WorkDir() / "no_such_tree").string(), (WorkDir() / "dev").string());
    OpenWindow();
    EXPECT_TRUE(ComboEntries(W(IDC_SERIAL_PORT)).empty());
    EXPECT_EQ(Text(IDC_SERIAL_PORT), "");
}

TEST_F(WindowTest, NoOpenablePortLeavesThePortTextEmpty)
{
    AddTty("ttyUSB0", Node::Missing);
    AddTty("ttyUSB1", Node::Unopenable);
    OpenWindow();
    EXPECT_EQ(ComboEntries(W(IDC_SERIAL_PORT)).size(), 2u);
    EXPECT_EQ(Text(IDC_SERIAL_PORT), "");
}

TEST_F(WindowTest, APortInUseIsListedAsNotAvailable)
{
    AddTty("ttyUSB0", Node::Openable);
    AddTty("ttyUSB1", Node::Openable);
    // Another holder has the first port, as a running capture does.
    int held = open((WorkDir() / "dev" / "ttyUSB0").c_str(), O_RDWR);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    OpenWindow();
    std::string dev = (WorkDir() / "dev").string();
    EXPECT_EQ(ComboEntries(W(IDC_SERIAL_PORT)),
              (std::vector<std::string>{"COM1 (" + dev + "/ttyUSB0)  not available", "COM2 (" + dev + "/ttyUSB1) "}));
    EXPECT_EQ(Text(IDC_SERIAL_PORT), "COM2 (" + dev + "/ttyUSB1) ");
    close(held);
    // The probe leaves the port free for the next one.
    EXPECT_EQ(std::string(ProbeSerialPort(dev + "/ttyUSB1")), " ");
    EXPECT_EQ(std::string(ProbeSerialPort(dev + "/ttyUSB1")), " ");
}

TEST_F(WindowTest, PortsAreProbedWithoutBeingOpened)
{
    // Opening a tty raises DTR and RTS, which can key an RS-485 driver or reset a board: the probe
    // must not open the port at all.
    AddTty("ttyUSB0", Node::Openable);
    AddTty("ttyUSB1", Node::Missing);
    AddTty("ttyUSB2", Node::Unopenable);
    std::string dev = (WorkDir() / "dev").string();
    int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dev.c_str(), IN_OPEN), 0);
    OpenWindow();
    EXPECT_EQ(ComboEntries(W(IDC_SERIAL_PORT)),
              (std::vector<std::string>{"COM1 (" + dev + "/ttyUSB0) ", "COM2 (" + dev + "/ttyUSB1)  not install",
                                        "COM3 (" + dev + "/ttyUSB2)  not available"}));
    EXPECT_EQ(std::string(ProbeSerialPort(dev + "/ttyUSB0")), " ");
    char events[4096];
    EXPECT_LT(read(watch, events, sizeof events), 0) << "a port node was opened";
    close(watch);
}

TEST(SerialPortText, PortNumbersFollowTheComNameRule)
{
    struct Case {
        const char* text;
        int port;
    } cases[] = {
        {"COM3 (/dev/ttyUSB0) ", 3}, {"COM12 (/dev/ttyS11) ", 12}, {"COM7", 7},
        {"COM3  not install", 3},    {"", 0},                        {"COM", 0},
        {"COMX", 0},                 {"COM123 ", 0},                 {"ttyUSB0", 0},
        {"com3", 3},                 {"Com12 ", 12},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SerialPortNumberFromText(c.text), c.port) << c.text;
}

TEST(ProjectName, ControlCharactersAreRefusedLikeASlash)
{
    const std::string message = "The project name must not contain control characters such as a line break or a tab.";
    for (int c = 1; c < 0x80; ++c) {
        std::string name = "site" + std::string(1, static_cast<char>(c)) + "A";
        const char* refusal = ProjectNameRefusal(name.c_str());
        if (c < 0x20 || c == 0x7F) {
            EXPECT_EQ(refusal ? std::string(refusal) : "", message) << c;
        } else if (c != '/') {
            EXPECT_EQ(refusal, nullptr) << c;
        }
    }
    // Letters beyond ASCII are no control characters.
    EXPECT_EQ(ProjectNameRefusal("Stra\xC3\x9F" "e"), nullptr);
}

// ---- Data source ----

TEST_F(WindowTest, SourceRadiosAndBrowseFollowTheTable)
{
    OpenWindow();
    Click(IDC_SOURCE_LOGFILE);
    // Choosing one radio clears the other, the one set at start-up included.
    EXPECT_TRUE(dlg->IsDlgButtonChecked(IDC_SOURCE_LOGFILE));
    EXPECT_FALSE(dlg->IsDlgButtonChecked(IDC_SOURCE_SERIAL));
    EXPECT_TRUE(Enabled(IDC_BROWSE));
    EXPECT_FALSE(Enabled(IDC_SERIAL_PORT));
    EXPECT_FALSE(Enabled(IDC_BAUDRATE));
    EXPECT_FALSE(Enabled(IDC_START)) << "no log file opened yet";

    // Cancelled with nothing chosen before: nothing changes.
    Click(IDC_BROWSE);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_FALSE(requests[0].openStyle);
    EXPECT_EQ(requests[0].defaultExtension, "log");
    ASSERT_EQ(requests[0].filters.size(), 2u);
    EXPECT_EQ(requests[0].filters[0], (std::pair<std::string, std::string>{"Log file (*.log)", "*.log"}));
    EXPECT_EQ(requests[0].filters[1], (std::pair<std::string, std::string>{"All Files (*.*)", "*.*"}));
    EXPECT_EQ(Text(IDC_LOGFILE_PATH), "");
    EXPECT_FALSE(Enabled(IDC_START));
    EXPECT_TRUE(boxes.empty());

    // A name typed without extension gets ".log" before it is opened and measured.
    WriteAll(WorkDir() / "capture.log", "55 FF 00 08 07 00 00 73 ");
    fileAnswers.push_back("capture");
    Click(IDC_BROWSE);
    EXPECT_EQ(Text(IDC_LOGFILE_PATH), (WorkDir() / "capture.log").string());
    EXPECT_EQ(Text(IDC_FILE_LENGTH), "24");
    EXPECT_TRUE(Enabled(IDC_START));
    EXPECT_EQ(g_MstpStack.m_lLogFileSize, 24);

    // Serial radio and back: a log file was opened before, Start stays enabled.
    Click(IDC_SOURCE_SERIAL);
    EXPECT_TRUE(dlg->IsDlgButtonChecked(IDC_SOURCE_SERIAL));
    EXPECT_FALSE(dlg->IsDlgButtonChecked(IDC_SOURCE_LOGFILE));
    EXPECT_TRUE(Enabled(IDC_START));
    EXPECT_FALSE(Enabled(IDC_BROWSE));
    EXPECT_TRUE(Enabled(IDC_SERIAL_PORT));
    EXPECT_TRUE(Enabled(IDC_BAUDRATE));
    Click(IDC_SOURCE_LOGFILE);
    EXPECT_TRUE(Enabled(IDC_START));

    // Cancel after an earlier choice measures the earlier file again.
    WriteAll(WorkDir() / "capture.log", "55 FF 00 08 07 00 00 73 55 FF ");
    Click(IDC_BROWSE);
    EXPECT_EQ(Text(IDC_FILE_LENGTH), "30");

    // A file that cannot be opened: the box, the refused path shown, the length kept.
    fileAnswers.push_back((WorkDir() / "missing.log").string());
    Click(IDC_BROWSE);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Can't open log file!");
    EXPECT_EQ(boxes[0].caption, AppName());
    EXPECT_EQ(boxes[0].type & MB_TYPEMASK, static_cast<unsigned>(MB_OK));
    EXPECT_EQ(Text(IDC_LOGFILE_PATH), (WorkDir() / "missing.log").string());
    EXPECT_EQ(Text(IDC_FILE_LENGTH), "30");
    EXPECT_EQ(g_MstpStack.m_nLogReadState, LOG_READ_OPEN_FAILED);
    // A folder (which the C runtime here would open) and a named pipe (whose open would wait for a
    // writer) are no log files: the same refusal, at once.
    fs::create_directories(WorkDir() / "captures.d");
    ASSERT_EQ(mkfifo((WorkDir() / "pipe.log").c_str(), 0600), 0);
    for (const char* name : {"captures.d", "pipe.log"}) {
        boxes.clear();
        fileAnswers.push_back((WorkDir() / name).string());
        Click(IDC_BROWSE);
        ASSERT_EQ(boxes.size(), 1u) << name;
        EXPECT_EQ(boxes[0].text, "Can't open log file!");
        EXPECT_EQ(Text(IDC_FILE_LENGTH), "30");
    }
    // After the failed open the log-file radio disables Start.
    Click(IDC_SOURCE_SERIAL);
    Click(IDC_SOURCE_LOGFILE);
    EXPECT_FALSE(Enabled(IDC_START));

    // An empty file: length 0 and Start enabled.
    WriteAll(WorkDir() / "empty.log", "");
    fileAnswers.push_back((WorkDir() / "empty.log").string());
    Click(IDC_BROWSE);
    EXPECT_EQ(Text(IDC_FILE_LENGTH), "0");
    EXPECT_TRUE(Enabled(IDC_START));
}

// ---- Help boxes, Close ----

TEST_F(WindowTest, HelpButtonsShowTheirTexts)
{
    OpenWindow();
    struct {
        int id;
        const char* text;
    } cases[] = {{IDC_HELP_AVERAGE, kAverageHelp}, {IDC_HELP_PROJECT, kProjectHelp}, {IDC_HELP_LOGFILE, kLogFileHelp}};
    for (const auto& c : cases) {
        boxes.clear();
        Click(c.id);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, c.text);
        EXPECT_EQ(boxes[0].caption, AppName());
        EXPECT_EQ(boxes[0].type, static_cast<unsigned>(MB_OK)) << "an OK button and no icon";
    }
}

TEST_F(WindowTest, CloseRefusesABadSampleCountAndKeepsTheWindow)
{
    OpenWindow();
    TypeInto(IDC_AVERAGE_DIM, "50");
    Click(IDOK);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Please enter an integer between 100 and 10000.");
    EXPECT_EQ(boxes[0].caption, AppName());
    EXPECT_FALSE(dlg->IsEnded());
    EXPECT_FALSE(dlg->HasTimer(BANNER_TIMER_ID)) << "the banner no longer changes";
    EXPECT_EQ(dlg->GetQWidget()->focusWidget(), W(IDC_AVERAGE_DIM));
    EXPECT_EQ(dlg->m_nAverageDim, 50);

    TypeInto(IDC_AVERAGE_DIM, "ten");
    Click(IDOK);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, "Please enter an integer.");
    EXPECT_EQ(dlg->m_nAverageDim, 50) << "a text that is no number keeps the member";
    EXPECT_FALSE(dlg->IsEnded());

    TypeInto(IDC_AVERAGE_DIM, " 250 ");
    TypeInto(IDC_PROJECT_NAME, "site");
    Click(IDOK);
    EXPECT_TRUE(dlg->IsEnded());
    EXPECT_EQ(dlg->GetResult(), IDOK);
    EXPECT_EQ(dlg->m_nAverageDim, 250);
    EXPECT_EQ(std::string(dlg->m_strProjectName), "site");
}

TEST_F(WindowTest, EnterInAFieldPressesClose)
{
    // Close is the default button: Enter in an edit or in a combo's edit field presses it.
    for (int id : {IDC_PROJECT_NAME, IDC_AVERAGE_DIM, IDC_BAUDRATE, IDC_SERIAL_PORT}) {
        OpenWindow();
        TypeInto(id, id == IDC_AVERAGE_DIM ? "200" : "19200");
        QWidget* target = W(id);
        if (auto* combo = qobject_cast<QComboBox*>(target))
            target = combo->lineEdit();
        QTest::keyClick(target, Qt::Key_Return);
        EXPECT_TRUE(dlg->IsEnded()) << id;
        EXPECT_EQ(dlg->GetResult(), IDOK) << id;
        dlg.reset();
        theApp.m_pMainWnd = nullptr;
    }
}

TEST_F(WindowTest, EscapeAndTheCloseBoxEndWithoutReadBack)
{
    OpenWindow();
    TypeInto(IDC_AVERAGE_DIM, "5");
    QTest::keyClick(W(IDC_AVERAGE_DIM), Qt::Key_Escape);
    EXPECT_TRUE(dlg->IsEnded());
    EXPECT_EQ(dlg->GetResult(), IDCANCEL);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(dlg->m_nAverageDim, 100);

    dlg->DestroyWindow();
    OpenWindow();
    dlg->GetQWidget()->close();
    EXPECT_TRUE(dlg->IsEnded());
    EXPECT_EQ(dlg->GetResult(), IDCANCEL);
}

TEST_F(WindowTest, ModalRunEndsWhicheverWayTheWindowIsClosed)
{
    // The whole start-up call: the main window runs modally and the call returns FALSE.
    for (int way = 0; way < 3; ++way) {
        QTimer::singleShot(0, [way] {
            CWnd* main = AfxGetMainWnd();
            ASSERT_NE(main, nullptr);
            QWidget* w = main->GetQWidget();
            if (way == 0)
                static_cast<QPushButton*>(main->GetDlgItem(IDOK)->GetQWidget())->click();
            else if (way == 1)
                QTest::keyClick(w, Qt::Key_Escape);
            else
                w->close();
        });
        EXPECT_EQ(theApp.InitInstance(), FALSE);
        EXPECT_EQ(AfxGetMainWnd(), nullptr);
    }
}

// ---- Banner, cursor, system menu ----

namespace {
int g_draw = 0;
int ScriptedDraw()
{
    return g_draw;
}

// Polls until the About box is up and shown (it is modal: it blocks the main window while it
// runs), then stops and hands it to act, once.
void WhenAboutBoxShows(QTimer& poll, std::function<void(QWidget*)> act)
{
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&poll, act] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal->windowTitle() != "About Quorix")
            return;
        poll.stop();
        act(modal);
    });
    poll.start();
}
}  // namespace

TEST_F(WindowTest, BannerDrawsAndLinks)
{
    SetBannerRandom(ScriptedDraw);
    g_draw = 0;
    OpenWindow();
    const std::string base = std::string("http://") + QUORIX_WEB_HOST;
    for (int draw = 0; draw < 10; ++draw) {
        g_draw = draw + 10;  // the draw is taken modulo 10
        dlg->SendMessage(WM_TIMER, BANNER_TIMER_ID, 0);
        int expected = draw <= 3 ? draw : 0;
        EXPECT_EQ(dlg->m_nBanner, expected) << draw;
        EXPECT_EQ(dlg->m_banner.GetBitmap(), dlg->m_bitmaps[expected].GetSafeHandle());
        EXPECT_EQ(dlg->GetTimerElapse(BANNER_TIMER_ID), 5000u) << "each draw restarts the timer";
        opened.clear();
        Click(IDC_BANNER);
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(opened[0], base + "/a/zel_utility_quorx_banner" + std::to_string(expected) +
                                 "?ref=ZEL Quorix(1.10aA)");
    }
}

TEST_F(WindowTest, BannerOpensOnlyOnALeftClickThatBeganAndEndedOnIt)
{
    OpenWindow();
    QWidget* banner = W(IDC_BANNER);
    QWindow* window = dlg->GetQWidget()->windowHandle();
    const QPoint centre = banner->rect().center();
    const QPoint inWindow = banner->mapTo(dlg->GetQWidget(), centre);
    const QPoint belowBanner = banner->mapTo(dlg->GetQWidget(), QPoint(centre.x(), banner->height() + 20));
    const struct {
        const char* name;
        std::function<void()> act;
        size_t links;
    } cases[] = {
        {"left click", [&] { QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, inWindow); }, 1},
        {"left press and release at another spot of the banner",
         [&] {
             QTest::mousePress(banner, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
             QTest::mouseRelease(banner, Qt::LeftButton, Qt::NoModifier, centre);
         },
         1},
        {"right click", [&] { QTest::mouseClick(banner, Qt::RightButton, Qt::NoModifier, centre); }, 0},
        {"middle click", [&] { QTest::mouseClick(banner, Qt::MiddleButton, Qt::NoModifier, centre); }, 0},
        {"press elsewhere, release on the banner",
         [&] {
             QTest::mousePress(W(IDC_PROJECT_NAME), Qt::LeftButton);
             QTest::mouseRelease(banner, Qt::LeftButton, Qt::NoModifier, centre);
         },
         0},
        {"press on the banner, dragged off and released",
         [&] {
             QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, inWindow);
             QTest::mouseMove(window, belowBanner);
             QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, belowBanner);
         },
         0},
        {"right press on the banner, left release on it",
         [&] {
             QTest::mousePress(banner, Qt::RightButton, Qt::NoModifier, centre);
             QTest::mouseRelease(banner, Qt::RightButton, Qt::NoModifier, centre);
             QTest::mouseRelease(banner, Qt::LeftButton, Qt::NoModifier, centre);
         },
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        opened.clear();
        c.act();
        QApplication::processEvents();
        EXPECT_EQ(opened.size(), c.links);
    }
}

TEST_F(WindowTest, HandCursorOnlyOverTheBanner)
{
    OpenWindow();
    QWidget* w = dlg->GetQWidget();
    QWidget* banner = W(IDC_BANNER);
    QWidget* start = W(IDC_START);
    // The offscreen window system moves no real pointer: each widget gets the enter event that the
    // pointer's arrival would give it.
    auto enter = [](QWidget* target) {
        QPointF at(target->width() / 2.0, target->height() / 2.0);
        QEnterEvent event(at, at, target->mapToGlobal(at));
        QApplication::sendEvent(target, &event);
    };
    enter(banner);
    EXPECT_EQ(banner->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_NE(g_hHandCursor, nullptr);
    EXPECT_EQ(GetCursorShape(g_hHandCursor), Qt::PointingHandCursor);
    enter(start);
    EXPECT_NE(start->cursor().shape(), Qt::PointingHandCursor);
    enter(w);
    EXPECT_NE(w->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(WindowTest, ThePointerPassingOverTheBannerLeavesTheEditsTheirTextCursor)
{
    OpenWindow();
    QWidget* w = dlg->GetQWidget();
    QWindow* window = w->windowHandle();
    // The pointer moved through the window system, as a person moves it, onto each control in turn.
    auto moveOnto = [&](QWidget* target) {
        QTest::mouseMove(window, target->mapTo(w, target->rect().center()));
        QApplication::processEvents();
    };
    auto editCursor = [](QWidget* edit) {
        return qobject_cast<QLineEdit*>(edit)->cursor().shape();
    };
    // The pointer arrives on the window's background first.
    QTest::mouseMove(window, QPoint(w->width() / 2, w->height() - 3));
    const Qt::CursorShape projectBefore = editCursor(W(IDC_PROJECT_NAME));
    ASSERT_EQ(projectBefore, Qt::IBeamCursor);
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        moveOnto(W(IDC_BANNER));
        EXPECT_EQ(W(IDC_BANNER)->cursor().shape(), Qt::PointingHandCursor);
        for (int id : {IDC_PROJECT_NAME, IDC_AVERAGE_DIM}) {
            moveOnto(W(id));
            EXPECT_EQ(editCursor(W(id)), Qt::IBeamCursor) << id;
        }
        // A read-only field keeps the toolkit's own cursor for it, and so does every button.
        moveOnto(W(IDC_FILE_LENGTH));
        EXPECT_NE(editCursor(W(IDC_FILE_LENGTH)), Qt::PointingHandCursor);
        moveOnto(W(IDC_START));
        EXPECT_EQ(W(IDC_START)->cursor().shape(), Qt::ArrowCursor);
        QTest::mouseMove(window, QPoint(w->width() / 2, w->height() - 3));
        EXPECT_EQ(w->cursor().shape(), Qt::ArrowCursor);
    }
}

TEST_F(WindowTest, AMinimisedWindowPaintsItsIconInTheMiddle)
{
    OpenWindow();
    QWidget* w = dlg->GetQWidget();
    const QColor normal = w->grab().toImage().pixelColor(w->width() / 2 - 15, w->height() / 2 - 15);
    w->setWindowState(Qt::WindowMinimized);
    ASSERT_TRUE(dlg->IsIconic());
    QImage painted = w->grab().toImage();
    // The icon's dark frame sits at ((width - 32 + 1) / 2, (height - 32 + 1) / 2).
    int x = (w->width() - 32 + 1) / 2;
    int y = (w->height() - 32 + 1) / 2;
    QColor corner = painted.pixelColor(x + 1, y + 1);
    EXPECT_LT(corner.red(), 80);
    EXPECT_GT(corner.blue(), 90);
    EXPECT_NE(corner, normal);
    EXPECT_EQ(dlg->OnQueryDragIcon(), dlg->m_hIcon);
    w->setWindowState(Qt::WindowNoState);
}

TEST_F(WindowTest, AboutFromTheContextMenuAndTheButton)
{
    OpenWindow();
    std::vector<std::string> captions;
    // Waits for the About box to be up, then closes it with Escape.
    auto closeAboutSoon = [&captions] {
        auto* poll = new QTimer;
        WhenAboutBoxShows(*poll, [poll, &captions](QWidget* modal) {
            captions.push_back(modal->windowTitle().toStdString());
            poll->deleteLater();
            QTest::keyClick(modal, Qt::Key_Escape);
        });
    };
    // Right-click opens the system menu stand-in; its About entry is clicked like a person would.
    QTimer::singleShot(0, [&] {
        auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(popup, nullptr);
        QAction* about = nullptr;
        for (QAction* a : popup->actions())
            if (a->text() == "&About Quorix...")
                about = a;
        ASSERT_NE(about, nullptr);
        closeAboutSoon();
        QTest::mouseClick(popup, Qt::LeftButton, Qt::NoModifier, popup->actionGeometry(about).center());
    });
    // A right-click on the window's background, through the window system like a real one.
    QWidget* w = dlg->GetQWidget();
    QPoint at(w->width() / 2, w->height() - 5);
    QTest::mouseClick(w->windowHandle(), Qt::RightButton, Qt::NoModifier, at);
    QApplication::processEvents();

    closeAboutSoon();
    Click(IDC_ABOUT);
    EXPECT_EQ(captions, (std::vector<std::string>{"About Quorix", "About Quorix"}));
    EXPECT_FALSE(dlg->IsEnded());
}

TEST_F(WindowTest, AnAboutBoxEndedDuringARequestKeepsTheMainWindowBlockedUntilItsBoxIsAnswered)
{
    // Escape on the About box while "Check for updates" waits, then Close on the main window: the
    // About box stays up until the request's box is answered, and the main window, blocked by it
    // all the while, stays open.
    LoopbackServer server;
    const char kCheckPath[] = "/script/checkversion.php";
    server.Reply(kCheckPath, 200, "PASS");
    server.Hold(kCheckPath);
    SetVantrelWebHost(server.Host().c_str());
    // The program's own message pump, so that the window stays live while the request waits.
    ShellOpenHook shellHook = SetShellOpenHook(nullptr);
    InstallQtPlatformHooks();
    SetShellOpenHook(shellHook);
    OpenWindow();
    QWidget* main = dlg->GetQWidget();
    QWidget* about = nullptr;
    std::vector<std::string> atBox;
    SetMessageBoxHook([&](const std::string& text, const std::string& caption, unsigned type) {
        boxes.push_back({text, caption, type});
        atBox.push_back(std::string(about && about->isVisible() ? "about shown" : "about gone") +
                        (main->isVisible() ? ", main shown" : ", main gone"));
        return DefaultMessageBoxAnswer(type);
    });
    bool mainEndedByClose = true;
    // Runs inside the request's message pump; acts once the request has reached the server.
    QTimer duringRequest;
    duringRequest.setInterval(10);
    QObject::connect(&duringRequest, &QTimer::timeout, [&] {
        if (server.TakeRequests().empty())
            return;
        duringRequest.stop();
        QTest::keyClick(about, Qt::Key_Escape);
        QApplication::processEvents();
        QWidget* close = W(IDOK);
        QTest::mouseClick(main->windowHandle(), Qt::LeftButton, Qt::NoModifier, close->mapTo(main, close->rect().center()));
        QApplication::processEvents();
        mainEndedByClose = dlg->IsEnded();
        server.Release(kCheckPath);
    });
    QTimer poll;
    WhenAboutBoxShows(poll, [&](QWidget* modal) {
        about = modal;
        QPushButton* check = nullptr;
        for (QPushButton* b : about->findChildren<QPushButton*>())
            if (b->text() == "Check for updates")
                check = b;
        ASSERT_NE(check, nullptr);
        duringRequest.start();
        QTest::mouseClick(check, Qt::LeftButton);  // returns once the request is answered
    });
    // Should the request never arrive, the boxes still end, and the test fails instead of hanging.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        server.Release(kCheckPath);
        if (QWidget* modal = QApplication::activeModalWidget())
            QTest::keyClick(modal, Qt::Key_Escape);
    });
    watchdog.start(120000);
    Click(IDC_ABOUT);
    SetVantrelWebHost(nullptr);
    SetMessagePumpHook(nullptr);
    EXPECT_FALSE(mainEndedByClose);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "No updates available ");
    EXPECT_EQ(atBox, std::vector<std::string>{"about shown, main shown"});
    EXPECT_FALSE(dlg->IsEnded());
    EXPECT_TRUE(main->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// ---- Captures from log files ----

class CaptureTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        CopyAssets(WorkDir());
    }

    // Chooses the file, presses Start and waits for the run timer to end the capture.
    void RunLogCapture(const fs::path& file, const std::string& project = "")
    {
        OpenWindow();
        ChooseLogFile(file);
        if (!project.empty())
            TypeInto(IDC_PROJECT_NAME, project);
        Click(IDC_START);
        ASSERT_TRUE(Shown(IDC_STOP));
        ASSERT_TRUE(WaitUntil([this] { return Shown(IDC_START); })) << Text(IDC_STATUS);
    }
};

TEST_F(CaptureTest, LogFileCaptureWritesTheReportFolder)
{
    mstpgen::Traffic t = SmallNetwork(6000, 0.03);
    WriteAll(WorkDir() / "site.log", mstpgen::ToHexLog(t.octets));
    OpenWindow();
    ChooseLogFile(WorkDir() / "site.log");
    TypeInto(IDC_PROJECT_NAME, "site");
    Click(IDC_START);
    // While it runs: Stop shown, the source locked.
    EXPECT_FALSE(Shown(IDC_START));
    EXPECT_TRUE(Enabled(IDC_STOP));
    EXPECT_FALSE(Enabled(IDC_BROWSE));
    EXPECT_FALSE(Enabled(IDC_SOURCE_LOGFILE));
    EXPECT_FALSE(Enabled(IDC_SOURCE_SERIAL));
    EXPECT_TRUE(dlg->HasTimer(RUN_TIMER_ID));
    ASSERT_TRUE(WaitUntil([this] { return Shown(IDC_START); }));

    std::vector<fs::path> folders = ReportFolders(WorkDir());
    ASSERT_EQ(folders.size(), 1u);
    const fs::path folder = folders[0];
    EXPECT_TRUE(std::regex_match(folder.filename().string(),
                                 std::regex(R"(site \[\d\d-\d\d-\d{4} \d\d-\d\d-\d\d\])")));
    EXPECT_EQ(g_strReportPath, folder.string());
    EXPECT_EQ(Text(IDC_STATUS), "Log file read completed......\nThe report file path is: " + folder.string());
    for (const char* f : {"index.html", "Raw_mstp_frames.txt", "Raw_mstp_frames.html", "MAC_add_report.txt",
                          "Notes_report.html", "Who_talks_to_who_report.txt", "Effective_max_master_report.html",
                          "Op_Report_MAC_1.txt", "Op_Report_MAC_3.html", "Op_Report_MAC_7.txt", "logo.gif",
                          "notes.gif", "link_icon.gif", "style.css"})
        EXPECT_TRUE(fs::exists(folder / f)) << f;
    std::string raw = ReadAll(folder / "Raw_mstp_frames.txt");
    // Every frame is logged; a damaged one may end as more than one piece.
    EXPECT_GE(CountFrameLines(raw), static_cast<int>(t.frames));
    int valid = CountFrameLines(raw, "/Valid  ");
    EXPECT_LE(valid, static_cast<int>(t.frames - t.damaged));
    EXPECT_GE(valid, static_cast<int>(t.frames - 2 * t.damaged));
    std::string index = ReadAll(folder / "index.html");
    EXPECT_NE(index.find("<A HREF=\"Op_Report_MAC_1.html\">"), std::string::npos);
    EXPECT_TRUE(index.size() > 7 && index.compare(index.size() - 7, 7, "</html>") == 0);

    EXPECT_TRUE(Enabled(IDC_REPORT_FILE));
    EXPECT_TRUE(Enabled(IDC_SOURCE_LOGFILE));
    EXPECT_TRUE(Enabled(IDC_BROWSE));
    EXPECT_FALSE(Shown(IDC_STOP));
    EXPECT_FALSE(dlg->HasTimer(RUN_TIMER_ID));
    EXPECT_EQ(static_cast<QProgressBar*>(W(IDC_PROGRESS))->value(), 0);
    EXPECT_EQ(g_pDevices, nullptr);
    EXPECT_EQ(g_MstpStack.m_bConnected, 0);

    Click(IDC_REPORT_FILE);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], folder.string() + "/index.html");

    // A second capture gets a folder of its own (the stamp moves on by a second at least), and
    // Report File opens the new one.
    QTest::qWait(1100);
    opened.clear();
    TypeInto(IDC_PROJECT_NAME, "site2");
    Click(IDC_START);
    ASSERT_TRUE(WaitUntil([this] { return Shown(IDC_START); }));
    EXPECT_EQ(ReportFolders(WorkDir()).size(), 2u);
    Click(IDC_REPORT_FILE);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], g_strReportPath + "/index.html");
    EXPECT_NE(g_strReportPath, folder.string());
}

TEST_F(CaptureTest, EmptyLogFileGivesEmptyReports)
{
    WriteAll(WorkDir() / "empty.log", "");
    RunLogCapture(WorkDir() / "empty.log");
    std::vector<fs::path> folders = ReportFolders(WorkDir());
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(Text(IDC_STATUS).rfind("Log file read completed......", 0), 0u);
    EXPECT_TRUE(fs::exists(folders[0] / "MAC_add_report.txt"));
    EXPECT_EQ(CountFrameLines(ReadAll(folders[0] / "Raw_mstp_frames.txt")), 0);
}

TEST_F(CaptureTest, FileWithoutHexRemovesTheFolder)
{
    WriteAll(WorkDir() / "notes.log", "This is a shopping list, not a capture.\n");
    RunLogCapture(WorkDir() / "notes.log");
    EXPECT_EQ(Text(IDC_STATUS), "This file may not a BACnet data log file. Please check the file......");
    EXPECT_TRUE(ReportFolders(WorkDir()).empty());
    EXPECT_FALSE(Enabled(IDC_REPORT_FILE));
    EXPECT_FALSE(dlg->HasTimer(RUN_TIMER_ID));
}

TEST_F(CaptureTest, HexTurningToTextKeepsOnlyTheTextLog)
{
    mstpgen::Traffic t = SmallNetwork(400);
    WriteAll(WorkDir() / "mixed.log", mstpgen::ToHexLog(t.octets) + "and then the cat walked over the keyboard\n");
    RunLogCapture(WorkDir() / "mixed.log");
    EXPECT_EQ(Text(IDC_STATUS), "This file may not a BACnet data log file. Please check the file......");
    std::vector<fs::path> folders = ReportFolders(WorkDir());
    ASSERT_EQ(folders.size(), 1u);
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(folders[0]))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"Raw_mstp_frames.txt"});
}

TEST_F(CaptureTest, ProjectNamesThatLeaveTheWorkingDirectoryAreRefused)
{
    WriteAll(WorkDir() / "a.log", "55 FF 00 08 07 00 00 73 ");
    OpenWindow();
    ChooseLogFile(WorkDir() / "a.log");
    fs::create_directories(WorkDir() / "sub");
    for (const std::string& name : std::vector<std::string>{"sub/x", "../up", ".", "..", std::string(300, 'n')}) {
        TypeInto(IDC_PROJECT_NAME, name);
        Click(IDC_START);
        EXPECT_TRUE(Shown(IDC_START)) << name;
        EXPECT_FALSE(Shown(IDC_STOP) && Enabled(IDC_STOP)) << name;
        EXPECT_NE(Text(IDC_STATUS).find("No capture was started."), std::string::npos) << name;
        EXPECT_EQ(g_MstpStack.m_bConnected, 0) << name;
    }
    EXPECT_TRUE(ReportFolders(WorkDir()).empty());
    EXPECT_TRUE(fs::is_empty(WorkDir() / "sub"));
    EXPECT_TRUE(ReportFolders(WorkDir().parent_path()).empty() ||
                std::none_of(fs::directory_iterator(WorkDir().parent_path()), fs::directory_iterator(),
                             [](const fs::directory_entry& e) {
                                 return e.path().filename().string().rfind("up [", 0) == 0;
                             }));
}

namespace {
time_t FixedNow()
{
    return 1741183629;
}
}  // namespace

TEST_F(CaptureTest, AFolderThatCannotBeMadeStartsNoCapture)
{
    WriteAll(WorkDir() / "a.log", "55 FF 00 08 07 00 00 73 ");
    SetWallClockHook(FixedNow);
    char stamp[24];
    FormatTimestamp(stamp, 1);
    // A plain file already holds the folder's name.
    WriteAll(WorkDir() / (std::string("noname") + stamp), "in the way");
    OpenWindow();
    ChooseLogFile(WorkDir() / "a.log");
    Click(IDC_START);
    SetWallClockHook(nullptr);
    EXPECT_TRUE(Shown(IDC_START));
    EXPECT_NE(Text(IDC_STATUS).find("The report folder could not be created"), std::string::npos);
    EXPECT_EQ(g_MstpStack.m_bConnected, 0);
    EXPECT_EQ(g_pDevices, nullptr);
}

namespace {
// Every entry below dir, links listed but not followed, as "path type".
std::vector<std::string> Tree(const fs::path& dir)
{
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        out.push_back(fs::relative(e.path(), dir).string() + " " +
                      std::to_string(static_cast<int>(e.symlink_status().type())));
    std::sort(out.begin(), out.end());
    return out;
}
}  // namespace

TEST_F(CaptureTest, ALinkOrAnythingButAFolderUnderTheFolderNameIsRefused)
{
    WriteAll(WorkDir() / "a.log", "55 FF 00 08 07 00 00 73 ");
    SetWallClockHook(FixedNow);
    char stamp[24];
    FormatTimestamp(stamp, 1);
    const fs::path taken = WorkDir() / (std::string("noname") + stamp);
    char pattern[] = "/tmp/quorix_outside_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path outside = pattern;
    fs::create_directories(WorkDir() / "inside");
    struct Case {
        const char* what;
        std::function<void()> plant;
    } cases[] = {
        {"a link to a folder outside", [&] { fs::create_directory_symlink(outside, taken); }},
        {"a link to a folder inside", [&] { fs::create_directory_symlink(WorkDir() / "inside", taken); }},
        {"a link to nothing", [&] { fs::create_symlink(outside / "later", taken); }},
        {"a plain file", [&] { WriteAll(taken, "in the way"); }},
        {"a named pipe", [&] { ASSERT_EQ(mkfifo(taken.c_str(), 0600), 0); }},
    };
    OpenWindow();
    ChooseLogFile(WorkDir() / "a.log");
    const std::string pathBefore = g_strReportPath;
    for (const Case& c : cases) {
        fs::remove(taken);
        c.plant();
        const std::vector<std::string> before = Tree(WorkDir());
        Click(IDC_START);
        EXPECT_TRUE(Shown(IDC_START)) << c.what;
        const std::string status = Text(IDC_STATUS);
        EXPECT_EQ(status.rfind("The report folder could not be created: " + taken.string(), 0), 0u) << status;
        EXPECT_EQ(status.substr(status.size() - 24), "\nNo capture was started.") << status;
        EXPECT_EQ(g_MstpStack.m_bConnected, 0) << c.what;
        EXPECT_EQ(g_pDevices, nullptr) << c.what;
        EXPECT_EQ(g_strReportPath, pathBefore) << c.what;
        EXPECT_EQ(Tree(WorkDir()), before) << c.what << ": nothing is made in the working directory";
        EXPECT_TRUE(fs::is_empty(outside)) << c.what << ": nothing is made where the link points";
        EXPECT_TRUE(fs::is_empty(WorkDir() / "inside")) << c.what;
    }
    SetWallClockHook(nullptr);
    fs::remove_all(outside);
}

TEST_F(CaptureTest, ProjectNamesWithControlCharactersAreRefused)
{
    WriteAll(WorkDir() / "a.log", "55 FF 00 08 07 00 00 73 ");
    OpenWindow();
    ChooseLogFile(WorkDir() / "a.log");
    const std::vector<std::string> before = Tree(WorkDir());
    auto* edit = qobject_cast<QLineEdit*>(W(IDC_PROJECT_NAME));
    ASSERT_NE(edit, nullptr);
    for (const std::string& name : {std::string("site\nnorth"), std::string("site\tnorth"), std::string("site\x7F"),
                                    std::string("\rsite"), std::string("site\x1B[31m")}) {
        // Pasted, as such names come in.
        QApplication::clipboard()->setText(QString::fromStdString(name));
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        ASSERT_EQ(edit->text().toStdString(), name);
        Click(IDC_START);
        EXPECT_TRUE(Shown(IDC_START));
        EXPECT_EQ(Text(IDC_STATUS),
                  "The project name must not contain control characters such as a line break or a tab.\n"
                  "No capture was started.");
        EXPECT_EQ(g_MstpStack.m_bConnected, 0);
    }
    EXPECT_EQ(Tree(WorkDir()), before);
    EXPECT_TRUE(ReportFolders(WorkDir().parent_path()).empty() ||
                std::none_of(fs::directory_iterator(WorkDir().parent_path()), fs::directory_iterator(),
                             [](const fs::directory_entry& e) { return e.path().filename().string().rfind("site", 0) == 0; }));
}

TEST_F(CaptureTest, TwoStartsInOneSecondShareTheFolder)
{
    WriteAll(WorkDir() / "a.log", mstpgen::ToHexLog(SmallNetwork(200).octets));
    SetWallClockHook(FixedNow);
    OpenWindow();
    ChooseLogFile(WorkDir() / "a.log");
    for (int run = 0; run < 2; ++run) {
        Click(IDC_START);
        ASSERT_TRUE(Shown(IDC_STOP)) << run;
        ASSERT_TRUE(WaitUntil([this] { return Shown(IDC_START); })) << Text(IDC_STATUS);
    }
    SetWallClockHook(nullptr);
    std::vector<fs::path> folders = ReportFolders(WorkDir());
    ASSERT_EQ(folders.size(), 1u);
    auto count = [](const std::string& text, const std::string& piece) {
        size_t n = 0;
        for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
            ++n;
        return n;
    };
    // The appended raw log gets a second head; the index page is begun afresh.
    std::string raw = ReadAll(folders[0] / "Raw_mstp_frames.html");
    EXPECT_EQ(count(raw, "<h1>Raw MSTP Frame log file</h1>"), 2u);
    std::string index = ReadAll(folders[0] / "index.html");
    EXPECT_EQ(count(index, "<h1>Index of Report File</h1>"), 1u);
    EXPECT_EQ(count(index, "Notes File</A>"), 1u);
}

TEST_F(CaptureTest, ARejectedRunFileThatCannotBeRemovedStillEndsTheRun)
{
    WriteAll(WorkDir() / "notes.log", "This is a shopping list, not a capture.\n");
    SetWallClockHook(FixedNow);
    char stamp[24];
    FormatTimestamp(stamp, 1);
    // A folder that is not empty stands where index.html goes, so its removal fails.
    fs::path folder = WorkDir() / (std::string("noname") + stamp);
    fs::create_directories(folder / "index.html");
    WriteAll(folder / "index.html" / "keep.txt", "in the way");
    RunLogCapture(WorkDir() / "notes.log");
    SetWallClockHook(nullptr);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.rfind((folder / "index.html").string() + " could not be removed", 0), 0u) << boxes[0].text;
    EXPECT_EQ(Text(IDC_STATUS), "This file may not a BACnet data log file. Please check the file......");
    // The common end of Stop ran all the same: the run timer cannot call Stop again.
    EXPECT_FALSE(dlg->HasTimer(RUN_TIMER_ID));
    EXPECT_FALSE(Shown(IDC_STOP));
    EXPECT_TRUE(Enabled(IDC_START));
    EXPECT_EQ(g_pDevices, nullptr);
    EXPECT_FALSE(fs::exists(folder / "Raw_mstp_frames.html"));
    EXPECT_TRUE(fs::exists(folder / "index.html" / "keep.txt"));
}

TEST_F(CaptureTest, LogFileGoneAfterBrowseStartsNoCapture)
{
    OpenWindow();
    // The file measured by Browse is deleted, or a folder takes its place (which the C runtime here
    // would open as an empty stream): Start refuses either way.
    for (bool folderInItsPlace : {false, true}) {
        WriteAll(WorkDir() / "gone.log", "55 FF 00 08 07 00 00 73 ");
        ChooseLogFile(WorkDir() / "gone.log");
        fs::remove(WorkDir() / "gone.log");
        if (folderInItsPlace)
            fs::create_directories(WorkDir() / "gone.log");
        boxes.clear();
        Click(IDC_START);
        ASSERT_EQ(boxes.size(), 1u) << folderInItsPlace;
        EXPECT_EQ(boxes[0].text, "Can't open log file!");
        EXPECT_TRUE(Shown(IDC_START));
        EXPECT_TRUE(ReportFolders(WorkDir()).empty());
        EXPECT_EQ(g_MstpStack.m_bConnected, 0);
    }
}

namespace {
void* NoMemory(size_t)
{
    return nullptr;
}
}  // namespace

TEST_F(CaptureTest, NoDeviceTableEndsStartLikeAFailedPort)
{
    WriteAll(WorkDir() / "a.log", mstpgen::ToHexLog(SmallNetwork(300).octets));
    OpenWindow();
    ChooseLogFile(WorkDir() / "a.log");
    SetDeviceTableAllocatorForTest(NoMemory);
    Click(IDC_START);
    SetDeviceTableAllocatorForTest(nullptr);
    const std::string memory = "Error: Not enough memory available could not allocate memory for program.";
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().text, memory);
    EXPECT_EQ(boxes.back().caption, AppName());
    EXPECT_EQ(g_MstpStack.m_bConnected, 0) << "no worker may deliver into a missing table";
    EXPECT_FALSE(dlg->HasTimer(RUN_TIMER_ID));
    EXPECT_TRUE(Shown(IDC_STOP));
    Click(IDC_STOP);
    EXPECT_TRUE(Shown(IDC_START));
    EXPECT_NE(Text(IDC_STATUS).find("No reports were written"), std::string::npos);
}

TEST_F(CaptureTest, SampleCountRefusedAtStartIsRestoredByTheTimer)
{
    mstpgen::Traffic t = SmallNetwork(200000);
    WriteAll(WorkDir() / "long.log", mstpgen::ToHexLog(t.octets));
    OpenWindow();
    ChooseLogFile(WorkDir() / "long.log");
    TypeInto(IDC_AVERAGE_DIM, "50");
    Click(IDC_START);
    ASSERT_GE(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Please enter an integer between 100 and 10000.");
    EXPECT_EQ(g_MstpStack.m_nAverageDim, 50);
    EXPECT_TRUE(Shown(IDC_STOP)) << "the capture goes on";
    // The first tick brings the window's value back to 100.
    ASSERT_TRUE(WaitUntil([this] { return Text(IDC_AVERAGE_DIM) == "100" || Shown(IDC_START); }));
    ASSERT_TRUE(WaitUntil([this] { return Shown(IDC_START); }));
    EXPECT_EQ(g_MstpStack.m_nAverageDim, 100) << "Stop gives 100 to the stack before the reports";
}

TEST_F(CaptureTest, StopInTheMiddleOfALogFile)
{
    mstpgen::Traffic t = SmallNetwork(400000);
    WriteAll(WorkDir() / "long.log", mstpgen::ToHexLog(t.octets));
    OpenWindow();
    ChooseLogFile(WorkDir() / "long.log");
    // Descriptors open on the log file (the toolkit's threads open descriptors of their own).
    const fs::path logPath = fs::canonical(WorkDir() / "long.log");
    auto openOnLog = [&logPath] {
        int n = 0;
        for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
            std::error_code ec;
            n += fs::read_symlink(e.path(), ec) == logPath ? 1 : 0;
        }
        return n;
    };
    ASSERT_EQ(openOnLog(), 0);
    Click(IDC_START);
    // Stop as soon as some frames are in the raw log.
    ASSERT_TRUE(WaitUntil([&] {
        return fs::exists(g_strReportPath + "/Raw_mstp_frames.txt") || Shown(IDC_START);
    }));
    if (!Shown(IDC_START)) {
        Click(IDC_STOP);
        EXPECT_EQ(Text(IDC_STATUS).rfind("Log file read stopped......", 0), 0u);
    }
    EXPECT_TRUE(Shown(IDC_START));
    EXPECT_TRUE(fs::exists(g_strReportPath + "/MAC_add_report.txt"));
    EXPECT_EQ(g_MstpStack.m_bConnected, 0);
    EXPECT_EQ(openOnLog(), 0) << "the log file stream is closed with the capture";
}

// A log past 2 GiB: Browse shows its true length, and the reader goes through the blank space to the
// frames past the mark.
TEST_F(CaptureTest, ALogPastTwoGibibytesIsReadToItsEnd)
{
    uint64_t freeBytes = 0;
    if (!mstpgen::RoomForBigLog(WorkDir().string(), &freeBytes))
        GTEST_SKIP() << "needs 2.2 GB free in " << WorkDir() << " for a log past 2 GiB; " << freeBytes << " bytes free";
    const mstpgen::Traffic head = SmallNetwork(300);
    mstpgen::NetworkSpec later;
    later.seed = 2;
    const mstpgen::Traffic tail = mstpgen::Generate(later, 3000);
    const std::string tailText = mstpgen::ToHexLog(tail.octets);
    const int64_t tailAt = mstpgen::kTwoGiB + 1000;
    const fs::path log = WorkDir() / "day.log";
    if (!mstpgen::WriteBlankPaddedLog(log.string(), mstpgen::ToHexLog(head.octets), tailAt, tailText))
        GTEST_SKIP() << "a log past 2 GiB could not be written in " << WorkDir();
    const int64_t size = tailAt + static_cast<int64_t>(tailText.size());

    OpenWindow();
    ChooseLogFile(log);
    EXPECT_EQ(Text(IDC_FILE_LENGTH), std::to_string(size));
    EXPECT_EQ(g_MstpStack.m_lLogFileSize, size);
    TypeInto(IDC_PROJECT_NAME, "day");
    Click(IDC_START);
    int lowest = 0, highest = 0;
    ASSERT_TRUE(WaitUntil([&] {
        lowest = std::min(lowest, g_nProgress);
        highest = std::max(highest, g_nProgress);
        return Shown(IDC_START);
    }));
    fs::remove(log);
    EXPECT_GE(lowest, 0);
    EXPECT_LE(highest, 100);
    EXPECT_EQ(Text(IDC_STATUS), "Log file read completed......\nThe report file path is: " + g_strReportPath);
    const std::string raw = ReadAll(g_strReportPath + "/Raw_mstp_frames.txt");
    EXPECT_EQ(CountFrameLines(raw), static_cast<int>(head.frames + tail.frames));
    EXPECT_EQ(CountFrameLines(raw, "/Valid  "), static_cast<int>(head.frames + tail.frames));
}

TEST(LogReadProgress, TruncatedPercentOfSizesPastTwoGibibytes)
{
    const int64_t GiB = int64_t{1} << 30;
    const struct {
        int64_t position, size;
        int progress;
    } cases[] = {
        {0, 0, 0},       {10, 0, 0},          {0, 100, 0},           {50, 100, 50},          {999, 1000, 99},
        {100, 100, 100}, {3 * GiB, 4 * GiB, 75}, {2 * GiB + 1, 4 * GiB, 50}, {5 * GiB, 5 * GiB, 100},
        {GiB, 3 * GiB, 33}, {4 * GiB - 1, 4 * GiB, 99},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LogReadProgress(c.position, c.size), c.progress) << c.position << " of " << c.size;
}

// ---- Serial captures on a pseudo-terminal ----

class SerialCaptureTest : public CaptureTest {
protected:
    void SetUp() override
    {
        CaptureTest::SetUp();
        char name[256] = {};
        ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
        struct termios raw {};
        tcgetattr(slave_, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave_, TCSANOW, &raw);
        device_ = name;
    }
    void TearDown() override
    {
        CaptureTest::TearDown();
        if (slave_ >= 0)
            close(slave_);
        if (master_ >= 0)
            close(master_);
    }
    void Feed(const mstpgen::Octets& octets)
    {
        size_t done = 0;
        while (done < octets.size()) {
            ssize_t n = write(master_, octets.data() + done, octets.size() - done);
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
    }
    int master_ = -1;
    int slave_ = -1;
    std::string device_;
};

TEST_F(SerialCaptureTest, TypedDevicePathCapturesUntilStop)
{
    OpenWindow();
    TypeInto(IDC_SERIAL_PORT, device_);
    TypeInto(IDC_BAUDRATE, "38400");
    TypeInto(IDC_PROJECT_NAME, "line");
    Click(IDC_START);
    ASSERT_TRUE(Shown(IDC_STOP)) << Text(IDC_STATUS);
    EXPECT_EQ(Text(IDC_STATUS), "Monitoring messages on mstp network...\nPress [STOP] button to stop...\n");
    EXPECT_EQ(g_nBaudRate, 38400);
    // The bar sweeps one step per tick from 1.
    ASSERT_TRUE(WaitUntil([this] { return static_cast<QProgressBar*>(W(IDC_PROGRESS))->value() >= 1; }));
    // What is typed during the capture gives way to the window's values at the next tick.
    TypeInto(IDC_PROJECT_NAME, "renamed");
    TypeInto(IDC_BAUDRATE, "1200");
    ASSERT_TRUE(WaitUntil([this] { return Text(IDC_PROJECT_NAME) == "line" && Text(IDC_BAUDRATE) == "38400"; }));

    mstpgen::Octets octets;
    for (int i = 0; i < 20; ++i)
        mstpgen::Append(octets, mstpgen::Frame(mstpgen::Token, static_cast<uint8_t>(i % 2 ? 1 : 3),
                                               static_cast<uint8_t>(i % 2 ? 3 : 1)));
    Feed(octets);
    ASSERT_TRUE(WaitUntil([] {
        return CountFrameLines(ReadAll(g_strReportPath + "/Raw_mstp_frames.txt")) >= 20;
    }));
    Click(IDC_STOP);
    EXPECT_EQ(Text(IDC_STATUS), "Stopped......\nThe report file path is: " + g_strReportPath);
    EXPECT_EQ(CountFrameLines(ReadAll(g_strReportPath + "/Raw_mstp_frames.txt")), 20);
    EXPECT_TRUE(fs::exists(g_strReportPath + "/Op_Report_MAC_1.txt"));
    EXPECT_TRUE(fs::exists(g_strReportPath + "/Op_Report_MAC_3.txt"));
    EXPECT_EQ(static_cast<QProgressBar*>(W(IDC_PROGRESS))->value(), 0);
}

TEST_F(SerialCaptureTest, AVanishedPortEndsTheCaptureWithItsReports)
{
    OpenWindow();
    TypeInto(IDC_SERIAL_PORT, device_);
    TypeInto(IDC_PROJECT_NAME, "unplugged");
    Click(IDC_START);
    ASSERT_TRUE(Shown(IDC_STOP)) << Text(IDC_STATUS);
    Feed(mstpgen::Frame(mstpgen::Token, 3, 1));
    ASSERT_TRUE(WaitUntil([] { return CountFrameLines(ReadAll(g_strReportPath + "/Raw_mstp_frames.txt")) >= 1; }));
    // The adapter is pulled: the line hangs up under the running capture.
    close(master_);
    master_ = -1;
    ASSERT_TRUE(WaitUntil([this] { return Shown(IDC_START); })) << Text(IDC_STATUS);
    EXPECT_EQ(Text(IDC_STATUS), "Stopped......\nThe report file path is: " + g_strReportPath +
                                    "\nThe serial port stopped working (unplugged?): the capture ended there.");
    EXPECT_EQ(CountFrameLines(ReadAll(g_strReportPath + "/Raw_mstp_frames.txt")), 1);
    EXPECT_TRUE(fs::exists(g_strReportPath + "/Op_Report_MAC_1.txt"));
    std::string index = ReadAll(g_strReportPath + "/index.html");
    EXPECT_EQ(index.compare(index.size() - 7, 7, "</html>"), 0);
}

TEST_F(SerialCaptureTest, ClosingDuringACaptureStopsItFirst)
{
    // Close, Escape and the close box each end the capture with its reports before the window goes.
    for (int way = 0; way < 3; ++way) {
        OpenWindow();
        TypeInto(IDC_SERIAL_PORT, device_);
        TypeInto(IDC_PROJECT_NAME, "way" + std::to_string(way));
        Click(IDC_START);
        ASSERT_TRUE(Shown(IDC_STOP)) << Text(IDC_STATUS);
        Feed(mstpgen::Frame(mstpgen::Token, 2, 1));
        ASSERT_TRUE(WaitUntil([] { return CountFrameLines(ReadAll(g_strReportPath + "/Raw_mstp_frames.txt")) >= 1; }));
        if (way == 0)
            Click(IDOK);
        else if (way == 1)
            QTest::keyClick(W(IDC_PROJECT_NAME), Qt::Key_Escape);
        else
            dlg->GetQWidget()->close();
        EXPECT_TRUE(dlg->IsEnded()) << way;
        EXPECT_EQ(dlg->GetResult(), way == 0 ? IDOK : IDCANCEL) << way;
        EXPECT_EQ(g_MstpStack.m_bConnected, 0) << way;
        EXPECT_TRUE(fs::exists(g_strReportPath + "/MAC_add_report.html")) << way;
        std::string index = ReadAll(g_strReportPath + "/index.html");
        EXPECT_EQ(index.compare(index.size() - 7, 7, "</html>"), 0) << way;
        dlg->DestroyWindow();
        dlg.reset();
    }
}

TEST_F(SerialCaptureTest, ATypedPathIsOpenedOnlyWhenItIsASerialPort)
{
    // Opening a device can have effects of its own (a watchdog starts counting): what is not a
    // serial port fails as a port that does not open, without an open.
    char pattern[] = "/dev/shm/quorix_port_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr) << "the test needs /dev/shm";
    const fs::path dir = pattern;
    WriteAll(dir / "ttyPlain", "");
    ASSERT_EQ(mkfifo((dir / "ttyPipe").c_str(), 0600), 0);
    int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dir.c_str(), IN_OPEN), 0);
    struct Case {
        std::string path;
        bool opens;
    } cases[] = {
        {(dir / "ttyPlain").string(), false},
        {(dir / "ttyPipe").string(), false},
        {"/dev/null", false},  // a character device, of the mem class
        {device_, true},
    };
    OpenWindow();
    for (const Case& c : cases) {
        TypeInto(IDC_SERIAL_PORT, c.path);
        Click(IDC_START);
        ASSERT_TRUE(Shown(IDC_STOP)) << c.path;
        if (c.opens)
            EXPECT_EQ(Text(IDC_STATUS), "Monitoring messages on mstp network...\nPress [STOP] button to stop...\n");
        else
            EXPECT_EQ(Text(IDC_STATUS),
                      "FYI #36 - Cannot open serial port: " + std::to_string(g_nComPort) + "\n") << c.path;
        EXPECT_EQ(GetSerialPortDevice(g_nComPort), c.path);
        Click(IDC_STOP);
        ASSERT_TRUE(Shown(IDC_START)) << c.path;
    }
    char events[4096];
    EXPECT_LT(read(watch, events, sizeof events), 0) << "a node that is no serial port was opened";
    close(watch);
    fs::remove_all(dir);
}

TEST_F(SerialCaptureTest, ReportsThatCouldNotBeWrittenAreNamed)
{
    OpenWindow();
    TypeInto(IDC_SERIAL_PORT, device_);
    Click(IDC_START);
    ASSERT_TRUE(Shown(IDC_STOP)) << Text(IDC_STATUS);
    Feed(mstpgen::Frame(mstpgen::Token, 2, 1));
    ASSERT_TRUE(WaitUntil([] { return CountFrameLines(ReadAll(g_strReportPath + "/Raw_mstp_frames.txt")) >= 1; }));
    // A folder in the way of two report files: their writers cannot create them.
    fs::create_directory(g_strReportPath + "/MAC_add_report.txt");
    fs::create_directory(g_strReportPath + "/Notes_report.html");
    Click(IDC_STOP);
    const std::string status = Text(IDC_STATUS);
    EXPECT_EQ(status.rfind("Stopped......\nThe report file path is: " + g_strReportPath, 0), 0u) << status;
    EXPECT_NE(status.find("\nThese report files could not be written: MAC_add_report.txt MAC_add_report.html Notes_report.html"),
              std::string::npos)
        << status;
    EXPECT_EQ(status.find("Who_talks_to_who"), std::string::npos) << "only the files that are missing";
}

// A capture whose raw frame logs and one report page stand on a full disk (they open, every write
// fails): Stop names exactly those files and counts the frame lines that did not reach the log. A
// run rejected as not a log file keeps its text log, so it too tells of the lines lost.
TEST_F(CaptureTest, StopNamesWhatAFullDiskCutAndCountsTheLostFrames)
{
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    mstpgen::Octets tokens;
    for (int i = 0; i < 12; ++i)
        mstpgen::Append(tokens, mstpgen::Frame(mstpgen::Token, i % 2 ? 1 : 3, i % 2 ? 3 : 1));
    struct Case {
        const char* project;
        std::string log;
        std::string status;  // after the folder's path, for a finished capture
    } cases[] = {
        {"full", mstpgen::ToHexLog(tokens),
         "\nThese report files could not be written: Raw_mstp_frames.txt Raw_mstp_frames.html MAC_add_report.html"
         "\n12 frames could not be written to the raw frame log."},
        {"cut", mstpgen::ToHexLog(tokens) + "and then the cat walked over the keyboard\n", ""},
    };
    SetWallClockHook(FixedNow);
    char stamp[24];
    FormatTimestamp(stamp, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.project);
        fs::path folder = WorkDir() / (std::string(c.project) + stamp);
        fs::create_directories(folder);
        for (const char* file : {"Raw_mstp_frames.txt", "Raw_mstp_frames.html", "MAC_add_report.html"})
            fs::create_symlink("/dev/full", folder / file);
        WriteAll(WorkDir() / "a.log", c.log);
        RunLogCapture(WorkDir() / "a.log", c.project);
        if (c.status.empty())
            EXPECT_EQ(Text(IDC_STATUS), "This file may not a BACnet data log file. Please check the file......"
                                        "\n12 frames could not be written to the raw frame log.");
        else
            EXPECT_EQ(Text(IDC_STATUS),
                      "Log file read completed......\nThe report file path is: " + folder.string() + c.status);
        dlg->DestroyWindow();
        dlg.reset();
    }
    SetWallClockHook(nullptr);
}

// Octets lost at the port (the driver's counters stood in for): the capture recovers and goes on,
// and Stop says how often; the next capture counts afresh.
TEST_F(SerialCaptureTest, OctetsLostAtThePortAreNamedAtStop)
{
    static std::atomic<unsigned long> lost{0};
    SetSerialLossCounterHook([](int, unsigned long* count) {
        *count = lost.load();
        return true;
    });
    struct Unhook {
        ~Unhook() { SetSerialLossCounterHook(nullptr); }
    } unhook;
    auto frames = [] { return CountFrameLines(ReadAll(g_strReportPath + "/Raw_mstp_frames.txt")); };

    OpenWindow();
    TypeInto(IDC_SERIAL_PORT, device_);
    TypeInto(IDC_PROJECT_NAME, "overrun");
    Click(IDC_START);
    ASSERT_TRUE(Shown(IDC_STOP)) << Text(IDC_STATUS);
    Feed(mstpgen::Frame(mstpgen::Token, 3, 1));
    ASSERT_TRUE(WaitUntil([&] { return frames() >= 1; }));
    const int restarts = g_MstpStack.m_nRestartCount;
    lost += 4;
    ASSERT_TRUE(WaitUntil([&] { return g_MstpStack.m_nRestartCount == restarts + 1; }));
    Feed(mstpgen::Frame(mstpgen::Token, 1, 3));
    ASSERT_TRUE(WaitUntil([&] { return frames() >= 2; }));
    Click(IDC_STOP);
    EXPECT_EQ(Text(IDC_STATUS), "Stopped......\nThe report file path is: " + g_strReportPath +
                                    "\nOctets were lost at the serial port 1 times: the monitor fell behind the "
                                    "line, so the reports may miss frames.");
    EXPECT_EQ(frames(), 2);
    EXPECT_TRUE(fs::exists(g_strReportPath + "/Op_Report_MAC_1.txt"));
    EXPECT_TRUE(fs::exists(g_strReportPath + "/Op_Report_MAC_3.txt"));

    TypeInto(IDC_PROJECT_NAME, "overrun2");
    Click(IDC_START);
    ASSERT_TRUE(Shown(IDC_STOP)) << Text(IDC_STATUS);
    Feed(mstpgen::Frame(mstpgen::Token, 3, 1));
    ASSERT_TRUE(WaitUntil([&] { return frames() >= 1; }));
    Click(IDC_STOP);
    EXPECT_EQ(Text(IDC_STATUS), "Stopped......\nThe report file path is: " + g_strReportPath);
}

TEST_F(CaptureTest, PortThatDoesNotOpenEndsTheAttempt)
{
    OpenWindow();
    TypeInto(IDC_SERIAL_PORT, "COM99");
    Click(IDC_START);
    EXPECT_EQ(Text(IDC_STATUS), "FYI #36 - Cannot open serial port: 99\n");
    EXPECT_TRUE(Shown(IDC_STOP));
    EXPECT_TRUE(Enabled(IDC_STOP));
    EXPECT_FALSE(dlg->HasTimer(RUN_TIMER_ID));
    EXPECT_EQ(g_MstpStack.m_pfnFrameMonitor.load(), nullptr) << "the attempt leaves no callback behind";
    Click(IDC_STOP);
    std::string index = ReadAll(g_strReportPath + "/index.html");
    EXPECT_EQ(index.rfind("<IMG SRC=\"link_icon.gif\"><A HREF=\"Notes_report.html\">Notes File</A><br>", 0), 0u)
        << "index.html holds only Stop's lines";
    EXPECT_TRUE(fs::exists(g_strReportPath + "/MAC_add_report.txt"));
}

TEST_F(CaptureTest, FailedPortAfterARejectedFileKeepsTheRejection)
{
    // The read state is reset only once a port has opened: Stop still takes the rejected path.
    WriteAll(WorkDir() / "notes.log", "This is a shopping list, not a capture.\n");
    RunLogCapture(WorkDir() / "notes.log");
    ASSERT_EQ(g_MstpStack.m_nLogReadState, LOG_READ_NOT_LOG_FILE);
    Click(IDC_SOURCE_SERIAL);
    TypeInto(IDC_SERIAL_PORT, "COM99");
    Click(IDC_START);
    EXPECT_EQ(Text(IDC_STATUS), "FYI #36 - Cannot open serial port: 99\n");
    Click(IDC_STOP);
    EXPECT_EQ(Text(IDC_STATUS), "This file may not a BACnet data log file. Please check the file......");
    EXPECT_FALSE(Enabled(IDC_REPORT_FILE));
    EXPECT_TRUE(Shown(IDC_START));
    EXPECT_TRUE(ReportFolders(WorkDir()).empty());
}

// ---- Screenshots ----

TEST_F(CaptureTest, SavesScreenshotsOfTheWindow)
{
    AddTty("ttyUSB0", Node::Openable);
    AddTty("ttyUSB1", Node::Missing);
    OpenWindow();
    fs::path dir = fs::path(QUORIX_TEST_BINARY_DIR) / "screenshots";
    fs::create_directories(dir);
    QPixmap idle = dlg->GetQWidget()->grab();
    ASSERT_TRUE(idle.save(QString::fromStdString((dir / "main_window.png").string()), "PNG"));

    mstpgen::Traffic t = SmallNetwork(300000);
    WriteAll(WorkDir() / "site.log", mstpgen::ToHexLog(t.octets));
    ChooseLogFile(WorkDir() / "site.log");
    TypeInto(IDC_PROJECT_NAME, "screenshot");
    Click(IDC_START);
    WaitUntil([this] { return static_cast<QProgressBar*>(W(IDC_PROGRESS))->value() > 0 || Shown(IDC_START); });
    QPixmap running = dlg->GetQWidget()->grab();
    ASSERT_TRUE(running.save(QString::fromStdString((dir / "main_window_capture.png").string()), "PNG"));
    ASSERT_TRUE(WaitUntil([this] { return Shown(IDC_START); }));
    QPixmap done = dlg->GetQWidget()->grab();
    ASSERT_TRUE(done.save(QString::fromStdString((dir / "main_window_done.png").string()), "PNG"));
    EXPECT_GT(fs::file_size(dir / "main_window.png"), 1000u);
}

TEST_F(WindowTest, TheAboutBoxShowsItsWholePictureAndWebLink)
{
    OpenWindow();
    fs::path dir = fs::path(QUORIX_TEST_BINARY_DIR) / "screenshots";
    fs::create_directories(dir);
    QSize picture, room, art;
    int captionWidth = 0, captionRoom = 0;
    bool saved = false;
    QTimer poll;
    WhenAboutBoxShows(poll, [&](QWidget* modal) {
        for (QLabel* label : modal->findChildren<QLabel*>()) {
            if (label->pixmap().isNull())
                continue;
            picture = label->size();
            room = label->contentsRect().size();
            art = label->pixmap().size();
        }
        for (QPushButton* button : modal->findChildren<QPushButton*>()) {
            if (button->text() != QUORIX_WEB_HOST)
                continue;
            // The room the style leaves the caption inside the button's frame.
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            captionRoom = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
            captionWidth = QFontMetrics(button->font()).horizontalAdvance(button->text());
        }
        saved = modal->grab().save(QString::fromStdString((dir / "about_box.png").string()), "PNG");
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    Click(IDC_ABOUT);
    EXPECT_TRUE(saved);
    // The art is drawn for the picture inside its edge, so none of it is cut off (the main window's
    // 550 by 80 banner would be).
    EXPECT_FALSE(art.isEmpty());
    EXPECT_LE(art.width(), room.width()) << "picture " << picture.width() << "x" << picture.height();
    EXPECT_LE(art.height(), room.height());
    EXPECT_GT(captionWidth, 0);
    EXPECT_LE(captionWidth, captionRoom);
}
