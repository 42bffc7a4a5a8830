#include "web/vantrel_com.h"

#include <cstring>
#include <new>
#include <system_error>
#include <thread>

#include "build_config.h"
#include "diagnostics/debug_log.h"
#include "platform/message_pump.h"
#include "platform/shell_open.h"
#include "web/http_retriever.h"

// Defined before g_VantrelCom, so they outlive its destructor at process end.
std::atomic<BYTE> g_bVantrelComBusy{0};
std::mutex g_mtxVantrelComResponce;
CString g_csVantrelComResponce;

CVantrelCom g_VantrelCom;

namespace {

const char kCheckVersionPath[] = "/script/checkversion.php";
const char kSendFeedbackPath[] = "/script/sendfeedback.php";
const char kUsagePath[] = "/script/tattler.php";
const char kHelpPath[] = "/script/help.php";

struct Escape {
    const char* from;
    const char* to;
};

// "%" goes first, so the escapes inserted by the later rows are not escaped again.
const Escape kFormEscapes[] = {
    {"%", "%25"}, {"$", "%24"}, {"&", "%26"}, {"+", "%2B"}, {",", "%2C"}, {"/", "%2F"}, {":", "%3A"},
    {";", "%3B"}, {"=", "%3D"}, {"?", "%3f"}, {"@", "%40"}, {" ", "%20"}, {"\"", "%22"}, {"<", "%3C"},
    {">", "%3E"}, {"#", "%23"}, {"{", "%7B"}, {"}", "%7D"}, {"|", "%7C"}, {"\\", "%5C"}, {"^", "%5E"},
    {"~", "%7E"}, {"[", "%5B"}, {"]", "%5D"}, {"`", "%60"},
};

std::mutex g_hostMutex;
std::string g_webHost = QUORIX_WEB_HOST;

std::atomic<bool> g_failWorkerStart{false};

CString Address(const char* path)
{
    CString address;
    address.Format("http://%s%s", GetVantrelWebHost().GetString(), path);
    return address;
}

CString TakeReply()
{
    std::lock_guard<std::mutex> lock(g_mtxVantrelComResponce);
    return g_csVantrelComResponce;
}

void StoreReply(const CString& reply)
{
    std::lock_guard<std::mutex> lock(g_mtxVantrelComResponce);
    g_csVantrelComResponce = reply;
}

bool Contains(const CString& text, const char* word)
{
    return text.Find(word) >= 0;
}

// Steps 1 and 2 of every request: wait for the exchange in flight, then claim the flag. Taking the
// flag in one step keeps two waiting requesters from both seeing it clear.
void ClaimBusy()
{
    for (;;) {
        BYTE expected = 0;
        if (g_bVantrelComBusy.compare_exchange_strong(expected, 1))
            return;
        CVantrelCom::PumpMessages();
    }
}

// The length limit of step 5: a body that does not fit the buffer with its NUL is not sent.
bool RefuseTooLong(const CString& body)
{
    if (body.GetLength() < WEB_REQUEST_BUFFER_SIZE)
        return false;
    g_bVantrelComBusy = 0;
    return true;
}

// Steps 7 and 8: hand the body to the worker and keep dispatching messages until it is done.
void RunWorker(const CString& body, void (*worker)(void*))
{
    char buffer[WEB_REQUEST_BUFFER_SIZE];
    std::memcpy(buffer, body.GetString(), static_cast<size_t>(body.GetLength()) + 1);
    std::thread thread;
    try {
        if (g_failWorkerStart)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        thread = std::thread(worker, static_cast<void*>(buffer));
    } catch (const std::system_error&) {
        // No worker: no reply, and the flag is left clear for the next request.
        StoreReply(CString());
        g_bVantrelComBusy = 0;
        return;
    }
    CVantrelCom::PumpMessages();
    while (g_bVantrelComBusy.load(std::memory_order_acquire))
        CVantrelCom::PumpMessages();
    // A request started from a handler during the wait may have run in between; the worker has
    // cleared the flag in any case, so this returns at once.
    thread.join();
}

void PostFromWorker(void* body, const char* path)
{
    g_bVantrelComBusy = 1;
    std::string text(static_cast<const char*>(body));
    StoreReply(CString());
    CString reply;
    CHttpRetriever* http = new (std::nothrow) CHttpRetriever;
    if (http) {
        reply = http->Retrieve(Address(path), true, text.c_str(), static_cast<int>(text.size()));
        delete http;
    }
    // The reply is in place before the flag clears: the requester reads it once it sees the flag.
    StoreReply(reply);
    g_bVantrelComBusy.store(0, std::memory_order_release);
}

} // namespace

void SetVantrelWebHost(const char* host)
{
    std::lock_guard<std::mutex> lock(g_hostMutex);
    g_webHost = host ? host : QUORIX_WEB_HOST;
}

CString GetVantrelWebHost()
{
    std::lock_guard<std::mutex> lock(g_hostMutex);
    return CString(g_webHost);
}

void SetVantrelWorkerStartFailsForTest(bool fail)
{
    g_failWorkerStart = fail;
}

void EscapeFormText(CString& text)
{
    for (const Escape& e : kFormEscapes)
        text.Replace(e.from, e.to);
}

void CheckVersionThread(void* body)
{
    PostFromWorker(body, kCheckVersionPath);
}

void SendFeedbackThread(void* body)
{
    PostFromWorker(body, kSendFeedbackPath);
}

void ReportUsageThread(void* body)
{
    PostFromWorker(body, kUsagePath);
}

CVantrelCom::~CVantrelCom()
{
    ClearResponse();
}

int CVantrelCom::ClearResponse()
{
    StoreReply(CString());
    return 0;
}

void CVantrelCom::PumpMessages()
{
    std::this_thread::yield();
    PumpWindowMessages();
}

int CVantrelCom::CheckVersion(CString app_name, CString app_ver, CString Notes)
{
    ClaimBusy();
    EscapeFormText(Notes);
    CString body;
    body.Format("app_name=%s&app_ver=%s&Notes=%s", app_name.GetString(), app_ver.GetString(), Notes.GetString());
    if (RefuseTooLong(body))
        return -1;
    DebugLog("FYI. CheckVersion %s", body.GetString());
    RunWorker(body, CheckVersionThread);

    CString reply = TakeReply();
    int result = -1;
    if (Contains(reply, "PASS") || Contains(reply, "Pass")) {
        DebugLog("FYI. CheckVersion [%s] PASS", body.GetString());
        result = 0;
    } else if (Contains(reply, "UPDATE") || Contains(reply, "Update")) {
        DebugLog("FYI. CheckVersion [%s] UPDATE", body.GetString());
        result = 1;
    } else if (Contains(reply, "FAIL") || Contains(reply, "Fail")) {
        DebugLog("FYI. CheckVersion [%s] FAIL", body.GetString());
    } else {
        DebugLog("Err. CheckVersion [%s] Unknown error", body.GetString());
    }
    ClearResponse();
    return result;
}

int CVantrelCom::SendFeedback(CString Product, CString ProductV, CString Msg, CString Notes)
{
    ClaimBusy();
    EscapeFormText(Msg);
    EscapeFormText(Notes);
    CString body;
    body.Format("Product=%s&ProductV=%s&Msg=%s&Notes=%s", Product.GetString(), ProductV.GetString(),
                Msg.GetString(), Notes.GetString());
    if (RefuseTooLong(body))
        return -1;
    RunWorker(body, SendFeedbackThread);

    CString reply = TakeReply();
    int result = -1;
    if (Contains(reply, "PASS") || Contains(reply, "Pass")) {
        DebugLog("FYI. SendFeedback [%s] Feedback Sent", body.GetString());
        result = 1;
    } else {
        DebugLog("Err. SendFeedback [%s] unknow error", body.GetString());
    }
    ClearResponse();
    return result;
}

int CVantrelCom::ReportUsage(CString utility, CString version, const UsageParameters& parameters)
{
    ClaimBusy();
    CString body;
    body.Format("utility=%s&version=%s", utility.GetString(), version.GetString());
    for (const auto& [key, value] : parameters)
        body.AppendFormat("&%s=%s", key.c_str(), value.c_str());
    if (RefuseTooLong(body))
        return 0;
    RunWorker(body, ReportUsageThread);

    // The reply stays for whoever looks next; only the version check and the feedback empty it.
    CString reply = TakeReply();
    return Contains(reply, "STATE: PASS") && !Contains(reply, "STATE: FAILED") ? 1 : 0;
}

int CVantrelCom::Referral(CString csName, CString csVersion)
{
    DebugLog("FYI. Referral csName=[%s] csVersion=[%s]", csName.GetString(), csVersion.GetString());
    CString link;
    link.Format("%s?ref=%s(%s)", Address("/").GetString(), csName.GetString(), csVersion.GetString());
    ShellOpen(link.str());
    return 1;
}

CString CVantrelCom::GetHelpUrl(CString csName, CString csVersion, int iHelpID)
{
    DebugLog("FYI. GetHelpUrl csName=[%s] csVersion=[%s] iHelpID=[%d]", csName.GetString(), csVersion.GetString(),
             iHelpID);
    static std::mutex storeMutex;
    static CString store;
    std::lock_guard<std::mutex> lock(storeMutex);
    store.Format("%s?Product=%s&ProductV=%s&helpid=%d", Address(kHelpPath).GetString(), csName.GetString(),
                 csVersion.GetString(), iHelpID);
    return store;
}

void CVantrelCom::OpenHelp(CString csName, CString csVersion, int iHelpID)
{
    CString address = GetHelpUrl(csName, csVersion, iHelpID);
    ShellOpen(address.str());
}
