#pragma once
// The About box: version text, comments sent to the maker, the update check and the web link.
#include "platform/cstring.h"
#include "platform/qt/framework.h"

#define IDD_ABOUTBOX 100
#define IDC_COMMENTS 1018
#define IDC_VERSION_INFO 1019
#define IDC_WEBLINK 1021
#define IDC_CHECK_UPDATES 1022
#define IDC_SEND 1024
#define IDC_EXIT 1025

// The template IDD_ABOUTBOX.
const DialogTemplate& AboutDialogTemplate();

class CAboutDlg : public CDialog {
public:
    CAboutDlg();
    ~CAboutDlg() override;

    CString m_strVersionInfo;
    CString m_strComment;
    CString m_strProductName;
    CString m_strVersion;
    CString m_strNotes;

    const MessageMap& GetMessageMap() const override;

    void OnWebLink();
    void OnExit();
    void OnCheckForUpdates();
    void CheckForUpdates(bool showResult);
    void OnSend();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
};

// Fills the texts that the main window hands the box before showing it: the version text, the
// product name and version sent with feedback, and the notes with the build's date and time
// (pass __DATE__ and __TIME__).
void PrepareAboutDialog(CAboutDlg& dlg, const char* buildDate, const char* buildTime);
