#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVector>

// What the host does when the keyboard reports a key-function key: open a web
// site, start a document or program, open a folder. The rules live here; the
// actual launching goes through HostActions so that tests can record it.
// Nothing ever goes through a shell, and nothing waits for a started process.
class HostActions
{
public:
    virtual ~HostActions();

    // Hands `url` (already checked) to the desktop's URL handler.
    virtual bool openUrl(const QString &url) = 0;
    // Starts `program` detached with `arguments`, each passed as it is.
    virtual bool startProgram(const QString &program, const QStringList &arguments) = 0;
    // Shows `folder` (already checked) in a file manager.
    virtual bool openFolder(const QString &folder) = 0;

    // The process-wide instance; null until one is installed. Not owned.
    static HostActions *instance();
    static void setInstance(HostActions *actions);
};

// The host-side parameter of one stored key function: the entry's id and
// function number, its control type and its URL or path.
struct HostRecord
{
    quint32 id = 0;
    quint32 type = 0;
    quint32 hi = 0;
    QString str;
};

// Control types that need the host.
enum HostRecordType : quint32
{
    kHostWeb = 1,
    kHostDocApp = 2,
    kHostFolder = 3,
};

enum class HostOutcome
{
    NoMatch,  // no record with that id and hi
    NoAction, // the function is carried out by the keyboard alone
    Refused,  // the URL or path was not acceptable (logged)
    Failed,   // the desktop could not start it, or no HostActions installed
    Started,  // handed to the desktop
};

// Only http, https, ftp and mailto addresses are opened.
bool webAddressAllowed(const QUrl &url);

// The address of a web-site field, parsed tolerantly.
QUrl webAddress(const QString &text);

// A document/application field split into program and arguments. A field
// that names an existing file as a whole (blanks and all) is that program
// with no arguments; otherwise it is split like a command line, with quotes
// grouping. `ok` is false for an empty field and for a program beginning
// with '-'.
struct CommandLine
{
    bool ok = false;
    QString program;
    QStringList arguments;
};
CommandLine splitCommandLine(const QString &text);

// A folder field is usable when it is not empty and does not begin with '-'.
bool folderAllowed(const QString &folder);

// How to show a folder: "nautilus" with the folder as its one argument when
// it is installed (looked up in `searchPaths`, or PATH when empty), otherwise
// the desktop's URL handler for the folder's file URL.
struct FolderLaunch
{
    QString program; // empty: use `url`
    QStringList arguments;
    QUrl url;
};
FolderLaunch folderLaunch(const QString &folder, const QStringList &searchPaths = QStringList());

// Shows `folder` through `host`'s startProgram or openUrl, as folderLaunch
// chooses.
bool launchFolder(HostActions &host, const QString &folder,
                  const QStringList &searchPaths = QStringList());

// Carries out one record's host action (web site, document/application,
// folder); other types do nothing. Uses HostActions::instance() when `host`
// is null.
HostOutcome executeHostRecord(const HostRecord &record, HostActions *host = nullptr);

// A key-function notification with the keyboard's `id` and `hi`: the first
// record with both carries out its action; later equal records are ignored.
HostOutcome runNotifiedFunction(const QVector<HostRecord> &records, quint8 id, quint8 hi,
                                HostActions *host = nullptr);
