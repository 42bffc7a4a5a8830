#pragma once
// The main window: data source, serial port and baud rate, project name, sample count, the
// Start/Stop run control with progress and status, the rotating banner, the report link.
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/resource.h"
#include "platform/cstring.h"
#include "platform/qt/framework.h"

// The template IDD_QUORIX_DIALOG.
const DialogTemplate& QuorixDialogTemplate();

// Registers the program's images and strings (and its compiled-in resources) once.
void EnsureQuorixResources();

class CQuorixDlg : public CDialog {
public:
    explicit CQuorixDlg(CWnd* parent = nullptr);
    ~CQuorixDlg() override;

    CBitmap m_bitmaps[5];
    int m_nBanner;
    CStatic m_banner;
    CProgressCtrl m_progress;
    CString m_strLogFile;
    CString m_strProjectName;
    int64_t m_lFileLength;
    CString m_strStatus;
    int m_nAverageDim;
    CString m_strBaudRate;
    CString m_strSerialPort;
    HICON m_hIcon;

    const MessageMap& GetMessageMap() const override;

    // Handlers, in the order of the message map.
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnStop();
    void OnStart();
    void OnBrowse();
    void OnTimer(UINT_PTR nIDEvent);
    void OnSerialPortSource();
    void OnLogFileSource();
    void OnBannerClick();
    void OnAverageDimHelp();
    void OnAbout();
    void OnReportFile();
    BOOL OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message);
    void OnProjectNameHelp();
    void OnLogFileHelp();
    void OnDestroy();

    void ShowRandomBanner();

    // True from a Start that showed Stop until the end of the Stop that follows.
    bool IsCaptureRunning() const;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

private:
    void FillSerialPortList();
    bool PrepareReportFolder(CString& refusal);
    void RestoreIdleControls();

    bool m_bRunning = false;        // from a Start that showed Stop until the end of Stop
    bool m_bLogFileOpened = false;  // a log file opened at Browse or Start, and none failed since
};

// COM port number of a port text: "COM" and its digits ("COM3 (/dev/ttyUSB0) " gives 3); a typed
// "/dev/..." path is added to the port table and gives its number. 0 when the text names no port.
int SerialPortNumberFromText(const char* text);

// Opens a log file for reading; nullptr when it cannot be opened or is not a plain file.
FILE* OpenLogFileForReading(const char* path);

// Probe of one port that changes nothing on the line: the mark appended to its list entry: " " (it
// can be opened), "  not install" (no device node, or no UART behind it) or "  not available" (it
// exists but cannot be opened, or another holder has it locked).
const char* ProbeSerialPort(const std::string& devicePath);

// Where the port list is read from (the system's serial devices by default); tests point it at a
// tree of their own.
void SetSerialPortListSource(const std::string& sysClassTty, const std::string& devDir);

// The pseudo-random draw of the banner (rand by default); tests install their own.
using BannerRandomFn = int (*)();
void SetBannerRandom(BannerRandomFn fn);

extern int g_nDefaultPort;
extern HCURSOR g_hHandCursor;
