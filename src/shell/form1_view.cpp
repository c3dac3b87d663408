#include "shell/form1_view.h"

#include "controls/dirlistbox.h"
#include "controls/diskinfo.h"
#include "controls/filelistbox.h"
#include "controls/sspanel.h"
#include "shell/form1.h"
#include "verify/form6.h"
#include "viewer/entryview.h"
#include "viewer/textviewer.h"
#include "viewer/viewercaller.h"

#include <QListWidget>
#include <QPointer>

namespace arcsweep {

namespace {

// The main window as the text viewer's caller, and the owner of the viewer and of
// the verification window. A child object of Form1, so Form1 needs no member for it.
class MainViewerCaller : public QObject, public ViewerCaller {
public:
    explicit MainViewerCaller(Form1 &form) : QObject(&form), form_(form), viewer_(form.state()) {
        viewer_.setCaller(TextViewer::Main, this);
    }
    ~MainViewerCaller() override { delete verification_.data(); }

    static MainViewerCaller &of(Form1 &form) {
        for (QObject *child : form.children())
            if (auto *caller = dynamic_cast<MainViewerCaller *>(child))
                return *caller;
        return *new MainViewerCaller(form);
    }

    TextViewer &viewer() { return viewer_; }

    void openVerification() {
        if (verification_ && !verification_->unloaded())
            return;
        verification_ = new Form6(form_.state(), viewer_, form_.statistics(), &form_, form_.List1);
        verification_->Form_Load();
    }

    // Position 1 of SelectedEntries: the first entry selected at the last double-click
    // that had a selection. Kept between double-clicks.
    QString selectedEntry;

    QWidget *callerWindow() override { return &form_; }
    QListWidget *entryList() override { return form_.List1; }
    ZipComponent &zip() override { return *form_.XceedZip1; }
    QString viewArchive() override { return form_.state().ActiveArchive; }

    QString addArchive() override {
        QString folder = form_.Dir1->Path();
        while (folder.endsWith(u'/'))
            folder.chop(1);
        form_.state().CurrentFolder = folder;
        const QString name = form_.File1->FileName();
        return name.isEmpty() ? QString() : folder + u'/' + name;
    }

    void resetProgress() override { form_.SSPanel2->setProgressPercent(0); }

    void markDamaged(const QString &viewedEntry) override {
        form_.SSPanel1->setCaption(viewedEntry);
        form_.SSPanel1->setErrorMark(true);
    }

    bool mayRename(const QString &realPath) override {
        form_.DiskInfo1.setDriveLetter(realPath);
        return form_.DiskInfo1.DriveCheck() > 2;
    }

    void afterDamage() override { form_.File1->Refresh(); }

    bool beginAdd() override { return true; }

    void entryAdded(const QString &name, bool isNew) override {
        form_.SSPanel2->setProgressStyle(0);
        form_.SSPanel2->setCaption(isNew ? name + QStringLiteral(" added") : QString());
    }

    bool keepsSelection() const override { return false; }
    void relist() override { form_.ArchiveTest(); }

private:
    Form1 &form_;
    TextViewer viewer_;
    QPointer<Form6> verification_;
};

} // namespace

void installEntryViewer(Form1 &form) {
    MainViewerCaller::of(form);
    form.openVerification = [&form] { MainViewerCaller::of(form).openVerification(); };
}

TextViewer &entryViewerOf(Form1 &form) {
    return MainViewerCaller::of(form).viewer();
}

void Form1::List1_DblClick() {
    // During a clean-all run the entry list and the archive belong to the run.
    if (state_.Running)
        return;
    if (!openVerification)
        installEntryViewer(*this);
    MainViewerCaller &caller = MainViewerCaller::of(*this);
    flushEntries();
    for (int i = 0; i < List1->count(); ++i)
        if (List1->item(i)->isSelected()) {
            caller.selectedEntry = List1->item(i)->text();
            break;
        }
    caller.selectedEntry = caller.selectedEntry.toLower();
    EntryView::view(caller.viewer(), caller, caller.selectedEntry);
}

} // namespace arcsweep
