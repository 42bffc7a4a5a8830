#pragma once
// Shared fixture of the window tests: a fresh working directory, recorded message boxes, links and
// file dialogs, a fake serial port tree, and the real main window shown offscreen.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/quorix.h"
#include "app/quorix_dlg.h"
#include "app/run_control.h"
#include "mstp/mstp_stack.h"
#include "platform/message_box.h"
#include "platform/shell_open.h"
#include "reports/statistics.h"

namespace apptest {

namespace fs = std::filesystem;

struct Box {
    std::string text;
    std::string caption;
    unsigned type;
};

inline std::string ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteAll(const fs::path& p, const std::string& text)
{
    std::ofstream out(p, std::ios::binary);
    out << text;
}

// Working directory of its own, made fresh for each test and removed afterwards.
class TempWorkDir {
public:
    TempWorkDir()
    {
        char pattern[] = "/tmp/quorix_app_XXXXXX";
        const char* made = mkdtemp(pattern);
        path_ = made ? made : "/tmp";
        previous_ = fs::current_path();
        fs::current_path(path_);
    }
    ~TempWorkDir()
    {
        std::error_code ec;
        fs::current_path(previous_, ec);
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
    fs::path previous_;
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        (void)&theApp;  // the application object is part of every window test
        AfxEnsureQtApplication();
        work_ = std::make_unique<TempWorkDir>();
        SetMessageBoxHook([this](const std::string& text, const std::string& caption, unsigned type) {
            boxes.push_back({text, caption, type});
            if (!boxAnswers.empty()) {
                int answer = boxAnswers.front();
                boxAnswers.pop_front();
                return answer;
            }
            return DefaultMessageBoxAnswer(type);
        });
        SetShellOpenHook([this](const std::string& target) {
            opened.push_back(target);
            return true;
        });
        SetFileDialogHook([this](const FileDialogRequest& request) -> std::optional<std::string> {
            requests.push_back(request);
            if (fileAnswers.empty())
                return std::nullopt;
            std::optional<std::string> answer = fileAnswers.front();
            fileAnswers.pop_front();
            return answer;
        });
        // No serial port unless a test makes some.
        fs::create_directories(work_->path() / "sys_tty");
        fs::create_directories(work_->path() / "dev");
        SetSerialPortListSource((work_->path() / "sys_tty").string(), (work_->path() / "dev").string());
        SetBannerRandom(nullptr);
    }

    void TearDown() override
    {
        if (dlg) {
            if (dlg->IsCaptureRunning())
                dlg->OnStop();
            dlg->DestroyWindow();
            dlg.reset();
        }
        theApp.m_pMainWnd = nullptr;
        SetMessageBoxHook(nullptr);
        SetShellOpenHook(nullptr);
        SetFileDialogHook(nullptr);
        SetBannerRandom(nullptr);
        work_.reset();
    }

    // A tty entry of the fake tree: with a device node (a plain file opens like a free port), a
    // missing node, or a node that cannot be opened (a directory).
    enum class Node { Openable, Missing, Unopenable };
    void AddTty(const std::string& name, Node node)
    {
        fs::path entry = work_->path() / "sys_tty" / name;
        fs::create_directories(entry / "device");
        fs::path dev = work_->path() / "dev" / name;
        if (node == Node::Openable)
            WriteAll(dev, "");
        else if (node == Node::Unopenable)
            fs::create_directories(dev);
    }

    void OpenWindow()
    {
        dlg = std::make_unique<CQuorixDlg>();
        theApp.m_pMainWnd = dlg.get();
        dlg->Create();
        QApplication::processEvents();
    }

    QWidget* W(int id) const
    {
        CWnd* w = dlg->GetDlgItem(id);
        return w ? w->GetQWidget() : nullptr;
    }

    void Click(int id)
    {
        QWidget* w = W(id);
        ASSERT_NE(w, nullptr);
        QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(w->width() / 2, w->height() / 2));
    }

    void TypeInto(int id, const std::string& text)
    {
        QWidget* w = W(id);
        QLineEdit* edit = qobject_cast<QLineEdit*>(w);
        if (auto* combo = qobject_cast<QComboBox*>(w))
            edit = combo->lineEdit();
        ASSERT_NE(edit, nullptr);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, QString::fromStdString(text));
    }

    std::string Text(int id) const
    {
        QWidget* w = W(id);
        if (auto* plain = qobject_cast<QPlainTextEdit*>(w))
            return plain->toPlainText().toStdString();
        if (auto* line = qobject_cast<QLineEdit*>(w))
            return line->text().toStdString();
        if (auto* combo = qobject_cast<QComboBox*>(w))
            return combo->currentText().toStdString();
        return {};
    }

    bool Enabled(int id) const { return W(id)->isEnabled(); }
    bool Shown(int id) const { return !W(id)->isHidden(); }

    // Processes events until the condition holds; false when it did not within the limit.
    static bool WaitUntil(const std::function<bool()>& condition, int limitMs = 120000)
    {
        QElapsedTimer t;
        t.start();
        while (!condition()) {
            if (t.elapsed() > limitMs)
                return false;
            QTest::qWait(10);
        }
        return true;
    }

    // Browses to a log file through the log-file radio and the Browse button.
    void ChooseLogFile(const fs::path& file)
    {
        Click(IDC_SOURCE_LOGFILE);
        fileAnswers.push_back(file.string());
        Click(IDC_BROWSE);
    }

    const fs::path& WorkDir() const { return work_->path(); }

    std::unique_ptr<CQuorixDlg> dlg;
    std::vector<Box> boxes;
    std::deque<int> boxAnswers;
    std::vector<std::string> opened;
    std::vector<FileDialogRequest> requests;
    std::deque<std::optional<std::string>> fileAnswers;

private:
    std::unique_ptr<TempWorkDir> work_;
};

}  // namespace apptest
