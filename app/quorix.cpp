#include "app/quorix.h"

#include "app/quorix_dlg.h"
#include "mstp/mstp_stack.h"

CQuorixApp theApp;

// No name is given: the application's name is the executable's file name without its extension.
CQuorixApp::CQuorixApp() = default;

CQuorixApp::~CQuorixApp() = default;

const CWinApp::CommandMap& CQuorixApp::GetMessageMap() const
{
    static const CommandMap map = {
        {ID_HELP, &CWinApp::OnHelp},
    };
    return map;
}

BOOL CQuorixApp::InitInstance()
{
    InitCommonControls();
    CWinApp::InitInstance();
    Enable3dControlsStatic();

    CQuorixDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    // The window has ended a running capture with its reports; no worker may be left for the
    // process's exit, which destroys the globals it uses.
    g_MstpStack.WaitForWorker();
    // The main window has closed: returning FALSE ends the process.
    return FALSE;
}
