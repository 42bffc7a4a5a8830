#pragma once
// Client of the scripts on the maker's web host: version check, feedback and usage report posts,
// each made on a worker thread while the calling thread keeps dispatching window messages, and the
// referral and help links opened in the browser.
#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "platform/cstring.h"
#include "platform/win_types.h"

#define WEB_REQUEST_BUFFER_SIZE 2048

// 1 while a request is in flight. At most one exchange runs at a time, whichever instance sent it.
extern std::atomic<BYTE> g_bVantrelComBusy;
// Reply text of the last request; read and written only under g_mtxVantrelComResponce.
extern CString g_csVantrelComResponce;
extern std::mutex g_mtxVantrelComResponce;

// Key and value pairs of a usage report, sent in ascending key order.
using UsageParameters = std::map<std::string, std::string>;

class CVantrelCom {
public:
    CVantrelCom() = default;
    ~CVantrelCom();

    // 0 the version is current, 1 an update is available, -1 failure or a reply that says neither.
    int CheckVersion(CString app_name, CString app_ver, CString Notes);
    // 1 the comment was accepted, -1 otherwise.
    int SendFeedback(CString Product, CString ProductV, CString Msg, CString Notes);
    // 1 the report was accepted, 0 otherwise.
    int ReportUsage(CString utility, CString version, const UsageParameters& parameters);

    // Opens the site's root page with a referral mark; always 1.
    int Referral(CString csName, CString csVersion);
    CString GetHelpUrl(CString csName, CString csVersion, int iHelpID);
    void OpenHelp(CString csName, CString csVersion, int iHelpID);

    // Gives up the time slice and dispatches pending window messages of this thread.
    static void PumpMessages();
    // Empties the reply; always 0.
    static int ClearResponse();
};

extern CVantrelCom g_VantrelCom;

// Worker procedures: each takes the address of the requester's body buffer.
void CheckVersionThread(void* body);
void SendFeedbackThread(void* body);
void ReportUsageThread(void* body);

// The free-text form escaping of the requests, applied in place.
void EscapeFormText(CString& text);

// The web host of every request and link: the build-time QUORIX_WEB_HOST unless replaced here
// (tests point it at a loopback server, "127.0.0.1:port"); null restores the build-time host.
void SetVantrelWebHost(const char* host);
CString GetVantrelWebHost();

// Tests make the next worker starts fail, to see a request give up cleanly.
void SetVantrelWorkerStartFailsForTest(bool fail);
