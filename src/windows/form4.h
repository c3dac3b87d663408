#pragma once

#include <QPointer>
#include <QWidget>

class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;

namespace arcsweep {

struct AppState;
class AniIcon;
class SSPanel;

// The statistics window of a finished clean-all run. The run fills the labels and
// waits (StatsWaiting) until the window lets it go: through "E&xit", a close by the
// window manager (which does what Exit does), or the verification window.
class Form4 : public QWidget {
    Q_OBJECT
public:
    Form4(AppState &state, QWidget *mainWindow);
    ~Form4() override;

    // Shows the window; "&Error log" only when the run met damaged archives.
    void Form_Load();
    // Where the focus goes on the main window when this window is left (its entry list).
    void setMainFocus(QWidget *widget) { mainFocus_ = widget; }

    QGroupBox *Frame1, *Frame2, *Frame3, *Frame4;
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7, *Label8, *Label9,
        *Label11, *Label12, *Label13;
    QPushButton *Command1; // "E&xit"
    QPushButton *Command2; // "&Error log"
    QPushButton *Command3; // "&Verify"
    QPushButton *Command4; // focus sink below the visible area
    AniIcon *AniIcon1;
    SSPanel *SSPanel1;
    QFrame *Line1, *Line2, *Line3, *Line4;

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void AniIcon1_Click();

signals:
    // "&Verify" was clicked: this window is disabled and VerifyMode is set; the
    // verification window takes over.
    void verifyRequested();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Unload();
    void restoreMainWindow();

    AppState &state_;
    QPointer<QWidget> main_;
    QPointer<QWidget> mainFocus_;
    bool left_ = false;
};

} // namespace arcsweep
