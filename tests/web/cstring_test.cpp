#include <gtest/gtest.h>

#include <string>

#include "platform/cstring.h"

TEST(CString, NullPointerGivesEmptyText)
{
    CString s("abc");
    s = static_cast<const char*>(nullptr);
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_EQ(0, s.GetLength());
    EXPECT_STREQ("", s.GetString());
    CString t(static_cast<const char*>(nullptr));
    EXPECT_TRUE(t.IsEmpty());
    t += static_cast<const char*>(nullptr);
    EXPECT_TRUE(t == nullptr);
}

TEST(CString, FormatReplacesAndGrowsPastSmallBuffer)
{
    CString s("old");
    s.Format("%s v%s%c%c", "ZEL Quorix", "1.10", 'a', 'A');
    EXPECT_STREQ("ZEL Quorix v1.10aA", s);
    std::string big(3000, 'x');
    s.Format("<%s>", big.c_str());
    EXPECT_EQ(3002, s.GetLength());
    s.AppendFormat("&%s=%d", "k", -1);
    EXPECT_EQ("<" + big + ">&k=-1", s.str());
}

TEST(CString, FormatMayReadItsOwnText)
{
    CString s("ab");
    s.Format("%s%s", s.GetString(), s.GetString());
    EXPECT_STREQ("abab", s);
}

TEST(CString, ReplaceEveryOccurrenceWithoutRescanning)
{
    CString s("a%b%%");
    EXPECT_EQ(3, s.Replace("%", "%25"));
    EXPECT_STREQ("a%25b%25%25", s);
    CString t("aaaa");
    EXPECT_EQ(2, t.Replace("aa", "a"));
    EXPECT_STREQ("aa", t);
    EXPECT_EQ(0, t.Replace("", "x"));
    EXPECT_EQ(2, t.Replace('a', 'b'));
    EXPECT_STREQ("bb", t);
}

TEST(CString, FindIsCaseSensitive)
{
    CString s("xx STATE: PASS yy");
    EXPECT_EQ(3, s.Find("STATE: PASS"));
    EXPECT_EQ(-1, s.Find("state: pass"));
    EXPECT_EQ(0, s.Find(""));
    EXPECT_EQ(-1, s.Find("xx", 1));
    EXPECT_EQ(15, s.Find('y'));
    EXPECT_EQ(16, s.ReverseFind('y'));
    EXPECT_EQ(-1, s.Find("x", 99));
}

TEST(CString, PiecesTrimAndCompare)
{
    CString s("  COM12  ");
    EXPECT_STREQ("COM12", CString(s).Trim());
    EXPECT_STREQ("COM12  ", CString(s).TrimLeft());
    CString t("COM12 ");
    EXPECT_STREQ("COM", t.Left(3));
    EXPECT_STREQ("2 ", t.Right(2));
    EXPECT_STREQ("12 ", t.Mid(3));
    EXPECT_STREQ("1", t.Mid(3, 1));
    EXPECT_STREQ("", t.Mid(40, 2));
    EXPECT_STREQ("COM12 ", t.Left(99));
    EXPECT_EQ('1', t.GetAt(3));
    EXPECT_EQ(0, t.Compare("COM12 "));
    EXPECT_EQ(0, t.CompareNoCase("com12 "));
    EXPECT_TRUE(t == "COM12 ");
    EXPECT_TRUE(t != "COM1");
    EXPECT_STREQ("COM12 x", t + "x");
    EXPECT_STREQ("xCOM12 ", "x" + t);
    EXPECT_STREQ("abc", CString("ABC").MakeLower());
    EXPECT_STREQ("ab", CString("abc", 2));
    EXPECT_STREQ("---", CString('-', 3));
}
