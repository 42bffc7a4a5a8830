#include "platform/cstring.h"

#include "platform/format.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {

size_t Clamp(int value, size_t limit)
{
    if (value < 0)
        return 0;
    return std::min(static_cast<size_t>(value), limit);
}

bool IsBlank(unsigned char ch)
{
    return std::isspace(ch) != 0;
}

} // namespace

CString::CString(const char* text) : m_str(text ? text : "") {}

CString::CString(const char* text, int length)
{
    if (text && length > 0)
        m_str.assign(text, strnlen(text, static_cast<size_t>(length)));
}

CString::CString(char ch, int count)
{
    if (count > 0)
        m_str.assign(static_cast<size_t>(count), ch);
}

CString& CString::operator=(const char* text)
{
    // The text may point into this string itself.
    m_str = std::string(text ? text : "");
    return *this;
}

CString& CString::operator=(const std::string& text)
{
    m_str = text;
    return *this;
}

CString& CString::operator=(char ch)
{
    m_str.assign(1, ch);
    return *this;
}

CString& CString::operator+=(const CString& text)
{
    m_str += text.m_str;
    return *this;
}

CString& CString::operator+=(const char* text)
{
    if (text)
        m_str += std::string(text);
    return *this;
}

CString& CString::operator+=(char ch)
{
    m_str += ch;
    return *this;
}

void CString::Format(const char* format, ...)
{
    // An argument may be this string's own text, so format into a fresh buffer first.
    std::string out;
    va_list args;
    va_start(args, format);
    AppendFormatV(out, format, args);
    va_end(args);
    m_str = std::move(out);
}

void CString::AppendFormat(const char* format, ...)
{
    std::string out;
    va_list args;
    va_start(args, format);
    AppendFormatV(out, format, args);
    va_end(args);
    m_str += out;
}

int CString::Replace(const char* oldText, const char* newText)
{
    if (!oldText || !*oldText)
        return 0;
    const std::string from(oldText);
    const std::string to(newText ? newText : "");
    std::string out;
    int count = 0;
    size_t pos = 0;
    for (;;) {
        size_t hit = m_str.find(from, pos);
        if (hit == std::string::npos)
            break;
        out.append(m_str, pos, hit - pos);
        out += to;
        pos = hit + from.size();
        ++count;
    }
    if (count) {
        out.append(m_str, pos, std::string::npos);
        m_str = std::move(out);
    }
    return count;
}

int CString::Replace(char oldCh, char newCh)
{
    int count = 0;
    for (char& c : m_str) {
        if (c == oldCh) {
            c = newCh;
            ++count;
        }
    }
    return count;
}

int CString::Find(const char* text, int start) const
{
    if (!text || start < 0 || static_cast<size_t>(start) > m_str.size())
        return -1;
    size_t hit = m_str.find(text, static_cast<size_t>(start));
    return hit == std::string::npos ? -1 : static_cast<int>(hit);
}

int CString::Find(char ch, int start) const
{
    if (start < 0 || static_cast<size_t>(start) > m_str.size())
        return -1;
    size_t hit = m_str.find(ch, static_cast<size_t>(start));
    return hit == std::string::npos ? -1 : static_cast<int>(hit);
}

int CString::ReverseFind(char ch) const
{
    size_t hit = m_str.rfind(ch);
    return hit == std::string::npos ? -1 : static_cast<int>(hit);
}

CString CString::Left(int count) const
{
    return CString(m_str.substr(0, Clamp(count, m_str.size())));
}

CString CString::Right(int count) const
{
    size_t n = Clamp(count, m_str.size());
    return CString(m_str.substr(m_str.size() - n));
}

CString CString::Mid(int first) const
{
    size_t from = Clamp(first, m_str.size());
    return CString(m_str.substr(from));
}

CString CString::Mid(int first, int count) const
{
    size_t from = Clamp(first, m_str.size());
    return CString(m_str.substr(from, Clamp(count, m_str.size() - from)));
}

CString& CString::MakeUpper()
{
    for (char& c : m_str)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return *this;
}

CString& CString::MakeLower()
{
    for (char& c : m_str)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return *this;
}

CString& CString::TrimLeft()
{
    size_t i = 0;
    while (i < m_str.size() && IsBlank(static_cast<unsigned char>(m_str[i])))
        ++i;
    m_str.erase(0, i);
    return *this;
}

CString& CString::TrimRight()
{
    size_t n = m_str.size();
    while (n > 0 && IsBlank(static_cast<unsigned char>(m_str[n - 1])))
        --n;
    m_str.resize(n);
    return *this;
}

CString& CString::Trim()
{
    TrimRight();
    return TrimLeft();
}

int CString::Compare(const char* text) const
{
    return std::strcmp(m_str.c_str(), text ? text : "");
}

int CString::CompareNoCase(const char* text) const
{
    return strcasecmp(m_str.c_str(), text ? text : "");
}

CString operator+(const CString& a, const CString& b)
{
    return CString(a.str() + b.str());
}

CString operator+(const CString& a, const char* b)
{
    CString out(a);
    out += b;
    return out;
}

CString operator+(const char* a, const CString& b)
{
    CString out(a);
    out += b;
    return out;
}

CString operator+(const CString& a, char b)
{
    CString out(a);
    out += b;
    return out;
}
