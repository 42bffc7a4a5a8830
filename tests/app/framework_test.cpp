// The dialog framework on Qt: windows from templates, data exchange and its refusals, combos, edits,
// message routing, timers, the system menu stand-in, message boxes and the file dialog.
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/message_box.h"
#include "platform/qt/framework.h"
#include "platform/shell_open.h"

namespace {

namespace fs = std::filesystem;

enum { IDC_NAME = 200, IDC_COUNT, IDC_LENGTH, IDC_NOTES, IDC_LIST, IDC_GO };

const DialogTemplate& TestTemplate(bool withDefault)
{
    static auto make = [](bool def) {
        return DialogTemplate{
            300,
            "Framework test",
            200,
            120,
            "MS Sans Serif",
            8,
            DS_MODALFRAME | WS_CAPTION | WS_SYSMENU,
            0,
            {
                {IDC_NAME, ControlKind::Edit, "", 10, 10, 80, 13, WS_TABSTOP},
                {IDC_COUNT, ControlKind::Edit, "", 10, 30, 40, 13, WS_TABSTOP},
                {IDC_LENGTH, ControlKind::Edit, "", 60, 30, 40, 13, WS_TABSTOP},
                {IDC_LIST, ControlKind::ComboBox, "", 10, 50, 80, 60, CBS_DROPDOWN | CBS_SORT | WS_TABSTOP},
                {IDC_NOTES, ControlKind::Edit, "", 100, 10, 90, 40, ES_MULTILINE | ES_READONLY},
                {IDC_GO, ControlKind::PushButton, "Go", 100, 90, 40, 14, (def ? BS_DEFPUSHBUTTON : 0u) | WS_TABSTOP},
                {-1, ControlKind::GroupBox, "Frame", 5, 5, 190, 110},
            },
        };
    };
    static const DialogTemplate with = make(true);
    static const DialogTemplate without = make(false);
    return withDefault ? with : without;
}

class TestDialog : public CDialog {
public:
    explicit TestDialog(bool withDefault = true) : CDialog(TestTemplate(withDefault)) {}
    ~TestDialog() override { DestroyWindow(); }

    CString m_strName = "first";
    int m_nCount = 5;
    long m_lLength = 0;
    CString m_strList;
    CString m_strNotes;
    std::vector<std::string> log;
    std::function<void(UINT_PTR)> onTimer;
    bool vetoClose = false;

    const MessageMap& GetMessageMap() const override
    {
        static const MessageMap map = {
            ON_BN_CLICKED(IDC_GO, &TestDialog::OnGo),
            ON_WM_TIMER(&TestDialog::OnTimer),
            ON_WM_SYSCOMMAND(&TestDialog::OnSysCommand),
            ON_WM_DESTROY(&TestDialog::OnDestroy),
        };
        return map;
    }
    std::function<void()> onGo;
    void OnGo()
    {
        log.push_back("go");
        if (onGo)
            onGo();
    }
    void OnDestroy()
    {
        CWnd* name = GetDlgItem(IDC_NAME);
        log.push_back("destroy " + std::string(name ? name->GetWindowTextString() : CString("(no controls)")));
        CDialog::OnDestroy();
    }
    void OnTimer(UINT_PTR id)
    {
        log.push_back("timer " + std::to_string(id));
        if (onTimer)
            onTimer(id);
    }
    void OnSysCommand(UINT id, LPARAM lParam)
    {
        log.push_back("syscommand " + std::to_string(id));
        if (vetoClose && (id & 0xFFF0) == SC_CLOSE)
            return;
        CDialog::OnSysCommand(id, lParam);
    }
    void OnOK() override
    {
        log.push_back("ok");
        CDialog::OnOK();
    }
    void OnCancel() override
    {
        log.push_back("cancel");
        CDialog::OnCancel();
    }

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Text(pDX, IDC_NAME, m_strName);
        DDX_Text(pDX, IDC_COUNT, m_nCount);
        DDV_MinMaxInt(pDX, m_nCount, 1, 10);
        DDX_Text(pDX, IDC_LENGTH, m_lLength);
        DDX_CBString(pDX, IDC_LIST, m_strList);
        DDX_Text(pDX, IDC_NOTES, m_strNotes);
    }
};

struct Box {
    std::string text, caption;
    unsigned type;
};

class FrameworkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        AfxEnsureQtApplication();
        SetMessageBoxHook([this](const std::string& t, const std::string& c, unsigned type) {
            boxes.push_back({t, c, type});
            return DefaultMessageBoxAnswer(type);
        });
        dlg = std::make_unique<TestDialog>();
        dlg->Create();
    }
    void TearDown() override
    {
        dlg.reset();
        SetMessageBoxHook(nullptr);
        SetShellOpenHook(nullptr);
        SetFileDialogHook(nullptr);
    }
    QWidget* W(int id) { return dlg->GetDlgItem(id)->GetQWidget(); }
    void Type(int id, const char* text)
    {
        QWidget* w = W(id);
        QLineEdit* edit = qobject_cast<QLineEdit*>(w);
        if (auto* combo = qobject_cast<QComboBox*>(w))
            edit = combo->lineEdit();
        edit->setText(QString::fromUtf8(text));
    }
    std::unique_ptr<TestDialog> dlg;
    std::vector<Box> boxes;
};

TEST_F(FrameworkTest, ControlsSitWhereTheirDialogUnitsSay)
{
    RECT r{10, 30, 10 + 40, 30 + 13};
    dlg->MapDialogRect(&r);
    QRect g = W(IDC_COUNT)->geometry();
    EXPECT_EQ(g.x(), r.left);
    EXPECT_EQ(g.y(), r.top);
    EXPECT_EQ(g.width(), r.right - r.left);
    EXPECT_EQ(g.height(), r.bottom - r.top);
    RECT size{0, 0, 200, 120};
    dlg->MapDialogRect(&size);
    EXPECT_EQ(dlg->GetQWidget()->width(), size.right);
    EXPECT_EQ(dlg->GetQWidget()->windowTitle().toStdString(), "Framework test");
    EXPECT_EQ(dlg->GetDlgItem(999), nullptr);
    EXPECT_EQ(dlg->GetDlgItem(IDC_GO)->GetDlgCtrlID(), IDC_GO);
}

TEST_F(FrameworkTest, NumberFieldsAcceptWholeNumbersWithBlanksOnly)
{
    struct Case {
        const char* text;
        bool accepted;
        int value;
    } cases[] = {{"7", true, 7},   {"  8 ", true, 8}, {"+3", true, 3}, {"", false, 0},
                 {"4x", false, 0}, {"x4", false, 0},  {"1 2", false, 0}, {"99999999999", false, 0}};
    for (const Case& c : cases) {
        boxes.clear();
        dlg->m_nCount = 5;
        Type(IDC_COUNT, c.text);
        EXPECT_EQ(dlg->UpdateData(TRUE), c.accepted ? TRUE : FALSE) << c.text;
        if (c.accepted) {
            EXPECT_EQ(dlg->m_nCount, c.value) << c.text;
            EXPECT_TRUE(boxes.empty()) << c.text;
        } else {
            EXPECT_EQ(dlg->m_nCount, 5) << c.text;
            ASSERT_EQ(boxes.size(), 1u) << c.text;
            EXPECT_EQ(boxes[0].text, "Please enter an integer.");
            EXPECT_EQ(boxes[0].caption, AfxGetAppName());
            EXPECT_EQ(boxes[0].type & MB_ICONMASK, static_cast<unsigned>(MB_ICONEXCLAMATION));
        }
    }
}

TEST_F(FrameworkTest, ARefusalStopsTheExchangeAndFocusesTheField)
{
    dlg->UpdateData(FALSE);
    Type(IDC_NAME, "second");
    Type(IDC_COUNT, "12");
    Type(IDC_LENGTH, "40");
    EXPECT_FALSE(dlg->UpdateData(TRUE));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Please enter an integer between 1 and 10.");
    EXPECT_EQ(std::string(dlg->m_strName), "second") << "fields before the refused one are read";
    EXPECT_EQ(dlg->m_nCount, 12) << "the out-of-range number is stored before the refusal";
    EXPECT_EQ(dlg->m_lLength, 0) << "fields after it are not";
    EXPECT_EQ(dlg->GetQWidget()->focusWidget(), W(IDC_COUNT));
    // Showing never refuses.
    boxes.clear();
    EXPECT_TRUE(dlg->UpdateData(FALSE));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(FrameworkTest, SortedCombosAndTheirTexts)
{
    auto* combo = static_cast<CComboBox*>(dlg->GetDlgItem(IDC_LIST));
    for (const char* s : {"COM2 x", "com10 y", "COM1 z", "Apple"})
        combo->AddString(s);
    std::vector<std::string> items;
    for (int i = 0; i < combo->GetCount(); ++i) {
        CString t;
        combo->GetLBText(i, t);
        items.push_back(t.GetString());
    }
    EXPECT_EQ(items, (std::vector<std::string>{"Apple", "COM1 z", "com10 y", "COM2 x"}));
    // Showing selects the first entry that begins with the text, letter case ignored...
    dlg->m_strList = "com1";
    dlg->UpdateData(FALSE);
    EXPECT_EQ(combo->GetWindowTextString(), "COM1 z");
    // ...or puts the text in the edit field.
    dlg->m_strList = "ttyUSB0";
    dlg->UpdateData(FALSE);
    EXPECT_EQ(combo->GetWindowTextString(), "ttyUSB0");
    dlg->m_strList = "";
    dlg->UpdateData(FALSE);
    EXPECT_EQ(combo->GetWindowTextString(), "");
    Type(IDC_LIST, "typed");
    dlg->m_nCount = 3;
    dlg->UpdateData(FALSE);
    Type(IDC_LIST, "typed");
    EXPECT_TRUE(dlg->UpdateData(TRUE));
    EXPECT_EQ(std::string(dlg->m_strList), "typed");
}

TEST_F(FrameworkTest, MultiLineEditsShowLineBreaks)
{
    dlg->m_strNotes = "first line\r\nsecond line\r\n";
    dlg->UpdateData(FALSE);
    EXPECT_EQ(qobject_cast<QPlainTextEdit*>(W(IDC_NOTES))->toPlainText().toStdString(), "first line\nsecond line\n");
    dlg->UpdateData(TRUE);
    EXPECT_EQ(std::string(dlg->m_strNotes), "first line\r\nsecond line\r\n");
}

TEST_F(FrameworkTest, KeysAndTheCloseBoxReachTheirHandlers)
{
    // Enter presses the default button.
    QTest::keyClick(W(IDC_NAME), Qt::Key_Return);
    EXPECT_EQ(dlg->log, std::vector<std::string>{"go"});
    // The close box goes through the system command, which may keep the window.
    dlg->log.clear();
    dlg->vetoClose = true;
    dlg->GetQWidget()->close();
    EXPECT_FALSE(dlg->IsEnded());
    dlg->vetoClose = false;
    dlg->GetQWidget()->close();
    EXPECT_TRUE(dlg->IsEnded());
    EXPECT_EQ(dlg->GetResult(), IDCANCEL);
    EXPECT_EQ(dlg->log, (std::vector<std::string>{"syscommand 61536", "syscommand 61536", "cancel"}));

    // Without a default button, Enter in a field is the OK command.
    dlg = std::make_unique<TestDialog>(false);
    dlg->Create();
    QTest::keyClick(W(IDC_NAME), Qt::Key_Return);
    EXPECT_EQ(dlg->log, std::vector<std::string>{"ok"});
    EXPECT_EQ(dlg->GetResult(), IDOK);

    dlg = std::make_unique<TestDialog>();
    dlg->Create();
    QTest::keyClick(W(IDC_NAME), Qt::Key_Escape);
    EXPECT_EQ(dlg->log, std::vector<std::string>{"cancel"});
}

TEST_F(FrameworkTest, ADialogEndedInsideAHandlerStaysUntilTheHandlerReturns)
{
    // A handler that waits by pumping messages, as a web request does; Escape arrives meanwhile.
    dlg.reset();
    TestDialog modal;
    std::vector<std::string> seen;
    auto note = [&](const char* when) {
        seen.push_back(std::string(when) + (modal.IsEnded() ? " ended" : " running") +
                       (modal.GetQWidget()->isVisible() ? " shown" : " hidden"));
    };
    modal.onGo = [&] {
        QTimer::singleShot(0, [&] { QTest::keyClick(modal.GetQWidget(), Qt::Key_Escape); });
        ASSERT_TRUE(QTest::qWaitFor([&] { return modal.IsEnded(); }, 10000));
        // Messages still flow to the dialog while the handler goes on.
        QApplication::processEvents();
        note("in handler");
        modal.SendMessage(WM_TIMER, 3, 0);
        note("after a nested message");
    };
    QTimer::singleShot(0, [&] {
        note("before");
        QTest::mouseClick(modal.GetDlgItem(IDC_GO)->GetQWidget(), Qt::LeftButton);
        // Back from the handler: the window is gone and the modal loop ends.
        seen.push_back(modal.GetQWidget() && modal.GetQWidget()->isVisible() ? "returned shown" : "returned hidden");
    });
    EXPECT_EQ(modal.DoModal(), IDCANCEL);
    EXPECT_EQ(seen, (std::vector<std::string>{"before running shown", "in handler ended shown",
                                              "after a nested message ended shown", "returned hidden"}));
    EXPECT_EQ(modal.log, (std::vector<std::string>{"go", "cancel", "timer 3", "destroy first"}));

    // Outside any handler the dialog goes at once.
    TestDialog plain;
    plain.Create();
    plain.EndDialog(IDOK);
    EXPECT_FALSE(plain.GetQWidget()->isVisible());
    EXPECT_EQ(plain.GetResult(), IDOK);
}

TEST_F(FrameworkTest, APushButtonShowsItsWholeCaption)
{
    auto* go = qobject_cast<QPushButton*>(W(IDC_GO));
    auto fits = [go] {
        QStyleOptionButton option;
        option.initFrom(go);
        option.text = go->text();
        int room = go->style()->subElementRect(QStyle::SE_PushButtonContents, &option, go).width();
        return QFontMetrics(go->font()).horizontalAdvance(go->text()) <= room;
    };
    const qreal dialogSize = dlg->GetQWidget()->font().pointSizeF();
    EXPECT_EQ(go->font().pointSizeF(), dialogSize);
    // A caption too wide for the dialog's font takes a smaller size of it; a short one gets the
    // dialog's font back.
    dlg->GetDlgItem(IDC_GO)->SetWindowText("Go much further");
    EXPECT_TRUE(fits());
    EXPECT_LT(go->font().pointSizeF(), dialogSize);
    EXPECT_EQ(go->font().family(), dlg->GetQWidget()->font().family());
    dlg->GetDlgItem(IDC_GO)->SetWindowText("&Go");
    EXPECT_TRUE(fits());
    EXPECT_EQ(go->font().pointSizeF(), dialogSize);
}

TEST_F(FrameworkTest, AWindowHearsOfItsEndWhileItsControlsExist)
{
    dlg->UpdateData(FALSE);
    dlg->DestroyWindow();
    EXPECT_EQ(dlg->log, std::vector<std::string>{"destroy first"});
    dlg->DestroyWindow();
    EXPECT_EQ(dlg->log.size(), 1u) << "no window, no second message";

    // A modal loop ended from outside the window's own commands: the message comes all the same.
    TestDialog modal;
    QTimer::singleShot(0, [&modal] { static_cast<QDialog*>(modal.GetQWidget())->done(0); });
    modal.DoModal();
    EXPECT_EQ(modal.log, std::vector<std::string>{"destroy first"});
}

TEST_F(FrameworkTest, TimersByIdReachOnTimer)
{
    EXPECT_EQ(dlg->SetTimer(7, 10, nullptr), 7u);
    EXPECT_EQ(dlg->GetTimerElapse(7), 10u);
    // The handler may kill its own timer.
    int ticks = 0;
    dlg->onTimer = [&](UINT_PTR id) {
        if (id == 7 && ++ticks == 2)
            dlg->KillTimer(7);
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 2; }, 10000));
    EXPECT_EQ(ticks, 2);
    EXPECT_FALSE(dlg->HasTimer(7));
    EXPECT_FALSE(dlg->KillTimer(7));
    QTest::qWait(40);
    EXPECT_EQ(ticks, 2);
    // Setting a running timer restarts it with the new period.
    dlg->SetTimer(8, 100000, nullptr);
    dlg->SetTimer(8, 50000, nullptr);
    EXPECT_EQ(dlg->GetTimerElapse(8), 50000u);
}

TEST_F(FrameworkTest, SystemMenuItemsSendSystemCommands)
{
    CMenu* menu = dlg->GetSystemMenu(FALSE);
    menu->AppendMenu(MF_SEPARATOR);
    menu->AppendMenu(MF_STRING, 0x10, "&About...");
    ASSERT_EQ(menu->GetMenuItemCount(), 2);
    QList<QAction*> actions = menu->GetQMenu()->actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_TRUE(actions[0]->isSeparator());
    actions[1]->trigger();
    EXPECT_EQ(dlg->log, std::vector<std::string>{"syscommand 16"});
}

TEST_F(FrameworkTest, BoxesCarryTheApplicationName)
{
    dlg->MessageBox("plain");
    AfxMessageBox("question", MB_YESNO);
    AfxMessageBox("with icon", MB_OK | MB_ICONHAND);
    AfxMessageBox("retry", MB_RETRYCANCEL);
    ASSERT_EQ(boxes.size(), 4u);
    for (const Box& b : boxes)
        EXPECT_EQ(b.caption, AfxGetAppName());
    EXPECT_EQ(boxes[0].type, static_cast<unsigned>(MB_OK));
    EXPECT_EQ(boxes[1].type, static_cast<unsigned>(MB_YESNO | MB_ICONEXCLAMATION));
    EXPECT_EQ(boxes[2].type, static_cast<unsigned>(MB_OK | MB_ICONHAND));
    EXPECT_EQ(boxes[3].type, static_cast<unsigned>(MB_RETRYCANCEL));
    EXPECT_EQ(std::string(AfxGetAppName()), "app_framework_tests");
}

// Presses a button of the first message box or file dialog that comes up.
template <class W>
void WhenShown(const std::function<void(W*)>& act)
{
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* found = qobject_cast<W*>(w); found && found->isVisible()) {
                poll->stop();
                poll->deleteLater();
                act(found);
                return;
            }
        }
    });
    poll->start();
}

TEST_F(FrameworkTest, QtMessageBoxesAnswerWithTheButtonPressed)
{
    InstallQtPlatformHooks();
    std::string title, text;
    WhenShown<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle().toStdString();
        text = box->text().toStdString();
        QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton);
    });
    int answer = AfxMessageBox("Line one\r\nline two", MB_YESNO);
    EXPECT_EQ(answer, IDNO);
    EXPECT_EQ(title, AfxGetAppName());
    EXPECT_EQ(text, "Line one\nline two");
}

TEST_F(FrameworkTest, FileDialogHookAndDefaultExtension)
{
    char pattern[] = "/tmp/quorix_fw_XXXXXX";
    fs::path dir = mkdtemp(pattern);
    fs::path previous = fs::current_path();
    fs::current_path(dir);
    std::vector<FileDialogRequest> seen;
    std::vector<std::optional<std::string>> answers = {"capture", "notes.txt", std::nullopt};
    size_t next = 0;
    SetFileDialogHook([&](const FileDialogRequest& r) {
        seen.push_back(r);
        return answers[next++];
    });
    CFileDialog dialog(FALSE, "log", nullptr, OFN_HIDEREADONLY | OFN_EXPLORER, "Log file (*.log)|*.log|All Files (*.*)|*.*||");
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(std::string(dialog.GetPathName()), (dir / "capture.log").string());
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(std::string(dialog.GetPathName()), (dir / "notes.txt").string());
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(std::string(dialog.GetPathName()), "");
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_FALSE(seen[0].openStyle);
    EXPECT_EQ(seen[0].title, "Save As");
    EXPECT_EQ(seen[0].filters.size(), 2u);

    // The real dialog: a name typed without extension in a save-style dialog, no overwrite prompt.
    SetFileDialogHook(nullptr);
    {
        FILE* f = fopen((dir / "old.log").c_str(), "w");
        fclose(f);
    }
    WhenShown<QFileDialog>([](QFileDialog* fd) {
        auto* edit = fd->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(edit, nullptr);
        edit->setText("typed");
        QTest::keyClick(edit, Qt::Key_Return);
    });
    CFileDialog real(FALSE, "log", nullptr, OFN_HIDEREADONLY | OFN_EXPLORER, "Log file (*.log)|*.log|All Files (*.*)|*.*||");
    EXPECT_EQ(real.DoModal(), IDOK);
    EXPECT_EQ(std::string(real.GetPathName()), (dir / "typed.log").string());
    WhenShown<QFileDialog>([](QFileDialog* fd) {
        auto* edit = fd->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(edit, nullptr);
        edit->setText("old.log");
        QTest::keyClick(edit, Qt::Key_Return);
    });
    EXPECT_EQ(real.DoModal(), IDOK) << "an existing file is taken without a question";
    EXPECT_EQ(std::string(real.GetPathName()), (dir / "old.log").string());

    fs::current_path(previous);
    fs::remove_all(dir);
}

TEST_F(FrameworkTest, ShellOpenGoesThroughTheDesktopHook)
{
    std::vector<std::string> opened;
    SetShellOpenHook([&](const std::string& t) {
        opened.push_back(t);
        return true;
    });
    EXPECT_GT(ShellExecuteA(nullptr, "open", "http://host/a?ref=x y", nullptr, nullptr, SW_SHOWNORMAL), 32);
    EXPECT_EQ(opened, std::vector<std::string>{"http://host/a?ref=x y"});
}

}  // namespace
