#include "web/http_retriever.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

const char kUserAgent[] = "Tarn Software HTTP Retriever 1.0";
const char kContentType[] = "Content-Type: application/x-www-form-urlencoded";
const size_t kReadChunk = 8191;
const long kDefaultTimeoutSeconds = 60;
// Far above any reply of the site's scripts: a body that grows past this is not a reply but a
// server gone wrong, and collecting it would only eat memory.
const size_t kMaxBodyOctets = 1024 * 1024;

std::atomic<long> g_connectTimeout{kDefaultTimeoutSeconds};
std::atomic<long> g_receiveTimeout{kDefaultTimeoutSeconds};

void GlobalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

DWORD ErrorCode(CURLcode rc)
{
    return rc == CURLE_OK ? static_cast<DWORD>(CURLE_RECV_ERROR) : static_cast<DWORD>(rc);
}

template <typename Char>
Char UpperAscii(Char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<Char>(c - 'a' + 'A') : c;
}

template <typename Char>
const Char* FindNoCase(const Char* text, const Char* pattern)
{
    if (!text || !pattern)
        return nullptr;
    for (const Char* start = text;; ++start) {
        const Char* t = start;
        const Char* p = pattern;
        while (*p && *t && UpperAscii(*t) == UpperAscii(*p)) {
            ++t;
            ++p;
        }
        if (!*p)
            return start;
        if (!*start)
            return nullptr;
    }
}

} // namespace

const char* StrIStr(const char* text, const char* pattern)
{
    return FindNoCase(text, pattern);
}

const wchar_t* WcsIStr(const wchar_t* text, const wchar_t* pattern)
{
    return FindNoCase(text, pattern);
}

void CHttpRetriever::SetTimeouts(long connectSeconds, long receiveSeconds)
{
    g_connectTimeout = connectSeconds > 0 ? connectSeconds : kDefaultTimeoutSeconds;
    g_receiveTimeout = receiveSeconds > 0 ? receiveSeconds : kDefaultTimeoutSeconds;
}

CHttpRetriever::CHttpRetriever()
    : m_dwLastError(0), m_hSession(nullptr), m_hRequest(nullptr), m_hConnect(nullptr), m_pszBody(nullptr),
      m_pszHeaders(nullptr)
{
    GlobalInit();
    // A null root handle is not examined here: every exchange on this object then fails.
    m_hSession = curl_easy_init();
    if (!m_hSession)
        return;
    // The environment's proxy settings apply as libcurl reads them by default.
    curl_easy_setopt(m_hSession, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(m_hSession, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_hSession, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(m_hSession, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(m_hSession, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(m_hSession, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // No request may wait for ever: connecting, and a receive that stalls, both give up; and a
    // server that keeps trickling cannot stretch the whole exchange past the two together.
    const long connectSeconds = g_connectTimeout.load();
    const long receiveSeconds = g_receiveTimeout.load();
    curl_easy_setopt(m_hSession, CURLOPT_CONNECTTIMEOUT, connectSeconds);
    curl_easy_setopt(m_hSession, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(m_hSession, CURLOPT_LOW_SPEED_TIME, receiveSeconds);
    curl_easy_setopt(m_hSession, CURLOPT_TIMEOUT, connectSeconds + receiveSeconds);
}

CHttpRetriever::~CHttpRetriever()
{
    std::free(m_pszBody);
    std::free(m_pszHeaders);
    if (m_hSession)
        curl_easy_cleanup(m_hSession);
    CloseRequest();
    CloseConnect();
}

void CHttpRetriever::CloseRequest()
{
    if (m_hRequest) {
        curl_easy_cleanup(m_hRequest);
        m_hRequest = nullptr;
    }
    m_exchange = Exchange();
}

void CHttpRetriever::CloseConnect()
{
    if (m_hConnect) {
        curl_url_cleanup(m_hConnect);
        m_hConnect = nullptr;
    }
}

size_t CHttpRetriever::OnBody(char* data, size_t size, size_t count, void* user)
{
    auto* exchange = static_cast<Exchange*>(user);
    const size_t n = size * count;
    if (n > kMaxBodyOctets - exchange->body.size()) {
        // Returning short ends the transfer; what came so far is let go at once.
        exchange->tooLarge = true;
        std::string().swap(exchange->body);
        return 0;
    }
    exchange->body.append(data, n);
    return n;
}

size_t CHttpRetriever::OnHeader(char* data, size_t size, size_t count, void* user)
{
    auto* exchange = static_cast<Exchange*>(user);
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    // A status line begins the head of a new response (after a redirect, the last one counts).
    if (line.compare(0, 5, "HTTP/") == 0)
        exchange->headerLines.clear();
    if (!line.empty())
        exchange->headerLines.push_back(std::move(line));
    return size * count;
}

bool CHttpRetriever::Perform(CURL* request, DWORD* error)
{
    curl_easy_setopt(request, CURLOPT_WRITEFUNCTION, &CHttpRetriever::OnBody);
    curl_easy_setopt(request, CURLOPT_WRITEDATA, &m_exchange);
    curl_easy_setopt(request, CURLOPT_HEADERFUNCTION, &CHttpRetriever::OnHeader);
    curl_easy_setopt(request, CURLOPT_HEADERDATA, &m_exchange);
    CURLcode rc = curl_easy_perform(request);
    long status = 0;
    curl_easy_getinfo(request, CURLINFO_RESPONSE_CODE, &status);
    // Once a response head has come back the exchange counts as made; a body cut short later
    // gives the text received so far. A body too large to be a reply fails like a lost connection.
    m_exchange.responded = status != 0 && !m_exchange.tooLarge;
    if (m_exchange.tooLarge)
        *error = static_cast<DWORD>(CURLE_FILESIZE_EXCEEDED);
    else if (!m_exchange.responded)
        *error = ErrorCode(rc);
    return m_exchange.responded;
}

bool CHttpRetriever::OpenUrl(const char* url)
{
    CloseRequest();
    m_hRequest = m_hSession ? curl_easy_duphandle(m_hSession) : nullptr;
    if (!m_hRequest || !url) {
        m_dwLastError = ErrorCode(CURLE_FAILED_INIT);
        return false;
    }
    curl_easy_setopt(m_hRequest, CURLOPT_URL, url);
    curl_easy_setopt(m_hRequest, CURLOPT_HTTPGET, 1L);
    return Perform(m_hRequest, &m_dwLastError);
}

bool CHttpRetriever::Post(const char* url, const char* data, int length)
{
    if (!data)
        data = "";
    if (length == -1)
        length = static_cast<int>(std::strlen(data));
    if (length < 0)
        length = 0;

    // The old request handle still refers to the old target, so it goes first.
    CloseRequest();
    CloseConnect();
    // The target is split into host, port and path; a URL that cannot be split fails the send.
    m_hConnect = curl_url();
    bool split = m_hConnect && url && curl_url_set(m_hConnect, CURLUPART_URL, url, 0) == CURLUE_OK;
    if (split) {
        char* host = nullptr;
        split = curl_url_get(m_hConnect, CURLUPART_HOST, &host, 0) == CURLUE_OK && host && *host;
        curl_free(host);
    }

    m_hRequest = m_hSession ? curl_easy_duphandle(m_hSession) : nullptr;
    if (!m_hRequest || !split) {
        m_dwLastError = ErrorCode(split ? CURLE_FAILED_INIT : CURLE_URL_MALFORMAT);
        return false;
    }

    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, kContentType);
    headers = curl_slist_append(headers, "Accept: */*");
    // The body goes with the request at once, without waiting for a 100 Continue.
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(m_hRequest, CURLOPT_CURLU, m_hConnect);
    curl_easy_setopt(m_hRequest, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(m_hRequest, CURLOPT_POST, 1L);
    curl_easy_setopt(m_hRequest, CURLOPT_POSTFIELDSIZE, static_cast<long>(length));
    curl_easy_setopt(m_hRequest, CURLOPT_POSTFIELDS, data);
    bool sent = Perform(m_hRequest, &m_dwLastError);
    // The request handle keeps no pointer to the body or the header list past the exchange.
    curl_easy_setopt(m_hRequest, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(m_hRequest, CURLOPT_POSTFIELDS, nullptr);
    curl_slist_free_all(headers);
    return sent;
}

bool CHttpRetriever::ReadFile(char* buffer, size_t max, size_t* count)
{
    *count = 0;
    if (!m_hRequest || !m_exchange.responded)
        return false;
    size_t left = m_exchange.body.size() - m_exchange.readPos;
    size_t n = left < max ? left : max;
    std::memcpy(buffer, m_exchange.body.data() + m_exchange.readPos, n);
    m_exchange.readPos += n;
    *count = n;
    return true;
}

const char* CHttpRetriever::Retrieve(const char* url, bool post, const char* data, int length)
{
    if (!url) {
        m_dwLastError = static_cast<DWORD>(-1);
        return nullptr;
    }
    bool opened = post ? Post(url, data, length) : OpenUrl(url);
    if (!opened)
        return nullptr;

    std::free(m_pszBody);
    size_t capacity = kReadChunk + 2;
    m_pszBody = static_cast<char*>(std::calloc(capacity, 1));
    if (!m_pszBody)
        return nullptr;
    // Each chunk is appended where the text ends, and the buffer grows by doubling: the body is
    // collected in time linear in its length.
    size_t textLength = 0;
    char chunk[kReadChunk];
    for (;;) {
        size_t count = 0;
        if (!ReadFile(chunk, kReadChunk, &count) || count == 0)
            break;
        // Text semantics: a NUL inside a chunk ends what that chunk contributes.
        const size_t text = strnlen(chunk, count);
        if (textLength + text + 1 > capacity) {
            const size_t wanted = std::max(capacity * 2, textLength + text + 1);
            char* grown = static_cast<char*>(std::realloc(m_pszBody, wanted));
            if (!grown)
                break;
            m_pszBody = grown;
            capacity = wanted;
        }
        std::memcpy(m_pszBody + textLength, chunk, text);
        textLength += text;
        m_pszBody[textLength] = '\0';
    }
    return m_pszBody;
}

bool CHttpRetriever::QueryRawHeaders(char* buffer, size_t* size) const
{
    if (!m_hRequest || !m_exchange.responded)
        return false;
    size_t needed = 1;
    for (const std::string& line : m_exchange.headerLines)
        needed += line.size() + 1;
    if (*size < needed) {
        *size = needed;
        return false;
    }
    char* out = buffer;
    for (const std::string& line : m_exchange.headerLines) {
        std::memcpy(out, line.c_str(), line.size() + 1);
        out += line.size() + 1;
    }
    *out = '\0';
    *size = needed;
    return true;
}

const char* CHttpRetriever::GetHeaders(const char* url)
{
    if (!url) {
        m_dwLastError = static_cast<DWORD>(-1);
        return nullptr;
    }
    OpenUrl(url);
    std::free(m_pszHeaders);
    m_pszHeaders = static_cast<char*>(std::calloc(1, 1));
    if (!m_pszHeaders)
        return nullptr;
    size_t size = 1;
    if (QueryRawHeaders(m_pszHeaders, &size))
        return m_pszHeaders;
    if (size <= 1)
        return nullptr;
    char* grown = static_cast<char*>(std::realloc(m_pszHeaders, size));
    if (!grown)
        return nullptr;
    m_pszHeaders = grown;
    return QueryRawHeaders(m_pszHeaders, &size) ? m_pszHeaders : nullptr;
}

const char* CHttpRetriever::FindHeader(const char* text) const
{
    if (!m_pszHeaders)
        return nullptr;
    const char* line = m_pszHeaders;
    // An empty block (no lines at all) holds nothing to search.
    while (*line) {
        if (StrIStr(line, text))
            return line;
        line += std::strlen(line) + 1;
    }
    return nullptr;
}

int CHttpRetriever::GetStatusCode() const
{
    const char* line = FindHeader("http");
    if (!line)
        return 0;
    size_t len = std::strlen(line);
    for (size_t i = 0; i + 3 <= len; ++i) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(line + i);
        if (std::isdigit(p[0]) && std::isdigit(p[1]) && std::isdigit(p[2])) {
            char digits[4] = {line[i], line[i + 1], line[i + 2], '\0'};
            return std::atoi(digits);
        }
    }
    return 0;
}
