#pragma once

// Back-up and restore of a whole keyboard through a profile file.
//
// Back-up reads everything the keyboard stores (every key, colour and mode
// map, the lighting records, the key-function table, every macro with its
// frames, the Bluetooth name, sleep time and device settings) and the host
// data of the key functions (shortcuts.xml), and writes it as one profile.
//
// Restore runs in two steps, so that the user can be asked in between:
// plan() reads and checks the whole file, reads the keyboard's current state
// and works out what differs (and, on another board, how keys are carried
// and what is dropped); restore() then writes only what differs, one part
// (a map, a record, an entry, a macro, a setting) at a time, and reads back
// every part it wrote. A part counts as restored only once it was read back.
// Nothing is sent before the file has been checked whole.
//
// Maps are addressed by number, so no active map changes while they are read
// or written; the active maps are set last. A macro that must be rewritten is
// first marked free, so an unplug in the middle leaves an empty slot rather
// than a macro with another's frames. Restoring the same file again completes
// an interrupted restore and writes nothing when the keyboard already matches.
//
// Restore writes no file but the keyboard's shortcuts.xml in its own data
// folder, and runs no host action.
//
// Threads: ProfileEngine runs on the calling thread and blocks on each
// exchange; ProfileTask runs it on a worker thread with progress and Cancel.
// While a run lasts, the pages must not send commands of their own (their
// view of the keyboard is stale afterwards: rebuild them from the keyboard).

#include "device/profile.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <functional>
#include <vector>

class Device;

// What a run needs besides the keyboard; built on the main thread.
struct ProfileContext
{
    QString family;                   // ProfileFile::familyOf(catalogue vendor, product)
    QVector<ProfileLayoutKey> layout; // the connected board's keys (positions, legends)
    ProfileNames names;               // static key table and the board's function catalogue
    QString dataDir;                  // parent of the per-keyboard folders
    int langType = 1;                 // 0 Chinese, 1 English (stage texts, messages)

    // From the catalogue and the data files for a loaded keyboard.
    static ProfileContext forDevice(const Device *device, int langType = 1);
};

struct ProfileResult
{
    enum class Status
    {
        Done,      // everything asked for was done (and read back)
        Cancelled, // stopped by Cancel; `remaining` lists what was not restored
        Refused,   // nothing was written: the file or the pairing is not usable
        Failed,    // the keyboard failed or went away; `remaining` says what is left
    };
    Status status = Status::Done;
    ProfileProblem problem = ProfileProblem::None; // for Refused by the file
    QString message;                               // names the problem ("" when done)
    QStringList written;                           // restore: the parts written and read back
    QStringList remaining;                         // restore: the parts not (wholly) restored

    bool ok() const { return status == Status::Done; }
};

// What a restore will change, for the question to the user, and the work to do.
struct RestorePlan
{
    // Counts of what differs.
    int keyMaps = 0; // key maps with at least one change
    int keys = 0;    // key entries that change, over all key maps
    int colourMaps = 0;
    int colours = 0;
    int modeMaps = 0;
    int modes = 0;
    int lightingRecords = 0;
    int functions = 0;     // key-function entries
    bool hostData = false; // shortcuts.xml changes
    int macros = 0;
    QStringList settings; // names of the settings that change
    bool activeMaps = false;

    // Carrying to another board.
    bool carried = false;
    QString fromBoard;
    QString toBoard;
    QStringList droppedKeys;   // keys of the profile the board lacks: "Mute (Q0)"
    QStringList uncoveredKeys; // keys of the board the profile has nothing for (kept)
    QStringList dropped;       // maps, records, function and macro slots, settings

    // Nothing to write: the keyboard already matches the profile.
    bool isEmpty() const { return units.empty(); }
    // Readable lines for the summary dialog.
    QStringList summary(int langType = 1) const;

    // ---- the work (filled by plan(), run by restore()) ----
    enum class UnitKind
    {
        KeyMap,
        ColourMap,
        ModeMap,
        Lighting,
        Function,
        HostData,
        Macro,
        BluetoothName,
        SleepTime,
        ScanSpeed,
        NKey,
        UserInfo,
        ActiveKeyMap,
        ActiveColourMap,
        ActiveModeMap,
    };
    struct Unit
    {
        UnitKind kind = UnitKind::KeyMap;
        int index = 0;            // map, record, entry or slot
        QByteArray data;          // the whole desired map / record / entry / head / setting
        QVector<int> chunks;      // maps: first entry of each chunk that differs
        QVector<mframe_t> frames; // macros
        bool writeFrames = false; // macros: the frames differ
        bool freeFirst = false;   // macros: mark the slot free before the frames
        uint32_t value = 0;       // numeric settings, active maps
        int weight = 1;           // exchanges, for progress
    };
    std::vector<Unit> units;
    // shortcuts.xml: its path (in the keyboard's own folder), its items
    // before, and the host data of the entries the restore covers (by entry;
    // an entry not in use has none). Entries whose function needs no writing
    // are listed in hostSettled: their host data is written in any case.
    QString hostFile;
    QVector<ShortcutsFile::Item> hostBefore;
    QMap<int, ShortcutsFile::Item> hostAfter;
    QVector<int> hostCovered;
    QVector<int> hostSettled;
    QByteArray deviceId; // the keyboard the plan was made for
};

class ProfileEngine
{
public:
    using Progress = std::function<void(int done, int total, const QString &stage)>;

    ProfileEngine(Device *device, const ProfileContext &context);

    // Progress reports and a Cancel flag checked between exchanges (a macro
    // transfer under way is finished first). Both optional.
    void setProgress(Progress progress) { m_progress = std::move(progress); }
    void setCancelFlag(const std::atomic<bool> *cancel) { m_cancel = cancel; }

    // Reads the whole keyboard (and its host data) into `profile`.
    ProfileResult readKeyboard(KeyboardProfile *profile);
    // readKeyboard, then writes the file atomically.
    ProfileResult backup(const QString &path);
    // Reads and checks `path`, reads the keyboard and fills `plan`.
    ProfileResult plan(const QString &path, RestorePlan *plan);
    ProfileResult plan(const KeyboardProfile &profile, RestorePlan *plan);
    // Writes what `plan` says and reads it back.
    ProfileResult restore(const RestorePlan &plan);

    // The default back-up file: <documents>/<board> <yyyy-MM-dd>.lumory
    // (" 2", " 3", ... before the suffix when taken).
    static QString defaultBackupPath(const QString &documentsDir, const QString &board,
                                     const QDate &date);

private:
    enum class Group
    {
        Keys,
        Colours,
        Modes,
    };
    uint32_t ensureInfo();
    // Reads the keyboard; the frames of slot i only when `wantFrames(i, head)`.
    uint32_t readState(KeyboardProfile *out,
                       const std::function<bool(int, const km_t &)> &wantFrames);
    uint32_t readMap(Group group, int map, int entries, QByteArray *out);
    bool cancelled() const { return m_cancel && m_cancel->load(); }
    void step(int exchanges, const QString &stage);
    QString text(const char *zh, const char *en) const;
    ProfileResult failure(uint32_t status, const QString &during) const;
    QString hostFilePath(const QByteArray &deviceId) const;

    // restore (profilerestore.cpp)
    uint32_t runUnit(const RestorePlan::Unit &unit, bool *partly);
    uint32_t writeChunks(const RestorePlan::Unit &unit, bool *partly);
    bool writeHost(const RestorePlan &plan, const QVector<int> &slotsDone, QString *error);
    QString unitName(const RestorePlan::Unit &unit) const;

    Device *m_device;
    ProfileContext m_context;
    Progress m_progress;
    const std::atomic<bool> *m_cancel = nullptr;
    int m_done = 0;
    int m_total = 0;
};

// A run of the engine on its own thread. Create it with one of the static
// functions, connect to its signals and call start(); it deletes nothing by
// itself (the owner deletes it after finished()).
class ProfileTask : public QObject
{
    Q_OBJECT

public:
    static ProfileTask *backup(Device *device, const ProfileContext &context, const QString &path,
                               QObject *parent = nullptr);
    static ProfileTask *plan(Device *device, const ProfileContext &context, const QString &path,
                             QObject *parent = nullptr);
    static ProfileTask *restore(Device *device, const ProfileContext &context,
                                const RestorePlan &plan, QObject *parent = nullptr);
    ~ProfileTask() override;

    void start();
    // Asks the run to stop at the next exchange; thread-safe.
    void cancel() { m_cancel.store(true); }
    bool isRunning() const;
    // Waits for the worker to end (tests, shutdown).
    bool wait(int timeoutMs = -1);

    const ProfileResult &result() const { return m_result; }
    // The plan a plan task made (valid after finished()).
    const RestorePlan &restorePlan() const { return m_plan; }

signals:
    void progress(int done, int total, const QString &stage);
    void finished(const ProfileResult &result);

private:
    ProfileTask(Device *device, const ProfileContext &context, QObject *parent);
    void run();

    enum class Kind
    {
        Backup,
        Plan,
        Restore,
    };
    Kind m_kind = Kind::Backup;
    Device *m_device;
    ProfileContext m_context;
    QString m_path;
    RestorePlan m_plan;
    ProfileResult m_result;
    std::atomic<bool> m_cancel{false};
    QThread *m_thread = nullptr;
};

Q_DECLARE_METATYPE(ProfileResult)
