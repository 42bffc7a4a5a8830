#pragma once
// One HTTP exchange (a GET or a form POST) whose response body is read as text into a buffer the
// object owns. Logs nothing and shows nothing: a failure is a null result.
#include <cstddef>
#include <string>
#include <vector>

#include <curl/curl.h>

#include "platform/win_types.h"

class CHttpRetriever {
public:
    CHttpRetriever();
    ~CHttpRetriever();
    CHttpRetriever(const CHttpRetriever&) = delete;
    CHttpRetriever& operator=(const CHttpRetriever&) = delete;

    // GET of an absolute URL; true when the response head came back and the body can be read.
    bool OpenUrl(const char* url);
    // POST of a form body (length -1: strlen(data)); true when the request went out and the
    // response head came back.
    bool Post(const char* url, const char* data, int length = -1);
    // The whole body text (it ends at a NUL inside any 8191-octet chunk), or null on a transport
    // failure, which a body above 1 MiB counts as. The HTTP status is not looked at. Valid until
    // the next Retrieve or destruction.
    const char* Retrieve(const char* url, bool post, const char* data = nullptr, int length = -1);
    // GET of url; the raw header block: each line ends with a NUL, one more NUL ends the block.
    const char* GetHeaders(const char* url);
    // Start of the first header line that holds text in any letter case, or null.
    const char* FindHeader(const char* text) const;
    // The three-digit status of the last GetHeaders, or 0.
    int GetStatusCode() const;

    // Error code of the last failed open or send (-1 after a null URL), 0 if none failed.
    DWORD GetLastErrorCode() const { return m_dwLastError; }

    // Time-outs for connecting and for a receive that stalls; the defaults are 60 seconds each.
    // A whole exchange is given the two together at most. Tests shorten them; seconds of 0 or
    // less restore the defaults.
    static void SetTimeouts(long connectSeconds, long receiveSeconds);

private:
    // The response as the transport delivered it, read back in chunks like a socket stream.
    struct Exchange {
        std::string body;
        size_t readPos = 0;
        std::vector<std::string> headerLines;
        bool responded = false;
        bool tooLarge = false; // the body grew past what a reply can be
    };

    bool Perform(CURL* request, DWORD* error);
    void CloseRequest();
    void CloseConnect();
    // Reads at most max octets of the body; false when there is no open request.
    bool ReadFile(char* buffer, size_t max, size_t* count);
    // The raw header block into buffer; on a short buffer fails and sets *size to the size needed.
    bool QueryRawHeaders(char* buffer, size_t* size) const;

    static size_t OnBody(char* data, size_t size, size_t count, void* user);
    static size_t OnHeader(char* data, size_t size, size_t count, void* user);

    DWORD m_dwLastError;
    CURL* m_hSession;   // template handle: user agent, proxy and time-out settings
    CURL* m_hRequest;   // the handle of the last GET or POST, whose response is read
    CURLU* m_hConnect;  // the parsed target (host, port, path) of the last POST
    char* m_pszBody;
    char* m_pszHeaders;
    Exchange m_exchange;
};

// Case-insensitive substring search (letters a to z only); a pointer into text, or null.
const char* StrIStr(const char* text, const char* pattern);
const wchar_t* WcsIStr(const wchar_t* text, const wchar_t* pattern);
