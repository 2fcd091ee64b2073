#pragma once

#include <QString>
#include <QStringList>

// The installer "Upgrade": after the program has downloaded a new version it
// starts D/Upgrade/Upgrade (D = the program directory) and quits. The
// installer waits for the program to be gone, copies the new files into D
// and starts the program again.
//
// Arguments (without the installer's own name), in this order:
//   "upgrade", number of new files, D + "/", executable file name,
//   directory of the new files (laid out as D is), D + "/", language number.
namespace UpgradeInstaller {

struct Arguments
{
    int expectedFiles = 0;
    QString programDir; // absolute, cleaned, without trailing slash
    QString exeName;
    QString newFilesDir; // absolute, cleaned, without trailing slash
    int language = 1;    // 0 Chinese, anything else English
};

struct Options
{
    // How long to wait for the running program to exit before going on.
    int waitTimeoutMs = 30000;
    int pollIntervalMs = 100;
    // Where the log goes when the arguments name no program directory.
    QString fallbackLogDir;
};

// Checks the arguments. On failure returns false and `error` (when given)
// says why, in the language of argument 7 ("0": Chinese).
bool parseArguments(const QStringList &args, Arguments *out, QString *error = nullptr);

// Processes running `executable` (an absolute path): the binary itself, or a
// script of that name run by its interpreter. Our own process is left out.
QList<qint64> runningInstances(const QString &executable);

// Polls every `pollIntervalMs` until no process runs `executable`; false when
// `timeoutMs` passed first.
bool waitForExit(const QString &executable, int timeoutMs, int pollIntervalMs = 100);

struct CopyResult
{
    bool ok = true;
    int copied = 0;
    int skipped = 0;   // symbolic links and other non-files
    QString error;     // the first failure (copying stops there)
    QStringList notes; // one line per skipped entry
};

// Copies every regular file below `from` to the same relative place below
// `to`, creating directories. Each file goes to a temporary name beside its
// target, gets the source's permissions, is synced and renamed over the
// target, so the target is always either the old or the new file. Symbolic
// links and special files are skipped; no file is ever written outside `to`.
// Messages are in Chinese for `language` 0, else in English.
CopyResult copyTree(const QString &from, const QString &to, int language = 1);

// Regular files below `dir` (symbolic links not counted).
int countFiles(const QString &dir);

// The whole installer run; returns the process exit code (0 or 1).
int run(const QStringList &args, const Options &options = Options());

} // namespace UpgradeInstaller
