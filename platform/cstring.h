#pragma once
// The window code's text string: a byte string that reads like the framework string the program was
// written against. A null pointer assigned or compared counts as the empty text; text taken from a
// C string ends at its first NUL.
#include <cstddef>
#include <string>
#include <string_view>

class CString {
public:
    CString() = default;
    CString(const char* text);
    CString(const char* text, int length);
    CString(const std::string& text) : m_str(text) {}
    CString(std::string&& text) : m_str(std::move(text)) {}
    explicit CString(char ch, int count = 1);
    CString(const CString&) = default;
    CString(CString&&) noexcept = default;

    CString& operator=(const CString&) = default;
    CString& operator=(CString&&) noexcept = default;
    CString& operator=(const char* text);
    CString& operator=(const std::string& text);
    CString& operator=(char ch);

    CString& operator+=(const CString& text);
    CString& operator+=(const char* text);
    CString& operator+=(char ch);

    // The text as a C string, valid until the string is next changed.
    operator const char*() const { return m_str.c_str(); }
    const char* GetString() const { return m_str.c_str(); }
    const std::string& str() const { return m_str; }

    int GetLength() const { return static_cast<int>(m_str.size()); }
    bool IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }
    char GetAt(int index) const { return m_str.at(static_cast<size_t>(index)); }
    void SetAt(int index, char ch) { m_str.at(static_cast<size_t>(index)) = ch; }

    // printf formatting into this string (replaces the text); any length.
    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void AppendFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Replaces every occurrence, left to right, without rescanning inserted text; returns the count.
    int Replace(const char* oldText, const char* newText);
    int Replace(char oldCh, char newCh);

    // Case-sensitive search from start; the index of the first match, or -1.
    int Find(const char* text, int start = 0) const;
    int Find(char ch, int start = 0) const;
    int ReverseFind(char ch) const;

    CString Left(int count) const;
    CString Right(int count) const;
    CString Mid(int first) const;
    CString Mid(int first, int count) const;

    CString& MakeUpper();
    CString& MakeLower();
    CString& TrimLeft();
    CString& TrimRight();
    CString& Trim();

    int Compare(const char* text) const;
    int CompareNoCase(const char* text) const;

    friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
    friend bool operator==(const CString& a, const char* b) { return a.m_str == (b ? b : ""); }
    friend bool operator<(const CString& a, const CString& b) { return a.m_str < b.m_str; }

private:
    std::string m_str;
};

CString operator+(const CString& a, const CString& b);
CString operator+(const CString& a, const char* b);
CString operator+(const char* a, const CString& b);
CString operator+(const CString& a, char b);
