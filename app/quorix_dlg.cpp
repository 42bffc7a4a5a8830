// The main window: template, data exchange, initialisation, system menu, paint and Close, the
// banner, the help boxes, the hand cursor and the report link.
#include "app/quorix_dlg.h"

#include <cstdlib>

#include "app/about_dlg.h"
#include "app/run_control.h"
#include "build_config.h"
#include "mstp/mstp_stack.h"
#include "reports/statistics.h"

namespace {

const char* const kProductName = "ZEL Quorix";
const char* const kVersion = "1.10";
const char kVersionLetter1 = 'a';
const char kVersionLetter2 = 'A';

BannerRandomFn g_pfnBannerRandom = std::rand;

const char* const kBannerLinks[4] = {
    "/a/zel_utility_quorx_banner0",
    "/a/zel_utility_quorx_banner1",
    "/a/zel_utility_quorx_banner2",
    "/a/zel_utility_quorx_banner3",
};

}  // namespace

int g_nDefaultPort = 0;
HCURSOR g_hHandCursor = nullptr;

void SetBannerRandom(BannerRandomFn fn)
{
    g_pfnBannerRandom = fn ? fn : std::rand;
}

const DialogTemplate& QuorixDialogTemplate()
{
    static const DialogTemplate t{
        IDD_QUORIX_DIALOG,
        "ZEL Quorix",
        400,
        255,
        "MS Sans Serif",
        8,
        DS_MODALFRAME | WS_CAPTION | WS_SYSMENU,
        WS_EX_APPWINDOW,
        {
            {IDOK, ControlKind::PushButton, "Close", 323, 232, 50, 13, BS_DEFPUSHBUTTON | WS_TABSTOP},
            {IDC_STOP, ControlKind::PushButton, "Stop", 63, 232, 50, 13, WS_TABSTOP},
            {IDC_START, ControlKind::PushButton, "Start", 63, 232, 50, 13, WS_TABSTOP},
            {IDC_SOURCE_LOGFILE, ControlKind::AutoRadioButton, "Data from log File", 167, 82, 91, 13, WS_GROUP | WS_TABSTOP},
            {IDC_SOURCE_SERIAL, ControlKind::AutoRadioButton, "Data from Serial Port", 15, 82, 100, 13},
            {-1, ControlKind::StaticText, "Serial Port:", 17, 102, 48, 13},
            {-1, ControlKind::StaticText, "BaudRate:", 17, 120, 40, 13},
            {IDC_LOGFILE_PATH, ControlKind::Edit, "", 169, 100, 192, 13, ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP},
            {IDC_BROWSE, ControlKind::PushButton, "Browse", 362, 98, 29, 16, WS_DISABLED | WS_TABSTOP},
            {IDC_PROGRESS, ControlKind::ProgressBar, "", 10, 179, 377, 7, PBS_SMOOTH},
            {IDC_PROJECT_NAME, ControlKind::Edit, "", 73, 145, 68, 13, ES_AUTOHSCROLL | WS_TABSTOP},
            {-1, ControlKind::StaticText, "Project Name:", 17, 146, 52, 13},
            {IDC_FILE_LENGTH, ControlKind::Edit, "", 221, 120, 88, 13, ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP},
            {-1, ControlKind::StaticText, "File Length:", 169, 122, 49, 13},
            {IDC_STATUS, ControlKind::Edit, "", 10, 193, 377, 32, ES_MULTILINE | ES_READONLY | WS_TABSTOP},
            {IDC_BANNER, ControlKind::Picture, "", 7, 7, 386, 60, SS_CENTERIMAGE | SS_SUNKEN | SS_NOTIFY, IDB_BANNER0},
            {IDC_AVERAGE_DIM, ControlKind::Edit, "", 113, 162, 28, 13, ES_AUTOHSCROLL | WS_TABSTOP},
            {-1, ControlKind::StaticText, "Average Dim(100-10000):", 17, 164, 94, 13},
            {IDC_BAUDRATE, ControlKind::ComboBox, "", 66, 120, 49, 79, CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP, 0,
             {"9600", "19200", "38400", "4800", "2400", "300", "600", "1200"}},
            {IDC_HELP_AVERAGE, ControlKind::PushButton, "&?", 143, 162, 11, 13, WS_TABSTOP},
            {IDC_ABOUT, ControlKind::PushButton, "About", 259, 232, 50, 13, WS_TABSTOP},
            {IDC_SERIAL_PORT, ControlKind::ComboBox, "", 66, 100, 83, 41, CBS_DROPDOWN | CBS_SORT | WS_VSCROLL | WS_TABSTOP},
            {-1, ControlKind::GroupBox, "Select Data source", 7, 72, 386, 66},
            {IDC_REPORT_FILE, ControlKind::PushButton, "Report File", 131, 232, 58, 13, WS_DISABLED | WS_TABSTOP},
            {-1, ControlKind::StaticText, "Bytes", 316, 122, 23, 10},
            {IDC_HELP_PROJECT, ControlKind::PushButton, "&?", 143, 145, 11, 13, WS_TABSTOP},
            {IDC_HELP_LOGFILE, ControlKind::PushButton, "&?", 259, 81, 11, 13, WS_TABSTOP},
        },
    };
    return t;
}

CQuorixDlg::CQuorixDlg(CWnd* parent)
    : CDialog(QuorixDialogTemplate(), parent),
      m_nBanner(0),
      m_lFileLength(0),
      m_nAverageDim(100),
      m_hIcon(nullptr)
{
    EnsureQuorixResources();
    CWinApp* app = AfxGetApp();
    m_hIcon = app ? app->LoadIcon(IDR_MAINFRAME) : nullptr;
}

CQuorixDlg::~CQuorixDlg()
{
    // The bound member controls go before the dialog base: release the window while they exist.
    DestroyWindow();
}

const MessageMap& CQuorixDlg::GetMessageMap() const
{
    static const MessageMap map = {
        ON_WM_SYSCOMMAND(&CQuorixDlg::OnSysCommand),
        ON_WM_PAINT(&CQuorixDlg::OnPaint),
        ON_WM_QUERYDRAGICON(&CQuorixDlg::OnQueryDragIcon),
        ON_BN_CLICKED(IDC_STOP, &CQuorixDlg::OnStop),
        ON_BN_CLICKED(IDC_START, &CQuorixDlg::OnStart),
        ON_BN_CLICKED(IDC_BROWSE, &CQuorixDlg::OnBrowse),
        ON_WM_TIMER(&CQuorixDlg::OnTimer),
        ON_BN_CLICKED(IDC_SOURCE_SERIAL, &CQuorixDlg::OnSerialPortSource),
        ON_BN_CLICKED(IDC_SOURCE_LOGFILE, &CQuorixDlg::OnLogFileSource),
        ON_STN_CLICKED(IDC_BANNER, &CQuorixDlg::OnBannerClick),
        ON_BN_CLICKED(IDC_HELP_AVERAGE, &CQuorixDlg::OnAverageDimHelp),
        ON_BN_CLICKED(IDC_ABOUT, &CQuorixDlg::OnAbout),
        ON_BN_CLICKED(IDC_REPORT_FILE, &CQuorixDlg::OnReportFile),
        ON_WM_SETCURSOR(&CQuorixDlg::OnSetCursor),
        ON_BN_CLICKED(IDC_HELP_PROJECT, &CQuorixDlg::OnProjectNameHelp),
        ON_BN_CLICKED(IDC_HELP_LOGFILE, &CQuorixDlg::OnLogFileHelp),
        ON_WM_DESTROY(&CQuorixDlg::OnDestroy),
    };
    return map;
}

void CQuorixDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_BANNER, m_banner);
    DDX_Control(pDX, IDC_PROGRESS, m_progress);
    DDX_Text(pDX, IDC_LOGFILE_PATH, m_strLogFile);
    DDX_Text(pDX, IDC_PROJECT_NAME, m_strProjectName);
    DDX_Text(pDX, IDC_FILE_LENGTH, m_lFileLength);
    DDX_Text(pDX, IDC_STATUS, m_strStatus);
    DDX_Text(pDX, IDC_AVERAGE_DIM, m_nAverageDim);
    DDV_MinMaxInt(pDX, m_nAverageDim, 100, 10000);
    DDX_CBString(pDX, IDC_BAUDRATE, m_strBaudRate);
    DDX_CBString(pDX, IDC_SERIAL_PORT, m_strSerialPort);
}

BOOL CQuorixDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    // The window's system menu gets the About entry (on this desktop: its context menu).
    if (CMenu* pSysMenu = GetSystemMenu(FALSE)) {
        CString strAboutMenu;
        AfxLoadString(IDS_ABOUTBOX, strAboutMenu);
        if (!strAboutMenu.IsEmpty()) {
            pSysMenu->AppendMenu(MF_SEPARATOR);
            pSysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, strAboutMenu);
        }
    }

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    FillSerialPortList();
    g_nDefaultPort = SerialPortNumberFromText(m_strSerialPort);

    m_strBaudRate = "9600";
    m_strProjectName = "noname";
    UpdateData(FALSE);

    static_cast<CButton*>(GetDlgItem(IDC_SOURCE_SERIAL))->SetCheck(BST_CHECKED);
    GetDlgItem(IDC_STOP)->EnableWindow(FALSE);

    m_bitmaps[0].LoadBitmap(IDB_BANNER0);
    m_bitmaps[1].LoadBitmap(IDB_BANNER1);
    m_bitmaps[2].LoadBitmap(IDB_BANNER2);
    m_bitmaps[3].LoadBitmap(IDB_BANNER3);
    ShowRandomBanner();
    return TRUE;
}

void CQuorixDlg::OnSysCommand(UINT nID, LPARAM lParam)
{
    if ((nID & 0xFFF0) == IDM_ABOUTBOX)
        OnAbout();
    else
        CDialog::OnSysCommand(nID, lParam);
}

// A minimised window is drawn by the window manager from the window icon set in OnInitDialog, so
// on this desktop the iconic branch runs only if a paint ever reaches a minimised window.
void CQuorixDlg::OnPaint()
{
    if (IsIconic()) {
        CPaintDC dc(this);
        SendMessage(WM_ICONERASEBKGND, static_cast<WPARAM>(dc.GetSafeHdc()), 0);
        int cxIcon = GetSystemMetrics(SM_CXICON);
        int cyIcon = GetSystemMetrics(SM_CYICON);
        RECT rect;
        GetClientRect(&rect);
        int x = (rect.right - rect.left - cxIcon + 1) / 2;
        int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
        dc.DrawIcon(x, y, m_hIcon);
    } else {
        CDialog::OnPaint();
    }
}

// The window manager takes the drag image of a minimised window from the window icon; nothing asks
// this handler here, and it gives the same icon.
HCURSOR CQuorixDlg::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}

bool CQuorixDlg::IsCaptureRunning() const
{
    return m_bRunning;
}

void CQuorixDlg::OnOK()
{
    KillTimer(BANNER_TIMER_ID);
    // A running capture is stopped first, so that its reports are written; a refused field keeps
    // both the capture and the window.
    if (IsCaptureRunning()) {
        if (!UpdateData(TRUE))
            return;
        OnStop();
    }
    CDialog::OnOK();
}

void CQuorixDlg::OnCancel()
{
    if (IsCaptureRunning())
        OnStop();
    CDialog::OnCancel();
}

// However the window ends (Close, Escape and the close box stop the capture first; the end of the
// modal loop by other means does not), a capture still running ends here as Stop ends it: nothing
// captured is lost, and no worker outlives the window.
void CQuorixDlg::OnDestroy()
{
    if (IsCaptureRunning())
        OnStop();
    CDialog::OnDestroy();
}

// ---- Banner, help boxes, cursor, report link ----

void CQuorixDlg::ShowRandomBanner()
{
    SetTimer(BANNER_TIMER_ID, 5000, nullptr);
    m_nBanner = g_pfnBannerRandom() % 10;
    if (m_nBanner > 3)
        m_nBanner = 0;
    m_banner.SetBitmap(m_bitmaps[m_nBanner]);
}

void CQuorixDlg::OnBannerClick()
{
    CString version;
    version.Format("%s%c%c", kVersion, kVersionLetter1, kVersionLetter2);
    const char* path = kBannerLinks[0];
    if (m_nBanner >= 1 && m_nBanner <= 3)
        path = kBannerLinks[m_nBanner];
    CString base;
    base.Format("http://%s%s", QUORIX_WEB_HOST, path);
    CString url;
    url.Format("%s?ref=%s(%s)", base.GetString(), kProductName, version.GetString());
    ShellExecuteA(nullptr, "open", url, nullptr, nullptr, SW_SHOWNORMAL);
}

BOOL CQuorixDlg::OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message)
{
    if (!g_hHandCursor) {
        if (HCURSOR hand = LoadCursorA(nullptr, IDC_HAND))
            g_hHandCursor = CopyIcon(hand);
    }
    // The second source of a hand cursor, the help program's, does not exist on this desktop: the
    // toolkit's pointing hand above stands in for both.
    if (pWnd && pWnd == GetDlgItem(IDC_BANNER)) {
        SetCursor(g_hHandCursor);
        return TRUE;
    }
    return CDialog::OnSetCursor(pWnd, nHitTest, message);
}

void CQuorixDlg::OnReportFile()
{
    std::string path = g_strReportPath + "/index.html";
    ShellExecuteA(nullptr, "open", path.c_str(), nullptr, nullptr, SW_SHOW);
}

void CQuorixDlg::OnAverageDimHelp()
{
    MessageBox("To calculate averages or to measure performance we need to process x number of message per node.\n"
               "If x is too small the results may be inaccurate.\n"
               "If x is too large then short lived anonolies may not be detected.\n\n"
               "Specify the number of samples to be used to calculate averages. We suggest you try a value of 100.",
               nullptr, MB_OK);
}

void CQuorixDlg::OnProjectNameHelp()
{
    MessageBox("When Quorix has finished analysing the data it will create reports.\n"
               "The reports will be created in a folder named using the project name you allocate here.",
               nullptr, MB_OK);
}

void CQuorixDlg::OnLogFileHelp()
{
    MessageBox("You can capture data and analyse it later.\n\n"
               "The file should contain an uniterrupted sequence of bytes in hexadecimal such as those shown below.\n"
               "55 FF 00 08 07 00 00 73 55 FF 00 0A 08 00 00 63 55 FF 00 0B 0A 00 00 D9 \n\n"
               "How can you achieve this ?\n"
               "Simple. Connect a 485 converter between your computer and the MSTP network.\n"
               "Now run Hyperterminal and capture to file.",
               nullptr, MB_OK);
}

void CQuorixDlg::OnAbout()
{
    CAboutDlg dlgAbout;
    PrepareAboutDialog(dlgAbout, __DATE__, __TIME__);
    dlgAbout.DoModal();
}
