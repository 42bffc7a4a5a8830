// End to end: e2e_capture drives the real main window through whole captures of generated log files
// and of a pseudo-terminal fed with frames; the report folders are compared with expected files.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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
#include <sched.h>
#include <spawn.h>
#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
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

    // The command line and environment of e2e_capture with these arguments in that working folder.
    struct Command {
        std::vector<std::string> args;
        std::vector<std::string> env;
        std::vector<char*> argv;
        std::vector<char*> envp;

        Command(const std::vector<std::string>& arguments, const fs::path& workdir)
        {
            args = {E2E_CAPTURE_PATH};
            args.insert(args.end(), arguments.begin(), arguments.end());
            args.insert(args.end(), {"--workdir", workdir.string(), "--frozen-clock"});
            // Local time is UTC for the child, so the frozen clock names the folder the same everywhere.
            for (char** e = environ; *e; ++e)
                if (std::strncmp(*e, "TZ=", 3) != 0)
                    env.push_back(*e);
            env.push_back("TZ=UTC");
            for (std::string& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            for (std::string& e : env)
                envp.push_back(e.data());
            envp.push_back(nullptr);
        }
    };

    // Runs e2e_capture with these arguments; returns its exit code, its output in output_.
    int Run(const std::vector<std::string>& args)
    {
        Command command(args, work_);
        fs::path out = work_ / "e2e_output.txt";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        pid_t pid = 0;
        int rc = posix_spawn(&pid, command.argv[0], &actions, nullptr, command.argv.data(), command.envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            return -1;
        child_ = pid;
        int status = 0;
        waitpid(pid, &status, 0);
        child_ = 0;
        output_ = ReadAll(out);
        fs::remove(out);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Runs e2e_capture as on a disk where no file can grow beyond fileSizeLimit octets (a write
    // across the limit stops short, later ones fail). The output comes through a pipe, which the
    // limit does not touch.
    int RunWithFileSizeLimit(const std::vector<std::string>& args, rlim_t fileSizeLimit)
    {
        Command command(args, work_);
        int out[2];
        if (pipe(out) != 0)
            return -1;
        pid_t pid = fork();
        if (pid == 0) {
            dup2(out[1], 1);
            dup2(out[1], 2);
            close(out[0]);
            close(out[1]);
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            sigaction(SIGXFSZ, &ignore, nullptr);  // the write fails instead of ending the process
            struct rlimit limit = {fileSizeLimit, fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
            execve(command.argv[0], command.argv.data(), command.envp.data());
            _exit(127);
        }
        close(out[1]);
        output_.clear();
        char buffer[4096];
        for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) != 0;) {
            if (n > 0)
                output_.append(buffer, static_cast<size_t>(n));
            else if (errno != EINTR)
                break;
        }
        close(out[0]);
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid)
            return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    static constexpr int kCannotMount = 77;

    // Runs e2e_capture in a working folder that is a tmpfs of the given size, mounted in a mount
    // namespace of a child process alone (it goes with the child). filler octets are written into the
    // file system before the capture. The report folder is then copied to copied_. Returns
    // kCannotMount where this system does not let the test mount a file system.
    int RunOnSmallFileSystem(const std::vector<std::string>& args, const std::string& size, size_t filler)
    {
        const fs::path disk = work_ / "disk";
        copied_ = work_ / "copied";
        fs::create_directories(disk);
        fs::create_directories(copied_);
        Command command(args, disk);
        const fs::path out = work_ / "e2e_output.txt";
        std::vector<fs::path> assets;
        for (const auto& e : fs::directory_iterator(work_))
            if (e.is_regular_file() && e.path().extension() != ".log")
                assets.push_back(e.path());
        pid_t pid = fork();
        if (pid == 0) {
            if (!MountPrivateTmpfs(disk, size))
                _exit(kCannotMount);
            std::error_code ec;
            for (const fs::path& asset : assets)
                fs::copy_file(asset, disk / asset.filename(), ec);
            if (filler > 0) {
                int fd = open((disk / "filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                std::vector<char> zeros(64 * 1024, 0);
                for (size_t done = 0; fd >= 0 && done < filler;) {
                    ssize_t n = write(fd, zeros.data(), std::min(zeros.size(), filler - done));
                    if (n <= 0)
                        break;
                    done += static_cast<size_t>(n);
                }
                if (fd >= 0)
                    close(fd);
            }
            pid_t capture = fork();
            if (capture == 0) {
                int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                dup2(fd, 1);
                dup2(fd, 2);
                execve(command.argv[0], command.argv.data(), command.envp.data());
                _exit(127);
            }
            int status = 0;
            waitpid(capture, &status, 0);
            for (const auto& e : fs::directory_iterator(disk, ec))
                if (e.is_directory())
                    fs::copy(e.path(), copied_ / e.path().filename(), fs::copy_options::recursive, ec);
            _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 126);
        }
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid)
            return -1;
        output_ = ReadAll(out);
        fs::remove(out);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // In the calling (child) process: a mount namespace of its own, then a tmpfs on dir. As root
    // directly; otherwise through a user namespace where the system allows one.
    static bool MountPrivateTmpfs(const fs::path& dir, const std::string& size)
    {
        if (unshare(CLONE_NEWNS) != 0) {
            const uid_t uid = getuid();
            const gid_t gid = getgid();
            if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
                return false;
            auto put = [](const char* file, const std::string& text) {
                int fd = open(file, O_WRONLY);
                bool ok = fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
                if (fd >= 0)
                    close(fd);
                return ok;
            };
            put("/proc/self/setgroups", "deny");
            if (!put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
                !put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
                return false;
        }
        // Nothing mounted here may reach the rest of the system.
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return false;
        const std::string options = "size=" + size;
        return mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
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
    fs::path copied_;
    std::atomic<pid_t> child_{0}; // the running e2e_capture, 0 when none
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

// ---- Full disks ----

// The status text of a finished capture from its driver's output.
std::string StatusOf(const std::string& output)
{
    size_t at = output.find("status ");
    size_t end = output.find("\nfolder ", at);
    return at == std::string::npos ? std::string() : output.substr(at + 7, end - at - 7);
}

// Whole frame lines of a raw frame log ("Frame 000012 ..." up to its line end).
size_t WholeFrameLines(const std::string& raw)
{
    static const std::regex frameLine("^Frame [0-9]{6} .*");
    size_t n = 0;
    std::istringstream in(raw);
    std::string line;
    while (std::getline(in, line))
        if (!in.eof() && std::regex_match(line, frameLine))
            ++n;
    return n;
}

// Undamaged traffic: every frame on the line is one frame delivered to the monitor.
mstpgen::Traffic CleanTraffic(size_t octets)
{
    mstpgen::NetworkSpec network;
    network.seed = 11;
    return mstpgen::Generate(network, octets);
}

// The report files of a finished capture of the generated network, in the order Stop names them.
const std::vector<std::string> kReportFiles = {
    "index.html", "Raw_mstp_frames.txt", "Raw_mstp_frames.html", "MAC_add_report.txt", "MAC_add_report.html",
    "Op_Report_MAC_1.txt", "Op_Report_MAC_1.html", "Op_Report_MAC_3.txt", "Op_Report_MAC_3.html",
    "Op_Report_MAC_7.txt", "Op_Report_MAC_7.html", "Op_Report_MAC_20.txt", "Op_Report_MAC_20.html",
    "Op_Report_MAC_21.txt", "Op_Report_MAC_21.html", "Notes_report.txt", "Notes_report.html",
    "Who_talks_to_who_report.txt", "Who_talks_to_who_report.html", "Effective_max_master_report.txt",
    "Effective_max_master_report.html"};

std::string AllNamed()
{
    std::string line = "These report files could not be written:";
    for (const std::string& name : kReportFiles)
        line += " " + name;
    return line;
}

// No file may grow beyond 64 KiB: the raw frame logs fill in the middle of the capture, the reports
// fit. Stop names both logs and counts the frames whose line did not reach the text log whole.
TEST_F(E2eTest, ADiskThatFillsMidCaptureIsNamedWithTheFramesLost)
{
    mstpgen::Traffic t = CleanTraffic(40000);
    fs::path log = WriteLog("big.log", mstpgen::ToHexLog(t.octets));
    const rlim_t limit = 64 * 1024;
    EXPECT_EQ(RunWithFileSizeLimit({"--log", log.string(), "--project", "fills"}, limit), 1) << output_;
    std::string raw = ReadAll(Folder("fills") / "Raw_mstp_frames.txt");
    EXPECT_EQ(raw.size(), limit);
    const size_t whole = WholeFrameLines(raw);
    ASSERT_GT(whole, 0u);
    ASSERT_LT(whole, t.frames);
    EXPECT_EQ(StatusOf(output_), "Log file read completed......\nThe report file path is: " +
                                     Folder("fills").string() +
                                     "\nThese report files could not be written: Raw_mstp_frames.txt "
                                     "Raw_mstp_frames.html\n" +
                                     std::to_string(t.frames - whole) +
                                     " frames could not be written to the raw frame log.")
        << output_;
    EXPECT_EQ(ReadAll(Folder("fills") / "Notes_report.txt").rfind("-----", 0), 0u) << "the reports fit";
}

// Nothing can be written from the start: every file is created empty, every one is named, and
// every frame is lost.
TEST_F(E2eTest, ADiskFullAtStartNamesEveryFileAndEveryFrame)
{
    mstpgen::Traffic t = CleanTraffic(2000);
    fs::path log = WriteLog("small.log", mstpgen::ToHexLog(t.octets));
    EXPECT_EQ(RunWithFileSizeLimit({"--log", log.string(), "--project", "full"}, 0), 1) << output_;
    EXPECT_EQ(StatusOf(output_), "Log file read completed......\nThe report file path is: " +
                                     Folder("full").string() + "\n" + AllNamed() + "\n" +
                                     std::to_string(t.frames) + " frames could not be written to the raw frame log.")
        << output_;
    for (const std::string& name : kReportFiles)
        EXPECT_EQ(fs::file_size(Folder("full") / name), 0u) << name;
}

// The same on a real file system that runs out of space: a tmpfs of 512 KiB that fills during the
// capture, and one that is full before Start.
TEST_F(E2eTest, ASmallFileSystemThatFillsMidCapture)
{
    mstpgen::Traffic t = CleanTraffic(100000);
    fs::path log = WriteLog("big.log", mstpgen::ToHexLog(t.octets));
    int rc = RunOnSmallFileSystem({"--log", log.string(), "--project", "fills"}, "512k", 0);
    if (rc == kCannotMount)
        GTEST_SKIP() << "this system does not let the test mount a file system";
    EXPECT_EQ(rc, 1) << output_;
    std::string raw = ReadAll(copied_ / ("fills" + std::string(kStamp)) / "Raw_mstp_frames.txt");
    const size_t whole = WholeFrameLines(raw);
    ASSERT_GT(whole, 0u);
    ASSERT_LT(whole, t.frames);
    const std::string status = StatusOf(output_);
    const std::string folder = (work_ / "disk" / ("fills" + std::string(kStamp))).string();
    EXPECT_EQ(status.rfind("Log file read completed......\nThe report file path is: " + folder +
                               "\nThese report files could not be written: Raw_mstp_frames.txt Raw_mstp_frames.html "
                               "MAC_add_report.txt",
                           0),
              0u)
        << status;
    EXPECT_TRUE(status.ends_with(" Effective_max_master_report.html\n" + std::to_string(t.frames - whole) +
                                 " frames could not be written to the raw frame log."))
        << status;
}

TEST_F(E2eTest, ASmallFileSystemFullAtStart)
{
    mstpgen::Traffic t = CleanTraffic(2000);
    fs::path log = WriteLog("small.log", mstpgen::ToHexLog(t.octets));
    int rc = RunOnSmallFileSystem({"--log", log.string(), "--project", "full"}, "256k", 1024 * 1024);
    if (rc == kCannotMount)
        GTEST_SKIP() << "this system does not let the test mount a file system";
    EXPECT_EQ(rc, 1) << output_;
    const std::string folder = (work_ / "disk" / ("full" + std::string(kStamp))).string();
    EXPECT_EQ(StatusOf(output_), "Log file read completed......\nThe report file path is: " + folder + "\n" +
                                     AllNamed() + "\n" + std::to_string(t.frames) +
                                     " frames could not be written to the raw frame log.")
        << output_;
}

// A pseudo-terminal pair in raw mode standing in for the line; name gets the device path.
bool OpenRawPty(int& master, int& slave, char (&name)[256])
{
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return false;
    struct termios raw {};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    return true;
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

// The whole program stopped for a second while the line goes on at 115200 baud: the queue it finds
// is worked off, every frame of the line is in the raw frame log, valid, and no loss is shown.
TEST_F(E2eTest, AProgramStoppedForASecondLosesNoFrame)
{
    int master = -1;
    int slave = -1;
    char name[256] = {};
    ASSERT_TRUE(OpenRawPty(master, slave, name));
    mstpgen::NetworkSpec network;
    const mstpgen::Traffic traffic = mstpgen::Generate(network, 3 * 11520); // three seconds of line time
    const fs::path rawLog = Folder("stall") / "Raw_mstp_frames.txt";
    // A station the traffic does not have says when the capture runs: it talks until it is logged.
    const Octets opener = Frame(mstpgen::Token, 64, 65);
    bool stalled = false;
    std::thread line([&] {
        for (int i = 0; i < 3000 && !(fs::exists(rawLog) && fs::file_size(rawLog) > 0); ++i) {
            if (child_ != 0 && write(master, opener.data(), opener.size()) < 0)
                return;
            usleep(20000);
        }
        // Then the line runs at its pace, 11520 octets a second written every 5 ms, and half a
        // second in the program is stopped for a second.
        const auto start = std::chrono::steady_clock::now();
        size_t sent = 0;
        bool resumed = false;
        pid_t stopped = 0;
        for (int tick = 1; sent < traffic.octets.size(); ++tick) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(5 * tick));
            const size_t due = std::min(traffic.octets.size(), static_cast<size_t>(tick) * 576 / 10);
            if (write(master, traffic.octets.data() + sent, due - sent) != static_cast<ssize_t>(due - sent))
                break;
            sent = due;
            if (tick == 100 && (stopped = child_) != 0)
                stalled = kill(stopped, SIGSTOP) == 0;
            if (tick == 300 && stalled)
                resumed = kill(stopped, SIGCONT) == 0;
        }
        if (stalled && !resumed)
            kill(stopped, SIGCONT); // never leave the program stopped
    });
    int rc = Run({"--serial", name, "--baud", "115200", "--seconds", "7", "--project", "stall"});
    line.join();
    close(slave);
    close(master);
    ASSERT_EQ(rc, 0) << output_;
    EXPECT_TRUE(stalled) << "the program was stopped and continued";
    EXPECT_NE(output_.find("status Stopped......\nThe report file path is: "), std::string::npos) << output_;
    EXPECT_EQ(output_.find("Octets were lost"), std::string::npos) << output_;
    const std::string text = ReadAll(rawLog);
    size_t lines = 0, valid = 0, openers = 0;
    std::istringstream in(text);
    const std::regex frameLine("^Frame [0-9]{6} ");
    for (std::string l; std::getline(in, l);) {
        if (!std::regex_search(l, frameLine))
            continue;
        if (l.find("S_MAC-65 ") != std::string::npos) {
            ++openers;
            continue;
        }
        ++lines;
        valid += l.find("/Valid  ") != std::string::npos ? 1 : 0;
    }
    std::printf("frames on the line %zu, in the raw frame log %zu, valid %zu\n", traffic.frames, lines, valid);
    EXPECT_GE(openers, 1u);
    EXPECT_EQ(lines, traffic.frames);
    EXPECT_EQ(valid, traffic.frames);
    const std::string debugLog = ReadAll(work_ / "Debuglog.txt");
    EXPECT_NE(debugLog.find("MSTP.Error #110 - Too many bytes in the buffer "), std::string::npos)
        << "the stop put more than 510 octets in the queue";
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
