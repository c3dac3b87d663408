// The real desktop services: boxes without a display, and openers that fail at once
// or later.
#include "capture.h"
#include "zipfixtures.h"

#include "controls/desktopservices.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

using namespace arcsweep;
using namespace arcsweep::test;

namespace {

// The real services with their boxes recorded instead of shown.
class RecordingDesktop : public QtDesktopServices {
public:
    QStringList boxes;
    QList<QWidget *> parents;

protected:
    MsgAnswer showMessageBox(QWidget *parent, const QString &text, const QString &, MsgIcon,
                             MsgButtons) override {
        boxes.append(text);
        parents.append(parent);
        return MsgAnswer::Ok;
    }
};

TEST(DesktopServices, WithoutADisplayBoxesGoToStandardErrorWithTheirDefault) {
    QtDesktopServices desktop;
    ASSERT_FALSE(QtDesktopServices::hasDisplay());
    StderrCapture err;
    EXPECT_EQ(desktop.messageBox(nullptr, QStringLiteral("CRC error in - /x/a.zip"),
                                 QStringLiteral("Arcsweep error"), MsgIcon::Critical),
              MsgAnswer::Ok);
    EXPECT_EQ(desktop.messageBox(nullptr, QStringLiteral("Delete status log?"),
                                 QStringLiteral("Arcsweep"), MsgIcon::Question, MsgButtons::YesNo),
              MsgAnswer::No); // nothing destructive is done unasked
    const QByteArray text = err.text();
    EXPECT_TRUE(text.contains("Arcsweep error: CRC error in - /x/a.zip\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("Arcsweep: Delete status log?\n"));
}

TEST(DesktopServices, OnceSilencedNothingOpensAndNoBoxShows) {
    ScriptedDesktopServices desktop;
    desktop.silence();
    EXPECT_EQ(desktop.messageBox(nullptr, QStringLiteral("x"), QStringLiteral("t"),
                                 MsgIcon::Question, MsgButtons::YesNo),
              MsgAnswer::No);
    desktop.open(QUrl::fromLocalFile(QStringLiteral("/tmp/x.txt")), nullptr);
    EXPECT_TRUE(desktop.boxes.isEmpty());
    EXPECT_TRUE(desktop.opened.isEmpty());
}

// A PATH whose xdg-open is a script of ours.
class Opener : public ::testing::Test {
protected:
    void SetUp() override { savedPath = qgetenv("PATH"); }
    void TearDown() override { qputenv("PATH", savedPath); }
    void useOpener(const QByteArray &script) {
        if (!script.isEmpty()) {
            const QString path = bin.filePath(QStringLiteral("xdg-open"));
            ASSERT_TRUE(writeFile(path, "#!/bin/sh\n" + script + "\n"));
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        // Only ours is found; the script itself finds the system's tools.
        qputenv("PATH", QFile::encodeName(bin.path()));
        if (!script.isEmpty())
            qputenv("PATH", QFile::encodeName(bin.path()) + ":/usr/bin:/bin");
    }
    QTemporaryDir bin;
    QByteArray savedPath;
    RecordingDesktop desktop;
    // One box over the window that asked, saying the help page could not be opened.
    void expectOneCannotOpenBox() {
        ASSERT_EQ(desktop.boxes.size(), 1);
        EXPECT_EQ(desktop.boxes[0], DesktopServices::cannotOpenText(help));
        EXPECT_EQ(desktop.parents[0], &window);
    }
    QWidget window;
    const QUrl help = QUrl::fromLocalFile(QStringLiteral("/App Folder/Arcsweep.html"));
};

TEST_F(Opener, NoOpenerAtAllIsSaidAtOnce) {
    useOpener({});
    desktop.open(help, &window);
    expectOneCannotOpenBox();
}

TEST_F(Opener, AnOpenerThatStartsAndThenFailsIsSaidWhenItEnds) {
    const QString marker = bin.filePath(QStringLiteral("ran"));
    useOpener("touch '" + QFile::encodeName(marker) + "'; sleep 0.3; exit 3");
    desktop.open(help, &window);
    EXPECT_TRUE(desktop.boxes.isEmpty()) << desktop.boxes.join(u'|').toStdString(); // no waiting
    EXPECT_TRUE(waitUntil([&] { return !desktop.boxes.isEmpty(); }));
    EXPECT_TRUE(QFile::exists(marker));
    expectOneCannotOpenBox();
}

TEST_F(Opener, AnOpenerThatSucceedsSaysNothingAndGetsThePathWhole) {
    const QString got = bin.filePath(QStringLiteral("argument"));
    useOpener("printf '%s' \"$1\" > '" + QFile::encodeName(got) + "'; exit 0");
    desktop.open(help, &window);
    EXPECT_TRUE(waitUntil([&] { return QFile::exists(got) && !fileBytes(got).isEmpty(); }));
    EXPECT_EQ(fileBytes(got), QByteArray("/App Folder/Arcsweep.html"));
    waitUntil([] { return false; }, 300); // its report has had time to arrive
    EXPECT_TRUE(desktop.boxes.isEmpty());
}

TEST(WaveFile, DurationComesFromTheHeader) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Tone.wav"));
    // 8 kHz, 8-bit mono: byte rate 8000; 4000 data bytes = 500 ms.
    QByteArray wav = "RIFF";
    auto u32 = [](quint32 v) {
        QByteArray b(4, 0);
        for (int i = 0; i < 4; ++i)
            b[i] = char((v >> (8 * i)) & 0xff);
        return b;
    };
    auto u16 = [](quint16 v) {
        QByteArray b(2, 0);
        b[0] = char(v & 0xff);
        b[1] = char(v >> 8);
        return b;
    };
    wav += u32(36 + 4000) + "WAVE" + "fmt " + u32(16) + u16(1) + u16(1) + u32(8000) + u32(8000) +
           u16(1) + u16(8) + "data" + u32(4000) + QByteArray(4000, char(128));
    ASSERT_TRUE(writeFile(path, wav));
    EXPECT_EQ(waveDurationMs(path), 500);
    ASSERT_TRUE(writeFile(path, "not a wave"));
    EXPECT_EQ(waveDurationMs(path), 0);
    EXPECT_EQ(waveDurationMs(dir.filePath(QStringLiteral("None.wav"))), 0);
}

} // namespace
