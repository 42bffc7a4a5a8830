// Capture run control: Start, the run timer and Stop, the report folder and its closing files.
#include "app/run_control.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "app/quorix_dlg.h"
#include "mstp/mstp_stack.h"
#include "platform/current_dir.h"
#include "reports/capture_clock.h"
#include "reports/frame_monitor.h"
#include "reports/report_files.h"
#include "reports/report_writers.h"
#include "reports/statistics.h"

BYTE g_bStopped = 0;
int g_nProgress = 0;
int g_nComPort = 0;
int g_nBaudRate = 0;
BYTE g_byThisStation = 0;
char g_szCurrentDir[1024] = "";
char g_szTimeStamp[24] = "";
char g_szReportFolder[256] = "";
std::string g_strPath;

const char* const g_pszReportAssets[4] = {"logo.gif", "notes.gif", "link_icon.gif", "style.css"};

namespace {

const char* const kMemoryMessage = "Error: Not enough memory available could not allocate memory for program.";
const char* const kNoCapture = "\r\nNo capture was started.";

std::string FolderFile(const char* name)
{
    return g_strReportPath + "/" + name;
}

bool FileExists(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Removes a file of a rejected run; one that is not there is no error.
void RemoveRunFile(CWnd* owner, const std::string& path)
{
    if (std::remove(path.c_str()) != 0 && errno != ENOENT) {
        CString text;
        text.Format("%s could not be removed: %s", path.c_str(), std::strerror(errno));
        owner->MessageBox(text, nullptr, MB_OK | MB_ICONEXCLAMATION);
    }
}

// The report files of a finished capture that are not in the folder, or that their writers could
// not write whole (noted as they were written), in the order of the folder's files.
std::vector<std::string> UnwrittenReportFiles()
{
    std::vector<std::string> noted = TakeUnwrittenReportFiles();
    std::vector<std::string> expected = {"index.html",
                                         RAW_LOG_TEXT_FILE,
                                         RAW_LOG_HTML_FILE,
                                         "MAC_add_report.txt",
                                         "MAC_add_report.html"};
    if (g_pDevices) {
        for (int mac = 0; mac < MSTP_STATION_COUNT; ++mac) {
            if (!g_pDevices[mac].m_bPresent)
                continue;
            char name[40];
            std::snprintf(name, sizeof name, "Op_Report_MAC_%d.txt", mac);
            expected.push_back(name);
            std::snprintf(name, sizeof name, "Op_Report_MAC_%d.html", mac);
            expected.push_back(name);
        }
    }
    for (const char* base : {"Notes_report", "Who_talks_to_who_report", "Effective_max_master_report"}) {
        expected.push_back(std::string(base) + ".txt");
        expected.push_back(std::string(base) + ".html");
    }
    std::vector<std::string> unwritten;
    for (const std::string& name : expected)
        if (!FileExists(FolderFile(name.c_str())) || std::find(noted.begin(), noted.end(), name) != noted.end())
            unwritten.push_back(name);
    return unwritten;
}

// The line of Stop's status for frame lines that did not reach the raw frame log; empty when none.
CString RawLogLossLine()
{
    CString line;
    if (const int lost = RawLogFramesLost(); lost > 0)
        line.Format("\r\n%d frames could not be written to the raw frame log.", lost);
    return line;
}

}  // namespace

int LogReadProgress(int64_t position, int64_t size)
{
    if (size <= 0 || position <= 0)
        return 0;
    return static_cast<int>(static_cast<double>(position) / static_cast<double>(size) * 100.0);
}

const char* ProjectNameRefusal(const char* projectName)
{
    std::string name = projectName ? projectName : "";
    if (name.find('/') != std::string::npos)
        return "The project name must not contain \"/\": the report folder is made in the working directory.";
    // A pasted line break or tab would end up in the folder's name and in the status text.
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F)
            return "The project name must not contain control characters such as a line break or a tab.";
    if (name == "." || name == "..")
        return "The project name must not be \".\" or \"..\": the report folder is made in the working directory.";
    if (name.size() > MAX_PROJECT_NAME_LENGTH)
        return "The project name is too long for a folder name.";
    return nullptr;
}

std::string ReportFolderName(const char* projectName, const char* stamp)
{
    return std::string(projectName ? projectName : "") + (stamp ? stamp : "");
}

// Names and creates the report folder; on a refusal nothing is created and g_strReportPath keeps
// the folder of the last capture.
bool CQuorixDlg::PrepareReportFolder(CString& refusal)
{
    if (const char* why = ProjectNameRefusal(m_strProjectName)) {
        refusal = why;
        return false;
    }
    FormatTimestamp(g_szTimeStamp, 1);
    std::string folder = ReportFolderName(m_strProjectName, g_szTimeStamp);
    std::snprintf(g_szReportFolder, sizeof g_szReportFolder, "%s", folder.c_str());
    if (GetCurrentDirectoryA(sizeof g_szCurrentDir, g_szCurrentDir) == 0) {
        refusal = "The working directory could not be read.";
        return false;
    }
    std::string path = std::string(g_szCurrentDir) + "/" + g_szReportFolder;
    // A folder that exists already is used again, but only a real one: a link standing under the
    // name (mkdir never follows it) would send every file of the capture to wherever it points.
    // The check comes after mkdir, so a link planted in between is seen as well.
    if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
        refusal.Format("The report folder could not be created: %s (%s)", path.c_str(), std::strerror(errno));
        return false;
    }
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        refusal.Format("The report folder could not be created: %s (the name is taken by a link or a file that is "
                       "not a folder)",
                       path.c_str());
        return false;
    }
    g_strReportPath = path;
    return true;
}

void CQuorixDlg::OnStart()
{
    UpdateData(TRUE);

    // What can refuse a capture is settled before anything changes: the log file must still open
    // and the report folder must be made.
    const bool logSource = IsDlgButtonChecked(IDC_SOURCE_LOGFILE) == BST_CHECKED;
    FILE* logFile = nullptr;
    if (logSource) {
        logFile = OpenLogFileForReading(m_strLogFile);
        if (!logFile) {
            m_bLogFileOpened = false;
            g_MstpStack.m_pLogFile = nullptr;
            g_MstpStack.m_nLogReadState = LOG_READ_OPEN_FAILED;
            MessageBox("Can't open log file!", nullptr, MB_OK);
            return;
        }
    }
    CString refusal;
    if (!PrepareReportFolder(refusal)) {
        if (logFile)
            std::fclose(logFile);
        m_strStatus = refusal + kNoCapture;
        UpdateData(FALSE);
        return;
    }

    g_bStopped = 0;
    m_bRunning = true;
    GetDlgItem(IDC_START)->EnableWindow(FALSE);
    GetDlgItem(IDC_START)->ShowWindow(SW_HIDE);
    GetDlgItem(IDC_STOP)->ShowWindow(SW_SHOW);
    GetDlgItem(IDC_STOP)->EnableWindow(TRUE);
    // The source cannot change under a running capture.
    GetDlgItem(IDC_BROWSE)->EnableWindow(FALSE);
    GetDlgItem(IDC_SOURCE_LOGFILE)->EnableWindow(FALSE);
    GetDlgItem(IDC_SOURCE_SERIAL)->EnableWindow(FALSE);

    g_MstpStack.m_cSource = logSource ? SOURCE_LOG_FILE : SOURCE_SERIAL_PORT;

    AllocateDeviceTable();
    g_NetworkStatistics.Reset();

    // Capture clock: wall clock to the second, performance counter for what follows.
    StartCaptureClock();

    // The port named by the combo's text as read back (a typed device path joins the port table).
    g_nComPort = logSource ? g_nDefaultPort : SerialPortNumberFromText(m_strSerialPort);
    g_nBaudRate = std::atoi(m_strBaudRate);
    g_byThisStation = THIS_STATION;

    g_MstpStack.m_nAverageDim = m_nAverageDim;
    g_MstpStack.m_bNewCapture = 1;

    if (logSource) {
        m_strStatus = "Reading messages from log file...\r\nPress [STOP] button to stop...\r\n";
        g_MstpStack.m_pLogFile = logFile;
        m_bLogFileOpened = true;
    } else {
        m_strStatus = "Monitoring messages on mstp network...\r\nPress [STOP] button to stop...\r\n";
    }
    UpdateData(FALSE);

    WriteRawLogStart();

    if (!g_pDevices) {
        // No frame may reach a missing table: the capture ends here as after a failed port.
        MessageBox(kMemoryMessage, nullptr, MB_OK);
        if (logFile) {
            std::fclose(logFile);
            g_MstpStack.m_pLogFile = nullptr;
        }
        m_strStatus = CString(kMemoryMessage) + "\r\nPress [STOP] button to end the attempt.";
        UpdateData(FALSE);
        return;
    }

    // The frame monitor is in place before the worker can end its first frame.
    g_MstpStack.SetFrameCallback(OnMonitoredFrame);
    BYTE connected = g_MstpStack.Connect(OnDataIndication, g_nComPort, g_nBaudRate, g_byThisStation, 0, 1);
    if (!connected) {
        g_MstpStack.SetFrameCallback(nullptr);
        if (logSource)
            m_strStatus = "Can't open log file!\r\n";
        else
            m_strStatus.Format("FYI #36 - Cannot open serial port: %d\n", g_nComPort);
        UpdateData(FALSE);
        return;
    }

    WriteIndexPage();
    SetTimer(RUN_TIMER_ID, 200, nullptr);
}

void CQuorixDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent == RUN_TIMER_ID) {
        UpdateData(FALSE);
        if (m_nAverageDim < 100 || m_nAverageDim > 10000)
            m_nAverageDim = 100;
        if (g_MstpStack.m_cSource == SOURCE_LOG_FILE) {
            const int state = g_MstpStack.m_nLogReadState;
            if (state == LOG_READ_NORMAL) {
                // The reader publishes its position; the stream itself belongs to the worker.
                g_nProgress = LogReadProgress(g_MstpStack.m_lLogReadPosition, g_MstpStack.m_lLogFileSize);
            }
            if (state == LOG_READ_COMPLETED && g_bStopped == 0) {
                g_nProgress = 100;
                m_progress.SetPos(100);
                OnStop();
            }
            m_progress.SetPos(g_nProgress);
            if (state == LOG_READ_NOT_LOG_FILE && g_bStopped == 0)
                OnStop();
        } else {
            if (g_bStopped == 0 && !g_MstpStack.m_bConnected) {
                // The port went away under the capture (adapter unplugged): end it like Stop, so
                // what was captured gets its reports, and say why it ended.
                OnStop();
                m_strStatus += "\r\nThe serial port stopped working (unplugged?): the capture ended there.";
                UpdateData(FALSE);
                CDialog::OnTimer(nIDEvent);
                return;
            }
            if (g_bStopped == 0) {
                g_nProgress++;
                if (g_nProgress >= 100)
                    g_nProgress = 0;
            }
            m_progress.SetPos(g_nProgress);
        }
    } else if (nIDEvent == BANNER_TIMER_ID) {
        ShowRandomBanner();
    }
    CDialog::OnTimer(nIDEvent);
}

void CQuorixDlg::OnStop()
{
    g_bStopped = 1;
    // The worker is joined before anything it touches is read, written or freed.
    g_MstpStack.Disconnect();
    g_MstpStack.WaitForWorker();

    const int state = g_MstpStack.m_nLogReadState;
    if (g_MstpStack.m_cSource == SOURCE_LOG_FILE)
        m_strStatus = state == LOG_READ_COMPLETED ? "Log file read completed......" : "Log file read stopped......";
    else
        m_strStatus = "Stopped......";
    m_strStatus += "\r\nThe report file path is: ";
    m_strStatus += g_strReportPath;

    if (state == LOG_READ_NOT_LOG_FILE) {
        m_strStatus = "This file may not a BACnet data log file. Please check the file......";
        // Raw_mstp_frames.txt stays, so a line it lacks is told; the pages noted go with the run.
        m_strStatus += RawLogLossLine();
        TakeUnwrittenReportFiles();
        UpdateData(FALSE);
        GetDlgItem(IDC_REPORT_FILE)->EnableWindow(FALSE);
        if (!g_strReportPath.empty()) {
            g_strPath = FolderFile("index.html");
            RemoveRunFile(this, g_strPath);
            g_strPath = FolderFile(RAW_LOG_HTML_FILE);
            RemoveRunFile(this, g_strPath);
            // Only an empty folder goes: frames logged before the data stopped being hex stay.
            rmdir(g_strReportPath.c_str());
        }
    } else {
        UpdateData(FALSE);
        UpdateData(TRUE);
        g_MstpStack.m_nAverageDim = m_nAverageDim;

        for (const char* asset : g_pszReportAssets) {
            std::error_code ec;
            std::filesystem::copy_file(asset, FolderFile(asset), std::filesystem::copy_options::overwrite_existing, ec);
        }

        if (g_pDevices) {
            WriteMacAddressReport();
            WriteOperationalReports();
            WriteNotesReport();
            WriteWhoTalksToWhoReport();
            WriteEffectiveMaxMasterReport();
        }
        GetDlgItem(IDC_REPORT_FILE)->EnableWindow(TRUE);
        if (!g_strReportPath.empty()) {
            FinishIndexPage();
            WriteRawLogStop();
            std::vector<std::string> unwritten = UnwrittenReportFiles();
            if (!g_pDevices)
                m_strStatus += "\r\nNo reports were written: the statistics tables could not be allocated.";
            else if (!unwritten.empty()) {
                m_strStatus += "\r\nThese report files could not be written:";
                for (const std::string& name : unwritten) {
                    m_strStatus += " ";
                    m_strStatus += name.c_str();
                }
            }
            m_strStatus += RawLogLossLine();
        }
        if (const int losses = g_MstpStack.m_nOctetLossCount; losses > 0) {
            CString lost;
            lost.Format("\r\nOctets were lost at the serial port %d times: the monitor fell behind the line, so the "
                        "reports may miss frames.",
                        losses);
            m_strStatus += lost;
        }
        UpdateData(FALSE);
    }

    g_nProgress = 0;
    m_progress.SetPos(0);
    RestoreIdleControls();
    KillTimer(RUN_TIMER_ID);
    FreeDeviceTable();
    m_bRunning = false;
}

void CQuorixDlg::RestoreIdleControls()
{
    GetDlgItem(IDC_STOP)->EnableWindow(FALSE);
    GetDlgItem(IDC_STOP)->ShowWindow(SW_HIDE);
    GetDlgItem(IDC_START)->ShowWindow(SW_SHOW);
    GetDlgItem(IDC_START)->EnableWindow(TRUE);
    GetDlgItem(IDC_SOURCE_LOGFILE)->EnableWindow(TRUE);
    GetDlgItem(IDC_SOURCE_SERIAL)->EnableWindow(TRUE);
    GetDlgItem(IDC_BROWSE)->EnableWindow(IsDlgButtonChecked(IDC_SOURCE_LOGFILE) == BST_CHECKED);
}
