#pragma once

#include <QWidget>

class QPlainTextEdit;
class QPushButton;

namespace arcsweep {

class TextViewer;
class ViewerCaller;

// The text viewer: an archive entry's text, light grey on black in a DOS font, and
// "&Add", which puts the calling window's selected entries on the purge list and
// deletes them from its archive. `VerifyMode` tells which window called.
class Form2 : public QWidget {
    Q_OBJECT
public:
    explicit Form2(TextViewer &viewer);
    ~Form2() override;

    QPlainTextEdit *Text1;
    QPushButton *Command1; // "&Add"

    void Form_Load();   // caption := ViewedEntry
    void Form_Unload(); // hides the window and drops its text
    void Form_Resize();
    void Text1_DblClick();
    void Command1_Click();

    // Re-lists the caller's archive after Add: the main window's archive test, or
    // the verification window's ListArchive.
    static void ViewerRelistMain(ViewerCaller &main);
    static void ViewerRelistVerify(ViewerCaller &verification);

    // Shows the viewer for a new entry: caption, window, focus.
    void showEntry();
    // Each viewing gets a number; a reading loop that sees a newer one stops.
    quint64 beginViewing() { return ++viewing_; }
    quint64 viewing() const { return viewing_; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    TextViewer &viewer_;
    quint64 viewing_ = 0;
};

} // namespace arcsweep
