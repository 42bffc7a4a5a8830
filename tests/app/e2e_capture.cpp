// Drives the real main window offscreen through a whole capture, as a technician would:
//   e2e_capture --log FILE --project NAME --workdir DIR [--frozen-clock]
//   e2e_capture --serial DEVICE --baud RATE --seconds S --project NAME --workdir DIR [--frozen-clock]
//               [--end-loop | --exit-running]
// --end-loop runs the window through the application's start-up call and, the seconds after Start,
// ends its modal loop with the application's exit while the capture runs (no Close, no Stop); the
// folder must then be complete, as after Stop. --exit-running ends the process with exit(0) while
// the capture runs, the window still open.
// Exit codes: 0 the report folder is complete; 2 the run was rejected as not a log file (the folder
// is checked to be gone or holding only the text raw log); 1 anything else. The status text and the
// report folder are printed on standard output.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

#include <unistd.h>

#include "app/quorix.h"
#include "app/quorix_dlg.h"
#include "app/run_control.h"
#include "mstp/mstp_stack.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/shell_open.h"
#include "reports/statistics.h"

namespace fs = std::filesystem;

namespace {

// 5 March 2025 14:07:09 in UTC.
constexpr time_t kFrozenWallClock = 1741183629;
time_t FrozenWallClock()
{
    return kFrozenWallClock;
}
int64_t FrozenCounter()
{
    return 1000000000;
}

std::string ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool EndsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

QWidget* Control(CQuorixDlg& dlg, int id)
{
    CWnd* w = dlg.GetDlgItem(id);
    return w ? w->GetQWidget() : nullptr;
}

void Click(CQuorixDlg& dlg, int id)
{
    QWidget* w = Control(dlg, id);
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(w->width() / 2, w->height() / 2));
}

void TypeInto(QWidget* w, const std::string& text)
{
    QLineEdit* edit = qobject_cast<QLineEdit*>(w);
    if (auto* combo = qobject_cast<QComboBox*>(w))
        edit = combo->lineEdit();
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, QString::fromStdString(text));
}

std::string StatusText(CQuorixDlg& dlg)
{
    auto* status = qobject_cast<QPlainTextEdit*>(Control(dlg, IDC_STATUS));
    return status ? status->toPlainText().toStdString() : std::string();
}

bool StartShown(CQuorixDlg& dlg)
{
    return !Control(dlg, IDC_START)->isHidden();
}

// Every file a finished capture must have, with its pages closed off.
bool FolderComplete(const fs::path& folder, std::string& problem)
{
    auto need = [&](const char* name) {
        if (!fs::exists(folder / name)) {
            problem = std::string("missing ") + name;
            return false;
        }
        return true;
    };
    for (const char* name : {"index.html", "Raw_mstp_frames.txt", "Raw_mstp_frames.html", "MAC_add_report.txt",
                             "MAC_add_report.html", "Notes_report.txt", "Notes_report.html",
                             "Who_talks_to_who_report.txt", "Who_talks_to_who_report.html",
                             "Effective_max_master_report.txt", "Effective_max_master_report.html"})
        if (!need(name))
            return false;
    std::string index = ReadAll(folder / "index.html");
    std::string raw = ReadAll(folder / "Raw_mstp_frames.html");
    if (!EndsWith(index, "</html>") || !EndsWith(raw, "</html>")) {
        problem = "a page is not closed off";
        return false;
    }
    // Every device linked from the index has its report pair.
    size_t at = 0;
    while ((at = index.find("HREF=\"Op_Report_MAC_", at)) != std::string::npos) {
        at += 6;
        size_t end = index.find(".html", at);
        std::string base = index.substr(at, end - at);
        if (!need((base + ".txt").c_str()) || !need((base + ".html").c_str()))
            return false;
    }
    for (const char* asset : g_pszReportAssets)
        if (fs::exists(fs::current_path() / asset) && !need(asset))
            return false;
    return true;
}

int Usage()
{
    std::cerr << "usage: e2e_capture --log FILE --project NAME --workdir DIR [--frozen-clock]\n"
                 "       e2e_capture --serial DEVICE --baud RATE --seconds S --project NAME --workdir DIR"
                 " [--frozen-clock] [--end-loop | --exit-running]\n";
    return 1;
}

// Fills in the window as a technician would and presses Start; false when no capture started.
bool StartCapture(CQuorixDlg& dlg, std::map<std::string, std::string>& args, bool logMode)
{
    if (logMode) {
        Click(dlg, IDC_SOURCE_LOGFILE);
        Click(dlg, IDC_BROWSE);
        if (!Control(dlg, IDC_START)->isEnabled()) {
            std::cerr << "Start is not enabled after Browse\n";
            return false;
        }
    } else {
        TypeInto(Control(dlg, IDC_SERIAL_PORT), args["serial"]);
        TypeInto(Control(dlg, IDC_BAUDRATE), args["baud"]);
    }
    TypeInto(Control(dlg, IDC_PROJECT_NAME), args["project"]);
    Click(dlg, IDC_START);
    std::cout << "started " << StatusText(dlg) << "\n";
    if (StartShown(dlg)) {
        std::cout << "status " << StatusText(dlg) << "\n";
        std::cerr << "the capture did not start\n";
        return false;
    }
    return true;
}

// Lets a capture run for its seconds, or until it ends by itself.
void RunFor(CQuorixDlg& dlg, const std::string& seconds)
{
    QElapsedTimer clock;
    clock.start();
    const qint64 runMs = static_cast<qint64>(std::atof(seconds.c_str()) * 1000.0);
    while (clock.elapsed() < runMs && !StartShown(dlg))
        QTest::qWait(20);
}

// The program's own start-up call runs the window; its modal loop is ended from outside while the
// capture runs. Whatever ends the loop, the capture must end as Stop ends it.
int EndLoopDuringCapture(std::map<std::string, std::string>& args)
{
    bool started = false;
    bool runningAtEnd = false;
    QTimer::singleShot(0, [&] {
        auto* dlg = static_cast<CQuorixDlg*>(AfxGetMainWnd());
        started = dlg && StartCapture(*dlg, args, false);
        if (started) {
            RunFor(*dlg, args["seconds"]);
            runningAtEnd = !StartShown(*dlg);
        }
        QCoreApplication::exit(0);
    });
    theApp.InitInstance();
    if (!started)
        return 1;
    fs::path folder = g_strReportPath;
    std::cout << "folder " << folder.string() << "\n";
    if (!runningAtEnd) {
        std::cerr << "the capture ended before the loop\n";
        return 1;
    }
    if (g_MstpStack.m_bConnected || g_bWorkerRunning) {
        std::cerr << "the capture outlived the start-up call\n";
        return 1;
    }
    std::string problem;
    if (!FolderComplete(folder, problem)) {
        std::cerr << "the report folder is not complete: " << problem << "\n";
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::map<std::string, std::string> args;
    bool frozen = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--frozen-clock") {
            frozen = true;
        } else if (a == "--end-loop" || a == "--exit-running") {
            args[a.substr(2)] = "1";
        } else if (a.rfind("--", 0) == 0 && i + 1 < argc) {
            args[a.substr(2)] = argv[++i];
        } else {
            return Usage();
        }
    }
    const bool logMode = args.count("log") != 0;
    const bool serialMode = args.count("serial") != 0;
    if (logMode == serialMode || !args.count("project") || !args.count("workdir"))
        return Usage();
    if (serialMode && (!args.count("baud") || !args.count("seconds")))
        return Usage();
    const bool endLoop = args.count("end-loop") != 0;
    const bool exitRunning = args.count("exit-running") != 0;
    if ((endLoop || exitRunning) && (!serialMode || (endLoop && exitRunning)))
        return Usage();
    std::string logPath = logMode ? fs::absolute(args["log"]).string() : std::string();
    if (chdir(args["workdir"].c_str()) != 0) {
        std::cerr << "cannot enter " << args["workdir"] << "\n";
        return 1;
    }
    if (frozen) {
        SetWallClockHook(FrozenWallClock);
        SetPerformanceCounterHook(FrozenCounter);
    }

    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    // Boxes are answered at once and written out; links are recorded, never opened.
    SetMessageBoxHook([](const std::string& text, const std::string& caption, unsigned type) {
        std::cout << "box [" << caption << "] " << text << "\n";
        return DefaultMessageBoxAnswer(type);
    });
    SetShellOpenHook([](const std::string& target) {
        std::cout << "open " << target << "\n";
        return true;
    });
    SetFileDialogHook([logPath](const FileDialogRequest&) -> std::optional<std::string> { return logPath; });

    if (endLoop)
        return EndLoopDuringCapture(args);

    CQuorixDlg dlg;
    theApp.m_pMainWnd = &dlg;
    dlg.Create();
    QApplication::processEvents();

    if (!StartCapture(dlg, args, logMode))
        return 1;

    QElapsedTimer clock;
    clock.start();
    const qint64 limitMs = 600000;
    if (serialMode) {
        RunFor(dlg, args["seconds"]);
        if (exitRunning) {
            if (StartShown(dlg)) {
                std::cerr << "the capture ended before the exit\n";
                return 1;
            }
            // The process ends under the running capture: nothing may touch what exit destroys.
            std::cout << "exiting during the capture\n" << std::flush;
            std::exit(0);
        }
        if (!StartShown(dlg))
            Click(dlg, IDC_STOP);
    } else {
        // The run timer ends a log-file capture by itself.
        while (!StartShown(dlg) && clock.elapsed() < limitMs)
            QTest::qWait(20);
    }
    if (!StartShown(dlg)) {
        std::cerr << "the capture did not end\n";
        return 1;
    }

    std::string status = StatusText(dlg);
    std::cout << "status " << status << "\n";
    fs::path folder = g_strReportPath;
    std::cout << "folder " << folder.string() << "\n";
    dlg.DestroyWindow();
    theApp.m_pMainWnd = nullptr;

    if (status.rfind("This file may not a BACnet data log file.", 0) == 0) {
        bool onlyText = !fs::exists(folder) || (!fs::exists(folder / "index.html") &&
                                                !fs::exists(folder / "Raw_mstp_frames.html"));
        return onlyText ? 2 : 1;
    }
    std::string problem;
    if (status.find("could not be written") != std::string::npos || !FolderComplete(folder, problem)) {
        std::cerr << "the report folder is not complete: " << problem << "\n";
        return 1;
    }
    return 0;
}
