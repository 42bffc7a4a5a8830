// End to end: e2e_capture drives the real main window through whole captures of generated log files
// and of a pseudo-terminal fed with frames; the report folders are compared with expected files.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <csignal>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "build_config.h"
#include "support/mstp_frames.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using mstpgen::Frame;
using mstpgen::Octets;

// The folder of the frozen clock (5 March 2025 14:07:09, UTC).
const char* const kStamp = " [05-03-2025 14-07-09]";

std::string ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class E2eTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/quorix_e2e_XXXXXX";
        work_ = mkdtemp(pattern);
        for (const char* asset : {"logo.gif", "notes.gif", "link_icon.gif", "style.css"})
            fs::copy_file(fs::path(QUORIX_ASSETS_DIR) / asset, work_ / asset);
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(work_, ec);
    }

    // Runs e2e_capture with these arguments; returns its exit code, its output in output_.
    int Run(const std::vector<std::string>& args)
    {
        std::vector<std::string> all = {E2E_CAPTURE_PATH};
        all.insert(all.end(), args.begin(), args.end());
        all.insert(all.end(), {"--workdir", work_.string(), "--frozen-clock"});
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        fs::path out = work_ / "e2e_output.txt";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        // Local time is UTC for the child, so the frozen clock names the folder the same everywhere.
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "TZ=", 3) != 0)
                env.push_back(*e);
        env.push_back("TZ=UTC");
        std::vector<char*> envp;
        for (std::string& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        pid_t pid = 0;
        int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            return -1;
        int status = 0;
        waitpid(pid, &status, 0);
        output_ = ReadAll(out);
        fs::remove(out);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path WriteLog(const std::string& name, const std::string& text)
    {
        fs::path p = work_ / name;
        mstpgen::WriteFile(p.string(), text);
        return p;
    }

    fs::path Folder(const std::string& project) const { return work_ / (project + kStamp); }

    fs::path work_;
    std::string output_;
};

fs::path ExpectedDir()
{
    return fs::path(QUORIX_SOURCE_DIR) / "tests" / "app" / "expected";
}

// A small capture whose reports are checked line by line: masters 1 and 3 pass the token, 3 asks
// slave 20 (answered) and slave 22 (never answers), 1 polls for a master at 2, one Token has a
// broken header CRC and one broadcast has a broken data CRC.
Octets TinyCapture()
{
    Octets o;
    mstpgen::Append(o, Frame(mstpgen::Token, 3, 1));
    mstpgen::Append(o, Frame(mstpgen::DataExpectingReply, 20, 3, {0x01, 0x04, 0x02, 0x75}));
    mstpgen::Append(o, Frame(mstpgen::DataNotExpectingReply, 3, 20, {0x01, 0x00, 0x30, 0x01}));
    mstpgen::Append(o, Frame(mstpgen::TestRequest, 22, 3));
    mstpgen::Append(o, Frame(mstpgen::Token, 1, 3));
    mstpgen::Append(o, Frame(mstpgen::PollForMaster, 2, 1));
    Octets broken = Frame(mstpgen::Token, 3, 1);
    broken[7] ^= 0x10;  // header CRC
    mstpgen::Append(o, broken);
    mstpgen::Append(o, Frame(mstpgen::Token, 3, 1));
    Octets data = Frame(mstpgen::DataNotExpectingReply, 255, 3, {0x01, 0x20, 0xFF, 0xFF});
    data[data.size() - 1] ^= 0x01;  // data CRC
    mstpgen::Append(o, data);
    mstpgen::Append(o, Frame(mstpgen::Token, 1, 3));
    return o;
}

TEST_F(E2eTest, TinyCaptureMatchesTheExpectedReports)
{
    fs::path log = WriteLog("tiny.log", mstpgen::ToHexLog(TinyCapture(), 16));
    ASSERT_EQ(Run({"--log", log.string(), "--project", "tiny"}), 0) << output_;
    fs::path folder = Folder("tiny");
    EXPECT_NE(output_.find("status Log file read completed......\nThe report file path is: " + folder.string()),
              std::string::npos)
        << output_;
    // The frozen clock makes every stamp fixed, so the files compare whole.
    for (const auto& e : fs::directory_iterator(ExpectedDir() / "tiny")) {
        std::string name = e.path().filename().string();
        ASSERT_TRUE(fs::exists(folder / name)) << name;
        EXPECT_EQ(ReadAll(folder / name), ReadAll(e.path())) << name;
    }
    std::string index = ReadAll(folder / "index.html");
    size_t at1 = index.find(">Op_Report_MAC_1.html<"), at3 = index.find(">Op_Report_MAC_3.html<"),
           at20 = index.find(">Op_Report_MAC_20.html<"), notes = index.find(">Notes File<");
    EXPECT_TRUE(at1 < at3 && at3 < at20 && at20 < notes && notes != std::string::npos) << "stations in address order";
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(folder))
        files.push_back(e.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{
                         "Effective_max_master_report.html", "Effective_max_master_report.txt", "MAC_add_report.html",
                         "MAC_add_report.txt", "Notes_report.html", "Notes_report.txt", "Op_Report_MAC_1.html",
                         "Op_Report_MAC_1.txt", "Op_Report_MAC_20.html", "Op_Report_MAC_20.txt",
                         "Op_Report_MAC_3.html", "Op_Report_MAC_3.txt", "Raw_mstp_frames.html",
                         "Raw_mstp_frames.txt", "Who_talks_to_who_report.html", "Who_talks_to_who_report.txt",
                         "index.html", "link_icon.gif", "logo.gif", "notes.gif", "style.css"}));
}

TEST_F(E2eTest, DamagedTrafficIsLoggedWithItsNotes)
{
    mstpgen::NetworkSpec network;
    network.damagePerFrame = 0.08;
    network.seed = 7;
    mstpgen::Traffic t = mstpgen::Generate(network, 20000);
    fs::path log = WriteLog("damaged.log", mstpgen::ToHexLog(t.octets));
    ASSERT_EQ(Run({"--log", log.string(), "--project", "damaged"}), 0) << output_;
    std::string raw = ReadAll(Folder("damaged") / "Raw_mstp_frames.txt");
    EXPECT_NE(raw.find("(Note2)"), std::string::npos);
    EXPECT_NE(raw.find("(Note3)"), std::string::npos);
    std::string index = ReadAll(Folder("damaged") / "index.html");
    for (const char* station : {"Op_Report_MAC_1.html", "Op_Report_MAC_3.html", "Op_Report_MAC_7.html"})
        EXPECT_NE(index.find(station), std::string::npos) << station;
}

TEST_F(E2eTest, EmptyCaptureGivesEmptyReports)
{
    fs::path log = WriteLog("empty.log", "");
    ASSERT_EQ(Run({"--log", log.string(), "--project", "empty"}), 0) << output_;
    std::string raw = ReadAll(Folder("empty") / "Raw_mstp_frames.txt");
    EXPECT_EQ(raw.rfind("\n------------------------------------------------------------------------------------------------------\n", 0), 0u)
        << "only the closing rule and the footer";
    EXPECT_EQ(ReadAll(Folder("empty") / "index.html").find("Op_Report_MAC_"), std::string::npos);
}

TEST_F(E2eTest, HexTurningToTextKeepsTheTextLogOnly)
{
    mstpgen::Traffic t = mstpgen::Generate(mstpgen::NetworkSpec{}, 600);
    fs::path log = WriteLog("mixed.log", mstpgen::ToHexLog(t.octets) + "Capture ended. Goodbye.\n");
    EXPECT_EQ(Run({"--log", log.string(), "--project", "mixed"}), 2) << output_;
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(Folder("mixed")))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"Raw_mstp_frames.txt"});
}

TEST_F(E2eTest, TextWithoutHexLeavesNoFolder)
{
    fs::path log = WriteLog("letter.log", "Dear technician, the network is fine.\n");
    EXPECT_EQ(Run({"--log", log.string(), "--project", "letter"}), 2) << output_;
    EXPECT_FALSE(fs::exists(Folder("letter")));
    EXPECT_NE(output_.find("This file may not a BACnet data log file. Please check the file......"), std::string::npos);
}

TEST_F(E2eTest, TheShippedSampleAnalyses)
{
    ASSERT_EQ(Run({"--log", (fs::path(QUORIX_SAMPLES_DIR) / "small_network.log").string(), "--project", "sample"}), 0)
        << output_;
    std::string mac = ReadAll(Folder("sample") / "MAC_add_report.txt");
    for (const char* section : {"Active Master MAC addresses", "Passive Slaves MAC addresses",
                                "List of Missing Slave MAC addresses"})
        EXPECT_NE(mac.find(section), std::string::npos) << section;
    EXPECT_NE(mac.find("\tMAC = 22\n"), std::string::npos) << "the slave that never answers";
}

// A live line on a pseudo-terminal: masters 4 and 5 pass the token every pauseUs microseconds
// (0: as fast as the line takes them) until the line is destroyed.
class TokenLine {
public:
    explicit TokenLine(useconds_t pauseUs)
    {
        char name[256] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
            return;
        struct termios raw {};
        tcgetattr(slave_, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave_, TCSANOW, &raw);
        device_ = name;
        // A full line (no reader between two captures) must not hold the writer past the test.
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        writer_ = std::thread([this, pauseUs] {
            Octets pairs;
            for (int i = 0; i < (pauseUs ? 1 : 8); ++i) {
                mstpgen::Append(pairs, Frame(mstpgen::Token, 5, 4));
                mstpgen::Append(pairs, Frame(mstpgen::Token, 4, 5));
            }
            while (!done_) {
                ssize_t n = write(master_, pairs.data(), pairs.size());
                if (n < 0 && errno != EAGAIN)
                    break;
                if (pauseUs || n < 0)
                    usleep(pauseUs ? pauseUs : 100);
            }
        });
    }
    ~TokenLine()
    {
        done_ = true;
        if (writer_.joinable())
            writer_.join();
        if (slave_ >= 0)
            close(slave_);
        if (master_ >= 0)
            close(master_);
    }
    const std::string& device() const { return device_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string device_;
    std::atomic<bool> done_{false};
    std::thread writer_;
};

TEST_F(E2eTest, SerialCaptureFromAPseudoTerminal)
{
    int rc = 0;
    {
        // Frames go in throughout the capture, as on a live line.
        TokenLine line(20000);
        ASSERT_FALSE(line.device().empty());
        rc = Run({"--serial", line.device(), "--baud", "19200", "--seconds", "2", "--project", "line"});
    }
    ASSERT_EQ(rc, 0) << output_;
    EXPECT_NE(output_.find("status Stopped......"), std::string::npos) << output_;
    std::string text = ReadAll(Folder("line") / "Raw_mstp_frames.txt");
    EXPECT_NE(text.find("S_MAC-4   D_MAC-5   Token                   /Valid  \t55 FF 00 05 04 00 00 "), std::string::npos);
    EXPECT_TRUE(fs::exists(Folder("line") / "Op_Report_MAC_4.txt"));
    EXPECT_TRUE(fs::exists(Folder("line") / "Op_Report_MAC_5.txt"));
}

TEST_F(E2eTest, PathThatNamesNoPortFailsInOrder)
{
    // Start fails with the port message; the driver then presses Stop after its seconds. A device
    // that is no serial port (/dev/null is of the mem class) fails the same way.
    for (const char* path : {"/dev/quorix-no-such-port", "/dev/null"}) {
        EXPECT_EQ(Run({"--serial", path, "--baud", "9600", "--seconds", "0.3", "--project", "none"}), 0) << output_;
        EXPECT_NE(output_.find("FYI #36 - Cannot open serial port"), std::string::npos) << output_;
    }
}

TEST_F(E2eTest, TheEndOfTheModalLoopEndsARunningCaptureLikeStop)
{
    // The loop ends by the application's exit, not by a button: the capture still gets its reports
    // before the start-up call returns, and the process then ends cleanly.
    TokenLine line(20000);
    ASSERT_FALSE(line.device().empty());
    ASSERT_EQ(Run({"--serial", line.device(), "--baud", "19200", "--seconds", "1", "--project", "loop", "--end-loop"}),
              0)
        << output_;
    std::string text = ReadAll(Folder("loop") / "Raw_mstp_frames.txt");
    EXPECT_NE(text.find("S_MAC-4   D_MAC-5   Token"), std::string::npos) << text;
    EXPECT_TRUE(fs::exists(Folder("loop") / "Op_Report_MAC_4.txt"));
    EXPECT_TRUE(fs::exists(Folder("loop") / "Op_Report_MAC_5.txt"));
    EXPECT_EQ(output_.find("Sanitizer"), std::string::npos) << output_;
}

TEST_F(E2eTest, AnExitDuringACaptureTouchesNothingFreed)
{
    // exit() while the worker is busy with frames: the process's globals go while it runs unless
    // it is stopped first. Under the address sanitizer a touch of freed memory ends the child.
    TokenLine line(0);
    ASSERT_FALSE(line.device().empty());
    for (int run = 0; run < 5; ++run) {
        const std::string project = "exit" + std::to_string(run);
        ASSERT_EQ(Run({"--serial", line.device(), "--baud", "115200", "--seconds", "0.5", "--project", project,
                       "--exit-running"}),
                  0)
            << output_;
        EXPECT_NE(output_.find("exiting during the capture"), std::string::npos) << output_;
        EXPECT_EQ(output_.find("Sanitizer"), std::string::npos) << output_;
        EXPECT_NE(ReadAll(Folder(project) / "Raw_mstp_frames.txt").find("Token"), std::string::npos) << run;
    }
}

TEST_F(E2eTest, TheProgramRunsItsMainWindowUntilStopped)
{
    // Started as the run script does, the program stays in its main window's loop.
    std::string program = QUORIX_PROGRAM_PATH;
    char* argv[] = {program.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, work_.c_str());
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_EQ(spawned, 0);
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 30 && ended == 0; ++i) {
        usleep(50000);
        ended = waitpid(pid, &status, WNOHANG);
    }
    EXPECT_EQ(ended, 0) << "the program ended by itself";
    if (ended == 0) {
        kill(pid, SIGTERM);
        waitpid(pid, &status, 0);
    }
}

}  // namespace
