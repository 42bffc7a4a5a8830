// Data source choice: the two source radios and Browse, which picks and measures the log file.
#include <cstdint>
#include <cstdio>

#include <sys/stat.h>

#include "app/quorix_dlg.h"
#include "mstp/mstp_stack.h"

FILE* OpenLogFileForReading(const char* path)
{
    // Only a plain file is a log: a folder would read as an empty stream, and the open of a pipe
    // or a device could wait for a writer with the window frozen.
    struct stat st {};
    if (!path || (stat(path, &st) == 0 && !S_ISREG(st.st_mode)))
        return nullptr;
    FILE* file = std::fopen(path, "r");
    if (!file)
        return nullptr;
    if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

void CQuorixDlg::OnBrowse()
{
    CFileDialog dlg(FALSE, "log", nullptr, OFN_HIDEREADONLY | OFN_EXPLORER,
                    "Log file (*.log)|*.log|All Files (*.*)|*.*||", this);
    dlg.DoModal();
    // A cancelled dialog gives no path, and the earlier choice stays.
    CString path = dlg.GetPathName();
    if (!path.IsEmpty() && path.Find('/') >= 0)
        m_strLogFile = path;
    UpdateData(FALSE);
    if (!m_strLogFile.IsEmpty()) {
        FILE* file = OpenLogFileForReading(m_strLogFile);
        if (!file) {
            m_bLogFileOpened = false;
            g_MstpStack.m_pLogFile = nullptr;
            MessageBox("Can't open log file!", nullptr, MB_OK);
            g_MstpStack.m_nLogReadState = LOG_READ_OPEN_FAILED;
            return;
        }
        // 64-bit offsets: a day of traffic at 38400 baud is about a gigabyte of hex text.
        off_t length = fseeko(file, 0, SEEK_END) == 0 ? ftello(file) : -1;
        std::fclose(file);
        // Only the mark stays: Start opens the file anew for the reader.
        m_bLogFileOpened = true;
        g_MstpStack.m_pLogFile = nullptr;
        g_MstpStack.m_lLogFileSize = length < 0 ? 0 : static_cast<int64_t>(length);
        m_lFileLength = g_MstpStack.m_lLogFileSize;
        UpdateData(FALSE);
        GetDlgItem(IDC_START)->EnableWindow(TRUE);
    }
    UpdateData(FALSE);
}

void CQuorixDlg::OnSerialPortSource()
{
    GetDlgItem(IDC_START)->EnableWindow(TRUE);
    GetDlgItem(IDC_BROWSE)->EnableWindow(FALSE);
    GetDlgItem(IDC_SERIAL_PORT)->EnableWindow(TRUE);
    GetDlgItem(IDC_BAUDRATE)->EnableWindow(TRUE);
}

void CQuorixDlg::OnLogFileSource()
{
    GetDlgItem(IDC_BROWSE)->EnableWindow(TRUE);
    GetDlgItem(IDC_SERIAL_PORT)->EnableWindow(FALSE);
    GetDlgItem(IDC_BAUDRATE)->EnableWindow(FALSE);
    if (!m_bLogFileOpened)
        GetDlgItem(IDC_START)->EnableWindow(FALSE);
}
