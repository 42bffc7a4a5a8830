#pragma once
// Inside of the dialog framework: the Qt widgets that stand for the windows and the image record.
#include <QCursor>
#include <QDialog>
#include <QIcon>
#include <QLabel>
#include <QPixmap>

#include <functional>

#include "platform/qt/framework.h"

struct FrameworkImage {
    QPixmap pixmap;
    QIcon icon;
    int cursorShape = -1;  // Qt::CursorShape of a cursor, -1 for an image or icon
};

// The top-level window of a dialog: turns Qt's events into the dialog's messages.
class FrameworkDialogWidget : public QDialog {
public:
    FrameworkDialogWidget(CDialog* owner, QWidget* parent);
    void Finish(int result);  // ends the window with the result (modal loop or not)
    bool InPaint() const { return m_bInPaint; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CDialog* m_pOwner;
    bool m_bFinishing = false;
    bool m_bInPaint = false;
};

// A picture control that reports clicks: a left button pressed and released on it, as a static
// control counts a click.
class FrameworkPictureLabel : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> onClicked;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_bLeftDown = false;  // the left button went down on the picture
};

// Internal access to the framework classes for the implementation files.
struct FrameworkAccess {
    static void SetWidget(CWnd& w, QWidget* widget, int id, CWnd* parent)
    {
        w.m_pWidget = widget;
        w.m_nID = id;
        w.m_pParent = parent;
    }
    static FrameworkDialogWidget* DialogWidget(const CWnd& w);
    static std::map<int, std::unique_ptr<CWnd>>& Controls(CWnd& w) { return w.m_controls; }
    static std::vector<std::unique_ptr<CWnd>>& UnnamedControls(CWnd& w) { return w.m_unnamedControls; }
    static std::vector<CWnd*>& BoundControls(CDialog& d) { return d.m_boundControls; }
    static void ClearTimers(CWnd& w);
    static CMenu* SystemMenu(CWnd& w) { return w.m_pSystemMenu.get(); }
};

// The window that the WM_SETCURSOR being handled is about (SetCursor applies to it).
void SetCursorTarget(QWidget* widget);
// A control's own cursor (an edit's text cursor), kept when it is built so that the default cursor
// handling can give it back after a window has set another one over it.
void RememberClassCursor(QWidget* widget);
void RestoreClassCursor(QWidget* widget);

// A push button's caption wider than the room its frame leaves is shown in a smaller size of the
// dialog's font, so that the whole text shows.
class QPushButton;
void FitCaptionToButton(QPushButton* button);

// The image registered under that id, loaded once; nullptr when there is none.
FrameworkImage* LoadImageResource(UINT id);

// The application's modal or active window, to own message boxes and file dialogs.
QWidget* ActiveOwnerWidget();
