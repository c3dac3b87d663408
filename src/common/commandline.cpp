#include "common/commandline.h"

#include "common/fs.h"

namespace arcsweep {

namespace {
// The absolute path with links resolved as far as it exists; the rest as written.
QString resolvedAsFarAsItExists(const QString &path) {
    QString head = Fs::absolute(path);
    QString tail;
    for (;;) {
        const QString real = Fs::realPath(head);
        if (!real.isEmpty())
            return tail.isEmpty() ? real : (real == u"/" ? real : real + u'/') + tail;
        const qsizetype slash = head.lastIndexOf(u'/');
        if (slash < 0)
            return Fs::absolute(path);
        tail = tail.isEmpty() ? head.mid(slash + 1) : head.mid(slash + 1) + u'/' + tail;
        head = slash == 0 ? QStringLiteral("/") : head.left(slash);
    }
}
} // namespace

CommandLine CommandLine::parse(const QStringList &arguments) {
    CommandLine line;
    QStringList words;
    bool options = true;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        if (!options || !arg.startsWith(u'-') || arg == u"-") {
            // An empty word (an unset variable in a script) names no folder: cleaning
            // another one, or opening a window nobody asked for, would be wrong.
            if (arg.isEmpty()) {
                line.action = Action::Error;
                line.error = QStringLiteral("an empty argument names no folder");
                return line;
            }
            words.append(arg);
            continue;
        }
        if (arg == u"--") {
            options = false;
        } else if (arg == u"-h" || arg == u"--help") {
            if (line.action == Action::Run)
                line.action = Action::Help;
        } else if (arg == u"-V" || arg == u"--version") {
            if (line.action == Action::Run)
                line.action = Action::Version;
        } else if (arg == u"--dry-run") {
            line.dryRun = true;
        } else if (arg == u"--keep-purged" || arg.startsWith(u"--keep-purged=")) {
            const bool inline_ = arg.contains(u'=');
            if (!inline_ && i + 1 >= arguments.size()) {
                line.action = Action::Error;
                line.error = QStringLiteral("--keep-purged needs a folder");
                return line;
            }
            line.keepPurged = inline_ ? arg.section(u'=', 1) : arguments[++i];
            if (line.keepPurged.isEmpty()) {
                line.action = Action::Error;
                line.error = QStringLiteral("--keep-purged needs a folder");
                return line;
            }
        } else if (arg == u"--skip-unchanged") {
            line.skipUnchanged = true;
        } else if (arg == u"--retest-days" || arg.startsWith(u"--retest-days=")) {
            const bool inline_ = arg.contains(u'=');
            bool ok = inline_ || i + 1 < arguments.size();
            const QString value = !ok ? QString() : inline_ ? arg.section(u'=', 1) : arguments[++i];
            const int days = value.toInt(&ok);
            if (!ok || days < 0 || value.startsWith(u'+')) {
                line.action = Action::Error;
                line.error = QStringLiteral("--retest-days needs a number of days (0 or more)");
                return line;
            }
            line.retestDays = days;
        } else {
            line.action = Action::Error;
            line.error = QStringLiteral("unknown option %1").arg(arg);
            return line;
        }
    }
    line.folder = words.join(u' ');
    if (line.action == Action::Run && line.folder.isEmpty()) {
        const char *option = line.dryRun                  ? "--dry-run"
                             : !line.keepPurged.isEmpty() ? "--keep-purged"
                             : line.skipUnchanged         ? "--skip-unchanged"
                             : line.retestDays >= 0       ? "--retest-days"
                                                          : nullptr;
        if (option) {
            line.action = Action::Error;
            line.error = QStringLiteral("%1 needs a folder to clean").arg(QLatin1String(option));
        }
    }
    if (line.dryRun && !line.keepPurged.isEmpty() && line.action == Action::Run) {
        line.action = Action::Error;
        line.error = QStringLiteral("--dry-run removes nothing there is to keep: give one of "
                                    "--dry-run and --keep-purged");
    }
    return line;
}

QString CommandLine::keepFolderProblem(const QString &keep, const QString &folder) {
    const QString tree = Fs::realPath(folder);
    if (tree.isEmpty())
        return QString(); // no such folder: the run itself refuses it
    const QString kept = resolvedAsFarAsItExists(keep);
    if (kept == tree || kept == u"/" || tree.startsWith(kept + u'/'))
        return QStringLiteral("--keep-purged %1 is the folder to clean or holds it: the run "
                              "would clean the kept entries again")
            .arg(keep);
    return QString();
}

QString CommandLine::usage(const QString &dataFolder) {
    return QStringLiteral(
               "Usage: arcsweep [OPTION]... [--] [FOLDER]\n"
               "Cleans FOLDER and every folder below it of unwanted zip archive entries,\n"
               "unattended, then exits; without a FOLDER the main window opens.\n"
               "Damaged archives are set aside as NAME.bad; entries matching purge.txt are\n"
               "deleted. The arguments that are not options, joined with blanks, are FOLDER.\n"
               "\n"
               "  -h, --help           show this help and exit\n"
               "  -V, --version        show the version and the data folder, and exit\n"
               "      --dry-run        test every archive and list what a run would do\n"
               "                       (bad, repair and purge lines, then the statistics\n"
               "                       record) without changing anything\n"
               "      --keep-purged DIR  before an archive is rewritten, keep the entries\n"
               "                       it loses, byte for byte, in an archive at\n"
               "                       DIR/<its path below FOLDER>; a purge can be undone.\n"
               "                       DIR may not be FOLDER or hold it\n"
               "      --skip-unchanged  leave alone (count, but neither open nor test) an\n"
               "                       archive a run found sound and left unchanged, when\n"
               "                       its file is the same to the nanosecond, the test is\n"
               "                       recent and no purge.txt line matches its entries\n"
               "                       (verdicts.db in the data folder keeps what was found)\n"
               "      --retest-days N  with --skip-unchanged: test again what was last\n"
               "                       tested N or more days ago (default 30; 0: test all)\n"
               "  --                   end of options: what follows is FOLDER\n"
               "\n"
               "Data folder: %1\n"
               "  (purge.txt, the logs and settings live there)\n"
               "\n"
               "Exit status:\n"
               "  0   the run completed (or --help, --version)\n"
               "  1   refused: FOLDER does not exist or cannot be entered, its volume is\n"
               "      read-only, the program sits in a root folder, or no window can open\n"
               "  2   stopped by SIGINT, SIGTERM or SIGHUP (what was done is recorded)\n"
               "  3   another instance runs from the same data folder\n"
               "  4   the run completed, but a file in the data folder could not be\n"
               "      written (said on standard error with the cause)\n"
               "  64  a command-line error (unknown option, missing DIR, an empty\n"
               "      argument, DIR that is FOLDER or holds it)\n")
        .arg(dataFolder);
}

} // namespace arcsweep
