#include "app/about_dlg.h"

#include "app/resource.h"
#include "build_config.h"
#include "diagnostics/debug_log.h"
#include "web/vantrel_com.h"

namespace {

const char kProductName[] = "ZEL Quorix";
const char kVersionNumber[] = "1.10";
const char kVersionLetter1 = 'a';
const char kVersionLetter2 = 'A';
const char kLastUpdated[] = "Dec 18 2008";
const char kInstallerPath[] = "/files/resources/modbus/Installer_ZEL Quorix.exe";

CString VersionText()
{
    CString version;
    version.Format("%s%c%c", kVersionNumber, kVersionLetter1, kVersionLetter2);
    return version;
}

} // namespace

const DialogTemplate& AboutDialogTemplate()
{
    static const DialogTemplate dialogTemplate{
        IDD_ABOUTBOX,
        "About Quorix",
        286,
        255,
        "MS Sans Serif",
        8,
        DS_MODALFRAME | WS_CAPTION | WS_SYSMENU,
        0,
        {
            {-1, ControlKind::StaticText,
             "Your comments will be sent anonymously.\nIf you require a response please include some contact "
             "information (Name, Email, Phone number...)",
             13, 143, 264, 27},
            {-1, ControlKind::Picture, "", 7, 7, 272, 40, SS_CENTERIMAGE | SS_SUNKEN, IDB_ABOUT_BANNER},
            {IDC_COMMENTS, ControlKind::Edit, "", 11, 175, 264, 53,
             ES_MULTILINE | ES_WANTRETURN | WS_VSCROLL | WS_TABSTOP},
            {-1, ControlKind::GroupBox, "Version Info", 7, 62, 272, 71},
            {-1, ControlKind::GroupBox, "Comments and Suggestions ", 7, 133, 272, 115},
            {IDC_VERSION_INFO, ControlKind::Edit, "", 12, 72, 264, 59, ES_MULTILINE | ES_READONLY | WS_VSCROLL},
            {IDC_WEBLINK, ControlKind::PushButton, QUORIX_WEB_HOST, 101, 49, 66, 14, WS_TABSTOP},
            {IDC_CHECK_UPDATES, ControlKind::PushButton, "Check for updates", 14, 232, 73, 14, WS_TABSTOP},
            {IDC_SEND, ControlKind::PushButton, "send", 122, 232, 50, 14, WS_TABSTOP},
            {IDC_EXIT, ControlKind::PushButton, "Exit", 213, 232, 50, 14, WS_TABSTOP},
        },
    };
    return dialogTemplate;
}

CAboutDlg::CAboutDlg() : CDialog(AboutDialogTemplate(), nullptr) {}

CAboutDlg::~CAboutDlg() = default;

const MessageMap& CAboutDlg::GetMessageMap() const
{
    static const MessageMap map{
        ON_BN_CLICKED(IDC_WEBLINK, &CAboutDlg::OnWebLink),
        ON_BN_CLICKED(IDC_EXIT, &CAboutDlg::OnExit),
        ON_BN_CLICKED(IDC_CHECK_UPDATES, &CAboutDlg::OnCheckForUpdates),
        ON_BN_CLICKED(IDC_SEND, &CAboutDlg::OnSend),
    };
    return map;
}

void CAboutDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_VERSION_INFO, m_strVersionInfo);
    DDX_Text(pDX, IDC_COMMENTS, m_strComment);
}

void CAboutDlg::OnWebLink()
{
    CVantrelCom com;
    com.Referral("Blarg", "Blarg version");
}

void CAboutDlg::OnExit()
{
    UpdateData(TRUE);
    // Only a comment of length 0 counts as empty: blanks are a message too.
    if (m_strComment.GetLength() == 0) {
        CDialog::OnOK();
        return;
    }
    if (MessageAndLog(MB_YESNO, "There are some messages not sent. \nAre you sure you want to Exit? ") == IDYES)
        CDialog::OnOK();
}

void CAboutDlg::OnCheckForUpdates()
{
    CheckForUpdates(true);
}

void CAboutDlg::CheckForUpdates(bool showResult)
{
    CString version = VersionText();
    CVantrelCom com;
    int result = com.CheckVersion(kProductName, version, "");
    if (result == 0) {
        if (showResult)
            AfxMessageBox("No updates available ", MB_OK);
    } else if (result > 0) {
        // A newer version is announced whether or not the result was asked for.
        if (AfxMessageBox("There is a new version of this application available.\nWould you like to download the "
                          "new version?",
                          MB_YESNO) == IDYES) {
            CString url;
            url.Format("http://%s%s", GetVantrelWebHost().GetString(), kInstallerPath);
            ShellExecuteA(nullptr, "open", url, nullptr, nullptr, SW_SHOWNORMAL);
        }
    } else if (showResult) {
        AfxMessageBox("We could not connect to our servers.\nOur servers could be down or \nYou might not have a "
                      "connection to the internet at this moment, please check your connection and try again.",
                      MB_OK);
    }
}

void CAboutDlg::OnSend()
{
    // Made on entry, so its destructor clears the reply on every way out.
    CVantrelCom com;
    UpdateData(TRUE);
    if (m_strComment.IsEmpty()) {
        AfxMessageBox("No message to send. \nPlease enter some text in to the message field ", MB_OK);
        return;
    }
    int result = com.SendFeedback(m_strProductName, m_strVersion, m_strComment, m_strNotes);
    if (result == 1) {
        AfxMessageBox("Your message has been sent successfully\nThank you.", MB_OK);
    } else {
        // The comment stays in its box, so the user can try again.
        AfxMessageBox("We were unable to send your message\nYou might not have a connection to the internet at this "
                      "moment, please check your connection and try again.\nIf you are still unable to send your "
                      "message please manually contact technical support (" QUORIX_SUPPORT_EMAIL ")",
                      MB_OK);
    }
}

void PrepareAboutDialog(CAboutDlg& dlg, const char* buildDate, const char* buildTime)
{
    dlg.m_strVersionInfo.Format("%s v%s%c%c\r\nLast Updated %s\r\n\r\n", kProductName, kVersionNumber,
                                kVersionLetter1, kVersionLetter2, kLastUpdated);
    dlg.m_strProductName.Format("%s", kProductName);
    dlg.m_strVersion = VersionText();
    dlg.m_strNotes.Format("Last Compile date: %s %s", buildDate ? buildDate : "", buildTime ? buildTime : "");
}
