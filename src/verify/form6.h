#pragma once

#include "viewer/viewercaller.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>

class QAction;
class QGroupBox;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;

namespace arcsweep {

struct AppState;
struct ZipEntryInfo;
class AniIcon;
class Form4;
class TextViewer;
class ZipComponent;

// "Verify extra nfo's": walks the VerifyList one archive at a time. The user reads
// the ".nfo" entries, puts unwanted ones on purge.txt and vpurge.txt (Add) or only
// deletes them (Delete); "&Next" applies vpurge.txt to the next archive at once.
// Opened from the statistics window, which it hands back to at the end of the queue.
class Form6 : public QWidget, public ViewerCaller {
    Q_OBJECT
public:
    Form6(AppState &state, TextViewer &viewer, Form4 *statistics, QWidget *mainWindow,
          QListWidget *mainList);
    ~Form6() override;

    // Reads the queue and shows the first archive. False when there is no VerifyList:
    // the window was never shown and is unloaded.
    bool Form_Load();
    bool unloaded() const { return unloaded_; }

    QLabel *Label2; // the archive, lower case; tool tip the same
    QListWidget *List1;
    AniIcon *AniIcon1;
    QGroupBox *Frame1;     // "Zips to verify"
    QLabel *Label3;        // VerifyRemaining
    QPushButton *Command1; // "&Add"
    QPushButton *Command2; // "&Next"
    QPushButton *Command3; // "E&xit"
    ZipComponent *XceedZip1;
    QMenu *menu; // List1's pop-up menu
    QAction *view, *add, *delete_, *next, *exit;

    // The archive under verification: one VerifyList line as read (the real path).
    QString VerifyArchive;
    qint32 VerifyRemaining = 0;

    void ListArchive();
    void PurgeVerified();
    void Command1_Click(); // Add
    void Command2_Click(); // Next
    void Command3_Click(); // Exit
    void delete_Click();
    void List1_DblClick();
    void Form_KeyDown(int key);
    void List1_MouseDown(Qt::MouseButton button, const QPoint &globalPos);
    void XceedZip1_Listing(const ZipEntryInfo &entry);

    // ViewerCaller: the text viewer's Add and entry viewing from this window.
    QWidget *callerWindow() override { return this; }
    QListWidget *entryList() override { return List1; }
    ZipComponent &zip() override { return *XceedZip1; }
    QString viewArchive() override { return VerifyArchive; }
    QString addArchive() override { return VerifyArchive; }
    bool beginAdd() override;
    void entryAdded(const QString &name, bool isNew) override;
    bool keepsSelection() const override { return true; }
    void relist() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    // Marks a handler on the stack: the window is deleted only after the last one returns.
    class Busy {
    public:
        explicit Busy(Form6 *form);
        ~Busy();

    private:
        QPointer<Form6> form_;
    };

    void buildControls();
    void Form_Unload();
    void handBack(); // enables the statistics window again and unloads
    void deleteSelected(bool advance);
    void advanceRule();
    void showRemaining();
    int nfoCount() const;
    void setButtonsEnabled(bool enabled);

    AppState &state_;
    TextViewer &viewer_;
    QPointer<Form4> statistics_;
    QPointer<QWidget> mainWindow_;
    QPointer<QListWidget> mainList_;

    QStringList queue_; // the VerifyList's lines
    qsizetype queuePos_ = 0;
    bool queueOpen_ = false;
    bool purging_ = false; // PurgeVerified is walking List1
    bool unloaded_ = false;
    int depth_ = 0;
};

} // namespace arcsweep
