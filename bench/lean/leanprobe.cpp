// Start-up and idle figures of Lumory against a Qt hello-world, under X.
//
//   lumory_leanprobe <Lumory> <lumory_hello> [runs] [idle seconds]
//
// Runs both programs `runs` times, interleaved (after one warm-up run each),
// on the display named by DISPLAY, and prints the medians as "name value
// unit" lines; the hello-world's figure follows each of Lumory's as
// <name>_hello. Lumory runs in demo mode (--simulate) from a fresh copy of its
// directory (binary hard-linked, data copied), with its own TMPDIR and HOME,
// so that runs neither share state nor meet another running copy.
//
//   start_to_window_ms  from the start of the process until its first
//                       top-level window is mapped (MapNotify on the root)
//   start_to_loaded_ms  until the log line "Keyboard load finished" (the
//                       hello-world: until its window is mapped)
//   idle_wakeups_per_s  voluntary + involuntary context switches of all the
//                       process's threads over the idle window, which starts
//                       two seconds after the keyboard loaded
//   idle_cpu_pct        CPU time of all threads over the idle window
//   peak_rss_mb         VmHWM at the end of the idle window

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSettleMs = 2000;
constexpr int kStartTimeoutMs = 30000;
constexpr int kQuitTimeoutMs = 5000;
const char kLoadedLine[] = "Keyboard load finished";

double nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

struct Sample
{
    double windowMs = -1;
    double loadedMs = -1;
    double wakeupsPerS = -1;
    double cpuPct = -1;
    double peakRssMb = -1;
};

struct ThreadCounters
{
    quint64 switches = 0;
    quint64 runNs = 0;
};

QByteArray readProcFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

quint64 statusField(const QByteArray &status, const char *name)
{
    for (const QByteArray &line : status.split('\n')) {
        if (line.startsWith(name))
            return line.mid(int(qstrlen(name))).trimmed().split(' ').first().toULongLong();
    }
    return 0;
}

QMap<QString, ThreadCounters> threadCounters(pid_t pid)
{
    QMap<QString, ThreadCounters> counters;
    const QString base = QStringLiteral("/proc/%1/task").arg(pid);
    const QStringList tids = QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &tid : tids) {
        const QByteArray status = readProcFile(base + '/' + tid + QStringLiteral("/status"));
        ThreadCounters c;
        c.switches = statusField(status, "voluntary_ctxt_switches:") +
                     statusField(status, "nonvoluntary_ctxt_switches:");
        c.runNs = readProcFile(base + '/' + tid + QStringLiteral("/schedstat"))
                      .split(' ')
                      .first()
                      .toULongLong();
        counters.insert(tid, c);
    }
    return counters;
}

// A copy of the program's directory in which it may write what it likes.
bool copyAppDir(const QString &binary, const QString &to)
{
    const QFileInfo info(binary);
    const QString from = info.absolutePath();
    if (!QDir().mkpath(to))
        return false;
    const QString target = to + '/' + info.fileName();
    if (::link(qPrintable(info.absoluteFilePath()), qPrintable(target)) != 0 &&
        !QFile::copy(info.absoluteFilePath(), target))
        return false;
    for (const char *sub : {"config", "images", "firmware"}) {
        const QString root = from + '/' + QLatin1String(sub);
        QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = it.next();
            const QString copy = to + '/' + QLatin1String(sub) + file.mid(root.size());
            QDir().mkpath(QFileInfo(copy).absolutePath());
            if (!QFile::copy(file, copy))
                return false;
        }
    }
    return true;
}

class Probe
{
public:
    bool connect()
    {
        m_x = xcb_connect(nullptr, nullptr);
        if (!m_x || xcb_connection_has_error(m_x))
            return false;
        xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_x)).data;
        m_root = screen->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_x, m_root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_x);
        return true;
    }
    ~Probe()
    {
        if (m_x)
            xcb_disconnect(m_x);
    }

    // One run of `binary` with `arguments`. `waitLoaded`: Lumory, whose
    // keyboard has to finish loading before the idle window.
    bool run(const QString &binary, const QStringList &arguments, bool waitLoaded, int idleSeconds,
             Sample *sample)
    {
        QTemporaryDir scratch;
        if (!scratch.isValid())
            return false;
        const QString appDir = scratch.path() + QStringLiteral("/app");
        const QString tmp = scratch.path() + QStringLiteral("/tmp");
        const QString home = scratch.path() + QStringLiteral("/home");
        if (!copyAppDir(binary, appDir) || !QDir().mkpath(tmp) || !QDir().mkpath(home))
            return false;
        const QByteArray program = (appDir + '/' + QFileInfo(binary).fileName()).toLocal8Bit();

        drainX();
        m_mappedAt = -1; // windows of an earlier run do not count
        m_reaped = false;
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return false;
        const double start = nowMs();
        const pid_t pid = fork();
        if (pid < 0)
            return false;
        if (pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(out[1], STDERR_FILENO);
            setenv("TMPDIR", qPrintable(tmp), 1);
            setenv("HOME", qPrintable(home), 1);
            setenv("XDG_CONFIG_HOME", qPrintable(home + QStringLiteral("/.config")), 1);
            setenv("XDG_DATA_HOME", qPrintable(home + QStringLiteral("/.local/share")), 1);
            setenv("XDG_STATE_HOME", qPrintable(home + QStringLiteral("/.local/state")), 1);
            setenv("XDG_CACHE_HOME", qPrintable(home + QStringLiteral("/.cache")), 1);
            setenv("QT_QPA_PLATFORM", "xcb", 1);
            std::vector<QByteArray> args{program};
            for (const QString &a : arguments)
                args.push_back(a.toLocal8Bit());
            std::vector<char *> argv;
            for (QByteArray &a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(program.constData(), argv.data());
            _exit(127);
        }
        ::close(out[1]);
        m_out = out[0];
        fcntl(m_out, F_SETFL, O_NONBLOCK);
        m_line.clear();
        m_loaded = false;

        bool ok = true;
        double mapped = -1, loaded = -1;
        while (mapped < 0 || (waitLoaded && loaded < 0)) {
            if (nowMs() - start > kStartTimeoutMs || !alive(pid)) {
                ok = false;
                break;
            }
            wait(50);
            if (mapped < 0 && m_mappedAt >= 0)
                mapped = m_mappedAt - start;
            if (waitLoaded && loaded < 0 && m_loaded)
                loaded = m_loadedAt - start;
        }
        if (ok) {
            sample->windowMs = mapped;
            sample->loadedMs = waitLoaded ? loaded : mapped;
            idle(kSettleMs);
            const QMap<QString, ThreadCounters> before = threadCounters(pid);
            const double from = nowMs();
            idle(idleSeconds * 1000);
            const QMap<QString, ThreadCounters> after = threadCounters(pid);
            const double seconds = (nowMs() - from) / 1e3;
            quint64 switches = 0, runNs = 0;
            for (auto it = after.cbegin(); it != after.cend(); ++it) {
                const ThreadCounters old = before.value(it.key());
                switches += it->switches - std::min(old.switches, it->switches);
                runNs += it->runNs - std::min(old.runNs, it->runNs);
            }
            sample->wakeupsPerS = switches / seconds;
            sample->cpuPct = runNs / 1e9 / seconds * 100.0;
            const QByteArray status = readProcFile(QStringLiteral("/proc/%1/status").arg(pid));
            sample->peakRssMb = statusField(status, "VmHWM:") / 1024.0;
            ok = sample->peakRssMb > 0;
        } else {
            std::fprintf(stderr, "%s did not come up (window %s, loaded %s)\n", program.constData(),
                         mapped >= 0 ? "yes" : "no", loaded >= 0 ? "yes" : "no");
        }
        stop(pid);
        ::close(m_out);
        m_out = -1;
        return ok;
    }

private:
    bool alive(pid_t pid)
    {
        if (!m_reaped && waitpid(pid, nullptr, WNOHANG) == pid)
            m_reaped = true;
        return !m_reaped;
    }

    void stop(pid_t pid)
    {
        if (!alive(pid))
            return;
        kill(pid, SIGTERM);
        const double from = nowMs();
        while (nowMs() - from < kQuitTimeoutMs) {
            if (!alive(pid))
                return;
            wait(20);
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        m_reaped = true;
    }

    void idle(int ms)
    {
        const double until = nowMs() + ms;
        while (nowMs() < until)
            wait(int(std::max(1.0, until - nowMs())));
    }

    // Waits at most `ms` for X events or output, and takes in what came.
    void wait(int ms)
    {
        pollfd fds[2] = {{xcb_get_file_descriptor(m_x), POLLIN, 0}, {m_out, POLLIN, 0}};
        const int n = poll(fds, m_out >= 0 ? 2 : 1, ms);
        if (n <= 0)
            return;
        drainX();
        if (m_out >= 0 && (fds[1].revents & (POLLIN | POLLHUP)))
            readOutput();
    }

    void drainX()
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_x)) {
            if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
                auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event);
                if (map->event == m_root && !map->override_redirect && m_mappedAt < 0)
                    m_mappedAt = nowMs();
            }
            std::free(event);
        }
    }

    void readOutput()
    {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(m_out, buffer, sizeof buffer);
            if (n <= 0)
                return;
            m_line.append(buffer, int(n));
            int end;
            while ((end = m_line.indexOf('\n')) >= 0) {
                if (!m_loaded && m_line.left(end).contains(kLoadedLine)) {
                    m_loaded = true;
                    m_loadedAt = nowMs();
                }
                m_line.remove(0, end + 1);
            }
        }
    }

    xcb_connection_t *m_x = nullptr;
    xcb_window_t m_root = 0;
    int m_out = -1;
    QByteArray m_line;
    double m_mappedAt = -1;
    bool m_reaped = false;
    bool m_loaded = false;
    double m_loadedAt = -1;
};

double median(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void figure(const char *name, double value, const char *unit)
{
    std::printf("%s %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: %s <Lumory> <lumory_hello> [runs] [idle seconds]\n", argv[0]);
        return 2;
    }
    const int runs = args.size() > 3 ? std::max(1, args.at(3).toInt()) : 7;
    const int idleSeconds = args.size() > 4 ? std::max(1, args.at(4).toInt()) : 10;
    Probe probe;
    if (!probe.connect()) {
        std::fprintf(stderr, "no X display (DISPLAY=%s)\n", qgetenv("DISPLAY").constData());
        return 2;
    }
    const QString lumory = args.at(1), hello = args.at(2);
    const QStringList lumoryArgs{QStringLiteral("--simulate")};
    std::vector<Sample> lumorySamples, helloSamples;
    int failures = 0;
    for (int i = 0; i <= runs; ++i) {
        // Interleaved, the order alternating; run 0 warms the caches up.
        for (int k = 0; k < 2; ++k) {
            const bool isLumory = (i + k) % 2 == 0;
            Sample s;
            const bool ok = isLumory ? probe.run(lumory, lumoryArgs, true, idleSeconds, &s)
                                     : probe.run(hello, {}, false, idleSeconds, &s);
            if (!ok) {
                ++failures;
                continue;
            }
            if (i > 0)
                (isLumory ? lumorySamples : helloSamples).push_back(s);
        }
    }
    if (lumorySamples.empty() || helloSamples.empty()) {
        std::fprintf(stderr, "no complete run\n");
        return 1;
    }
    const struct
    {
        const char *name;
        const char *helloName;
        double Sample::*field;
        const char *unit;
    } figures[] = {
        {"idle_wakeups_per_s", "idle_wakeups_per_s_hello", &Sample::wakeupsPerS, "1/s"},
        {"idle_cpu_pct", "idle_cpu_pct_hello", &Sample::cpuPct, "%"},
        {"start_to_window_ms", "start_to_window_ms_hello", &Sample::windowMs, "ms"},
        {"start_to_loaded_ms", "start_to_loaded_ms_hello", &Sample::loadedMs, "ms"},
        {"peak_rss_mb", "peak_rss_mb_hello", &Sample::peakRssMb, "MB"},
    };
    for (const auto &f : figures) {
        std::vector<double> l, h;
        for (const Sample &s : lumorySamples)
            l.push_back(s.*f.field);
        for (const Sample &s : helloSamples)
            h.push_back(s.*f.field);
        figure(f.name, median(l), f.unit);
        figure(f.helloName, median(h), f.unit);
    }
    figure("lean_runs", double(std::min(lumorySamples.size(), helloSamples.size())), "count");
    if (failures)
        std::fprintf(stderr, "%d run(s) failed\n", failures);
    return failures ? 1 : 0;
}
