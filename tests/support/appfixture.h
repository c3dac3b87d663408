#pragma once

// A fresh program around one test: a temporary AppFolder, a folder for archive trees
// (both with capital letters in their names), scripted desktop services and the real
// main window. Header-only so that only window-level tests pull in the whole program.

#include "common/appstate.h"
#include "controls/desktopservices.h"
#include "controls/dirlistbox.h"
#include "controls/filelistbox.h"
#include "shell/form1.h"
#include "userinput.h"
#include "zipfixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>

#include <memory>

namespace arcsweep::test {

class AppFixture {
public:
    AppFixture() {
        appFolder = root.filePath(QStringLiteral("App Folder"));
        tree = root.filePath(QStringLiteral("Zip Tree"));
        QDir().mkpath(appFolder + QStringLiteral("/temp"));
        QDir().mkpath(tree);
        state.AppFolder = appFolder;
        state.desktop = &desktop;
    }
    ~AppFixture() {
        if (form && !form->unloaded())
            form->Form_Unload();
    }

    // Builds the main window; with `load` runs the start-up steps too.
    template <typename Window = Form1> Window &makeForm(bool load = true) {
        form = std::make_unique<Window>(state);
        if (load)
            form->Form_Load();
        return static_cast<Window &>(*form);
    }

    // Points the browser at a folder, as a user choosing it would.
    void browse(const QString &folder) { form->setDirPath(folder); }

    QStringList entries() const {
        QStringList names;
        for (int i = 0; i < form->List1->count(); ++i)
            names.append(form->List1->item(i)->text());
        return names;
    }
    QStringList files() const {
        QStringList names;
        for (int i = 0; i < form->File1->count(); ++i)
            names.append(form->File1->List(i));
        return names;
    }
    // Selects these entries of List1 with the mouse.
    void selectEntries(const QStringList &names) { selectRows(form->List1, names); }
    // Clicks an archive of File1.
    void clickArchive(const QString &name) {
        const int row = files().indexOf(name);
        ASSERT_GE(row, 0) << qPrintable(name);
        clickRow(form->File1, row);
    }
    QString appFile(const char *name) const { return state.file(name); }

    QTemporaryDir root;
    QString appFolder;
    QString tree;
    ScriptedDesktopServices desktop;
    AppState state;
    std::unique_ptr<Form1> form;
};

} // namespace arcsweep::test
