#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/about_dlg.h"
#include "build_config.h"
#include "platform/message_box.h"
#include "platform/shell_open.h"
#include "web/loopback_server.h"
#include "web/vantrel_com.h"
#include "web/web_test_support.h"

namespace {

struct Box {
    std::string text;
    std::string caption;
    unsigned type;
};

const char kExitQuestion[] = "There are some messages not sent. \nAre you sure you want to Exit? ";
const char kNothingToSend[] = "No message to send. \nPlease enter some text in to the message field ";
const char kSent[] = "Your message has been sent successfully\nThank you.";
const char kNotSent[] =
    "We were unable to send your message\nYou might not have a connection to the internet at this moment, please "
    "check your connection and try again.\nIf you are still unable to send your message please manually contact "
    "technical support (" QUORIX_SUPPORT_EMAIL ")";
const char kNewVersion[] =
    "There is a new version of this application available.\nWould you like to download the new version?";
const char kNoUpdates[] = "No updates available ";
const char kNoConnection[] =
    "We could not connect to our servers.\nOur servers could be down or \nYou might not have a connection to the "
    "internet at this moment, please check your connection and try again.";

class AboutDialogTest : public LoopbackServerTest {
protected:
    static void SetUpTestSuite()
    {
        AfxEnsureQtApplication();
        InstallQtPlatformHooks();
        LoopbackServerTest::SetUpTestSuite();
    }

    void SetUp() override
    {
        LoopbackServerTest::SetUp();
        SetMessageBoxHook([this](const std::string& text, const std::string& caption, unsigned type) {
            m_boxes.push_back({text, caption, type});
            if (m_answers.empty())
                return DefaultMessageBoxAnswer(type);
            int answer = m_answers.front();
            m_answers.pop_front();
            return answer;
        });
        SetShellOpenHook([this](const std::string& target) {
            m_opened.push_back(target);
            return true;
        });
        PrepareAboutDialog(m_dlg, "Dec 19 2008", "12:37:05");
        m_dlg.Create();
    }

    void TearDown() override
    {
        m_dlg.DestroyWindow();
        LoopbackServerTest::TearDown();
        SetMessageBoxHook(nullptr);
        SetShellOpenHook(nullptr);
    }

    QPushButton* Button(int id) { return qobject_cast<QPushButton*>(m_dlg.GetDlgItem(id)->GetQWidget()); }
    QPlainTextEdit* Edit(int id) { return qobject_cast<QPlainTextEdit*>(m_dlg.GetDlgItem(id)->GetQWidget()); }

    void Click(int id)
    {
        QPushButton* button = Button(id);
        ASSERT_NE(nullptr, button);
        QTest::mouseClick(button, Qt::LeftButton);
    }

    void Type(const char* text)
    {
        QPlainTextEdit* edit = Edit(IDC_COMMENTS);
        edit->setFocus();
        // Return is typed as a key of its own: it starts a new line in the comment.
        QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
        for (int i = 0; i < lines.size(); ++i) {
            if (i > 0)
                QTest::keyClick(edit, Qt::Key_Return);
            QTest::keyClicks(edit, lines[i]);
        }
    }

    std::string Comment() { return Edit(IDC_COMMENTS)->toPlainText().toStdString(); }

    void ExpectOneBox(const char* text, unsigned type)
    {
        ASSERT_EQ(1u, m_boxes.size());
        EXPECT_EQ(text, m_boxes[0].text);
        EXPECT_EQ(AfxGetAppName(), m_boxes[0].caption);
        EXPECT_EQ(type | MB_ICONEXCLAMATION, m_boxes[0].type);
    }

    TempWorkDir m_dir;
    CAboutDlg m_dlg;
    std::vector<Box> m_boxes;
    std::deque<int> m_answers;
    std::vector<std::string> m_opened;
};

} // namespace

TEST_F(AboutDialogTest, ShowsTheVersionText)
{
    EXPECT_EQ("ZEL Quorix v1.10aA\nLast Updated Dec 18 2008\n\n", Edit(IDC_VERSION_INFO)->toPlainText().toStdString());
    EXPECT_TRUE(Edit(IDC_VERSION_INFO)->isReadOnly());
    EXPECT_EQ("", Comment());
    EXPECT_STREQ("ZEL Quorix", m_dlg.m_strProductName);
    EXPECT_STREQ("1.10aA", m_dlg.m_strVersion);
    EXPECT_STREQ("Last Compile date: Dec 19 2008 12:37:05", m_dlg.m_strNotes);
    EXPECT_EQ("About Quorix", m_dlg.GetQWidget()->windowTitle().toStdString());
    EXPECT_EQ(QUORIX_WEB_HOST, Button(IDC_WEBLINK)->text().toStdString());
    for (int id : {IDC_WEBLINK, IDC_CHECK_UPDATES, IDC_SEND, IDC_EXIT})
        EXPECT_FALSE(Button(id)->isDefault()) << id;
}

TEST_F(AboutDialogTest, TemplateLaysOutEveryControl)
{
    struct Row {
        const char* kind;  // Qt class the control is built as
        std::string text;
        int x, y, cx, cy;  // dialog units
    } rows[] = {
        {"QLabel",
         "Your comments will be sent anonymously.\nIf you require a response please include some contact "
         "information (Name, Email, Phone number...)",
         13, 143, 264, 27},
        {"QLabel", "", 7, 7, 272, 40},
        {"QPlainTextEdit", "", 11, 175, 264, 53},
        {"QGroupBox", "Version Info", 7, 62, 272, 71},
        {"QGroupBox", "Comments and Suggestions ", 7, 133, 272, 115},
        {"QPlainTextEdit", "ZEL Quorix v1.10aA\nLast Updated Dec 18 2008\n\n", 12, 72, 264, 59},
        {"QPushButton", QUORIX_WEB_HOST, 101, 49, 66, 14},
        {"QPushButton", "Check for updates", 14, 232, 73, 14},
        {"QPushButton", "send", 122, 232, 50, 14},
        {"QPushButton", "Exit", 213, 232, 50, 14},
    };
    auto textOf = [](QWidget* w) {
        if (auto* label = qobject_cast<QLabel*>(w))
            return label->text().toStdString();
        if (auto* group = qobject_cast<QGroupBox*>(w))
            return group->title().toStdString();
        if (auto* button = qobject_cast<QPushButton*>(w))
            return button->text().toStdString();
        if (auto* edit = qobject_cast<QPlainTextEdit*>(w))
            return edit->toPlainText().toStdString();
        return std::string("?");
    };
    const QList<QWidget*> children = m_dlg.GetQWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        RECT r{row.x, row.y, row.x + row.cx, row.y + row.cy};
        m_dlg.MapDialogRect(&r);
        const QRect expected(static_cast<int>(r.left), static_cast<int>(r.top), static_cast<int>(r.right - r.left),
                             static_cast<int>(r.bottom - r.top));
        int found = 0;
        for (QWidget* w : children)
            if (w->geometry() == expected && w->inherits(row.kind) && textOf(w) == row.text)
                ++found;
        EXPECT_EQ(1, found);
    }
    EXPECT_EQ(10, children.size());

    // The comment takes Return and scrolls; the version text is read-only and scrolls.
    EXPECT_FALSE(Edit(IDC_COMMENTS)->isReadOnly());
    EXPECT_EQ(Qt::ScrollBarAlwaysOn, Edit(IDC_COMMENTS)->verticalScrollBarPolicy());
    EXPECT_EQ(Qt::ScrollBarAlwaysOn, Edit(IDC_VERSION_INFO)->verticalScrollBarPolicy());
    QTest::keyClick(Edit(IDC_COMMENTS), Qt::Key_Return);
    EXPECT_EQ("\n", Comment());
    EXPECT_FALSE(m_dlg.IsEnded());

    // Tab order: the comment, then the four buttons in template order.
    std::vector<int> order;
    QWidget* start = Edit(IDC_COMMENTS);
    for (QWidget* w = start; order.empty() || w != start; w = w->nextInFocusChain()) {
        if (!(w->focusPolicy() & Qt::TabFocus))
            continue;
        for (int id : {IDC_COMMENTS, IDC_WEBLINK, IDC_CHECK_UPDATES, IDC_SEND, IDC_EXIT})
            if (w == m_dlg.GetDlgItem(id)->GetQWidget())
                order.push_back(id);
        if (order.size() > 5)
            break;
    }
    EXPECT_EQ((std::vector<int>{IDC_COMMENTS, IDC_WEBLINK, IDC_CHECK_UPDATES, IDC_SEND, IDC_EXIT}), order);
}

TEST_F(AboutDialogTest, ExitWithoutCommentClosesAtOnce)
{
    Click(IDC_EXIT);
    EXPECT_TRUE(m_dlg.IsEnded());
    EXPECT_EQ(IDOK, m_dlg.GetResult());
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_TRUE(LogEntries("log.txt").empty());
}

TEST_F(AboutDialogTest, ExitWithCommentAsksAndLogsTheAnswer)
{
    for (const char* comment : {"hello", "   "}) {
        SCOPED_TRACE(comment);
        Edit(IDC_COMMENTS)->clear();
        Type(comment);
        m_boxes.clear();
        m_answers = {IDNO};
        Click(IDC_EXIT);
        ASSERT_EQ(1u, m_boxes.size());
        EXPECT_EQ(kExitQuestion, m_boxes[0].text);
        EXPECT_EQ("Message", m_boxes[0].caption);
        EXPECT_EQ(static_cast<unsigned>(MB_YESNO), m_boxes[0].type);
        EXPECT_FALSE(m_dlg.IsEnded());
        EXPECT_EQ(comment, Comment());
    }
    const std::vector<std::string> asked = {std::string("MessageAndLog iType=[4] msg=[") + kExitQuestion + "]",
                                            "MessageAndLog return = [ 7]"};
    std::vector<std::string> twice = asked;
    twice.insert(twice.end(), asked.begin(), asked.end());
    EXPECT_EQ(twice, LogEntries("log.txt"));
    EXPECT_EQ(twice, LogEntries("Debuglog.txt"));

    m_answers = {IDYES};
    Click(IDC_EXIT);
    EXPECT_TRUE(m_dlg.IsEnded());
    EXPECT_EQ(IDOK, m_dlg.GetResult());
    EXPECT_EQ("MessageAndLog return = [ 6]", LogEntries("log.txt").back());
    EXPECT_EQ("MessageAndLog return = [ 6]", LogEntries("Debuglog.txt").back());
}

TEST_F(AboutDialogTest, EscapeAndCloseBoxDiscardTheCommentWithoutAsking)
{
    const std::vector<std::pair<const char*, std::function<void()>>> ways = {
        {"Escape", [this] { QTest::keyClick(m_dlg.GetQWidget(), Qt::Key_Escape); }},
        {"close box", [this] { m_dlg.GetQWidget()->close(); }},
    };
    for (const auto& [name, cancel] : ways) {
        SCOPED_TRACE(name);
        m_dlg.Create();
        Type("unsent words");
        cancel();
        EXPECT_TRUE(m_dlg.IsEnded());
        EXPECT_EQ(IDCANCEL, m_dlg.GetResult());
        EXPECT_TRUE(m_boxes.empty());
        // Cancel exchanges nothing: the member keeps what it had.
        EXPECT_STREQ("", m_dlg.m_strComment);
    }
}

TEST_F(AboutDialogTest, EnterOutsideTheCommentEndsWithoutAsking)
{
    // Return in the comment starts a new line; where no control takes it, it is the dialog's OK:
    // the fields are read back and the dialog ends, with no question about the comment.
    Type("first\nsecond");
    EXPECT_FALSE(m_dlg.IsEnded());
    Edit(IDC_VERSION_INFO)->setFocus();
    QTest::keyClick(Edit(IDC_VERSION_INFO), Qt::Key_Return);
    EXPECT_TRUE(m_dlg.IsEnded());
    EXPECT_EQ(IDOK, m_dlg.GetResult());
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_STREQ("first\r\nsecond", m_dlg.m_strComment);
}

TEST_F(AboutDialogTest, SendWithoutCommentPostsNothing)
{
    // A reply left by an earlier request (a usage report keeps its reply) is cleared by the
    // handler's own web client, even when it returns before posting.
    {
        std::lock_guard<std::mutex> lock(g_mtxVantrelComResponce);
        g_csVantrelComResponce = "STATE: PASS";
    }
    Click(IDC_SEND);
    ExpectOneBox(kNothingToSend, MB_OK);
    EXPECT_TRUE(s_server->TakeRequests().empty());
    EXPECT_FALSE(m_dlg.IsEnded());
    std::lock_guard<std::mutex> lock(g_mtxVantrelComResponce);
    EXPECT_TRUE(g_csVantrelComResponce.IsEmpty());
}

TEST_F(AboutDialogTest, SentCommentStaysInItsBox)
{
    s_server->Reply("/script/sendfeedback.php", 200, "PASS");
    Type("Hi there?\nBye");
    Click(IDC_SEND);
    ExpectOneBox(kSent, MB_OK);
    auto requests = s_server->TakeRequests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("/script/sendfeedback.php", requests[0].path);
    // The comment's line breaks go as the edit holds them, CR LF, unescaped.
    EXPECT_EQ("Product=ZEL Quorix&ProductV=1.10aA&Msg=Hi%20there%3f\r\nBye"
              "&Notes=Last%20Compile%20date%3A%20Dec%2019%202008%2012%3A37%3A05",
              requests[0].body);
    EXPECT_EQ("Hi there?\nBye", Comment());
    // Still counted as not sent: Exit asks.
    m_boxes.clear();
    m_answers = {IDNO};
    Click(IDC_EXIT);
    ASSERT_EQ(1u, m_boxes.size());
    EXPECT_EQ(kExitQuestion, m_boxes[0].text);
}

TEST_F(AboutDialogTest, FailedSendKeepsTheComment)
{
    ClosedLoopbackPort closed;
    SetVantrelWebHost(closed.Host().c_str());
    Type("line one\nline two");
    Click(IDC_SEND);
    ExpectOneBox(kNotSent, MB_OK);
    EXPECT_EQ("line one\nline two", Comment());
    EXPECT_FALSE(m_dlg.IsEnded());
}

TEST_F(AboutDialogTest, CommentPastTheLimitIsNotPosted)
{
    s_server->Reply("/script/sendfeedback.php", 200, "PASS");
    Edit(IDC_COMMENTS)->setPlainText(QString(2100, QLatin1Char('x')));
    Click(IDC_SEND);
    ExpectOneBox(kNotSent, MB_OK);
    EXPECT_TRUE(s_server->TakeRequests().empty());
    EXPECT_EQ(0, g_bVantrelComBusy.load());
}

TEST_F(AboutDialogTest, UpdateOffersTheInstallerAndOnlyYesOpensIt)
{
    s_server->Reply("/script/checkversion.php", 200, "UPDATE");
    for (int answer : {IDNO, IDYES}) {
        SCOPED_TRACE(answer);
        m_boxes.clear();
        m_opened.clear();
        m_answers = {answer};
        Click(IDC_CHECK_UPDATES);
        ExpectOneBox(kNewVersion, MB_YESNO);
        if (answer == IDYES) {
            ASSERT_EQ(1u, m_opened.size());
            EXPECT_EQ(Url("/files/resources/modbus/Installer_ZEL Quorix.exe"), m_opened[0]);
        } else {
            EXPECT_TRUE(m_opened.empty());
        }
    }
    auto requests = s_server->TakeRequests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("app_name=ZEL Quorix&app_ver=1.10aA&Notes=", requests[0].body);
}

TEST_F(AboutDialogTest, CurrentVersionSaysSo)
{
    s_server->Reply("/script/checkversion.php", 200, "PASS");
    Click(IDC_CHECK_UPDATES);
    ExpectOneBox(kNoUpdates, MB_OK);
    EXPECT_TRUE(m_opened.empty());
}

TEST_F(AboutDialogTest, NoServerMeansNoConnection)
{
    ClosedLoopbackPort closed;
    SetVantrelWebHost(closed.Host().c_str());
    Click(IDC_CHECK_UPDATES);
    ExpectOneBox(kNoConnection, MB_OK);
    EXPECT_TRUE(m_opened.empty());
}

TEST_F(AboutDialogTest, QuietCheckAnnouncesOnlyANewVersion)
{
    // Without showResult, a current version and a failed check stay silent; a newer version is
    // still offered.
    s_server->Reply("/script/checkversion.php", 200, "PASS");
    m_dlg.CheckForUpdates(false);
    EXPECT_TRUE(m_boxes.empty());
    {
        ClosedLoopbackPort closed;
        SetVantrelWebHost(closed.Host().c_str());
        m_dlg.CheckForUpdates(false);
        EXPECT_TRUE(m_boxes.empty());
        SetVantrelWebHost(s_server->Host().c_str());
    }
    s_server->Reply("/script/checkversion.php", 200, "UPDATE");
    m_answers = {IDNO};
    m_dlg.CheckForUpdates(false);
    ExpectOneBox(kNewVersion, MB_YESNO);
    EXPECT_TRUE(m_opened.empty());
    EXPECT_EQ(2u, s_server->TakeRequests().size());
}

TEST_F(AboutDialogTest, WebLinkOpensTheReferral)
{
    Click(IDC_WEBLINK);
    ASSERT_EQ(1u, m_opened.size());
    EXPECT_EQ(Url("/?ref=Blarg(Blarg version)"), m_opened[0]);
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_TRUE(s_server->TakeRequests().empty());
}

TEST_F(AboutDialogTest, RunsModallyUntilExit)
{
    m_dlg.DestroyWindow();
    CAboutDlg dlg;
    PrepareAboutDialog(dlg, __DATE__, __TIME__);
    QTimer::singleShot(0, [&dlg] {
        QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_EXIT)->GetQWidget()), Qt::LeftButton);
    });
    EXPECT_EQ(IDOK, dlg.DoModal());
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(AboutDialogTest, EscapeDuringARequestEndsTheDialogOnceTheHandlerHasReturned)
{
    // Escape while "Check for updates" waits for its reply: the dialog stays up, so the answer's box
    // has the dialog behind it, and the dialog ends when the handler returns.
    m_dlg.DestroyWindow();
    const char kCheckPath[] = "/script/checkversion.php";
    s_server->Reply(kCheckPath, 200, "PASS");
    s_server->Hold(kCheckPath);
    CAboutDlg dlg;
    PrepareAboutDialog(dlg, __DATE__, __TIME__);
    bool shownAtBox = false;
    bool ownsTheBox = false;
    SetMessageBoxHook([&](const std::string& text, const std::string& caption, unsigned type) {
        m_boxes.push_back({text, caption, type});
        QWidget* w = dlg.GetQWidget();
        shownAtBox = w && w->isVisible();
        ownsTheBox = w && QApplication::activeModalWidget() == w;
        return DefaultMessageBoxAnswer(type);
    });
    bool shownAfterEscape = false;
    bool endedAfterEscape = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        // Runs inside the request's message pump once the request has reached the server.
        if (s_server->TakeRequests().empty())
            return;
        poll.stop();
        QTest::keyClick(dlg.GetQWidget(), Qt::Key_Escape);
        QApplication::processEvents();
        shownAfterEscape = dlg.GetQWidget()->isVisible();
        endedAfterEscape = dlg.IsEnded();
        s_server->Release(kCheckPath);
    });
    QTimer::singleShot(0, [&dlg, &poll] {
        poll.start();
        QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_CHECK_UPDATES)->GetQWidget()),
                          Qt::LeftButton);
    });
    // Should the request never arrive, the dialog still ends, and the test fails instead of hanging.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        s_server->Release(kCheckPath);
        QTest::keyClick(dlg.GetQWidget(), Qt::Key_Escape);
    });
    watchdog.start(120000);
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
    EXPECT_TRUE(endedAfterEscape);
    EXPECT_TRUE(shownAfterEscape);
    ASSERT_EQ(1u, m_boxes.size());
    EXPECT_EQ(kNoUpdates, m_boxes[0].text);
    EXPECT_TRUE(shownAtBox);
    EXPECT_TRUE(ownsTheBox);
}
