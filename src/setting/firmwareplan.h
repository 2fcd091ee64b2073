#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QVector>

// A firmware package is a directory of image files. Only regular files whose
// suffix, upper-cased, is "BIN" take part; the base name (up to the first
// dot) split at "_" must give at least four parts, and the first three decide
// the kind, case-sensitively:
//   hx_bt_app_*  Bluetooth application   key 1
//   hx_bt_sd_*   Bluetooth soft device   key 2
//   hx_usb_app_* USB application         key 3
// Images are written in ascending key order; the USB image is always last.
namespace FirmwarePlan {

enum Key : int
{
    BtApp = 1,
    BtSoftDevice = 2,
    UsbApp = 3,
};

// The Bluetooth module never receives the first 4096 bytes of a soft-device
// file, so such a file must be larger than that.
constexpr qint64 kSoftDeviceSkip = 4096;
// No image is larger than this. Three such images times 100 still fit the
// 32-bit percentage arithmetic.
constexpr qint64 kMaxImageSize = 4 * 1024 * 1024;
static_assert(3 * kMaxImageSize * 100 <= 0xFFFFFFFFll, "progress must fit 32 bits");

// The plan key of a file name (no directory), 0 when the file takes no part.
int keyOfFileName(const QString &fileName);

// The plan of a package directory, plan key -> file path. The directory is
// listed oldest file first, so of several files of one kind the newest wins.
// Empty when `dir` is not a directory or holds no image.
QMap<int, QString> scan(const QString &dir);

// Why a plan may not be sent.
enum class Refusal
{
    None,
    NotADirectory,      // `path` is empty, missing or no directory
    NoImage,            // the directory holds no image file
    Unreadable,         // `path` cannot be read; `detail` says why
    Empty,              // a USB or Bluetooth application image of 0 bytes
    SoftDeviceTooSmall, // a soft device of 4096 bytes or fewer
    TooLarge,           // larger than kMaxImageSize
};

struct Problem
{
    Refusal refusal = Refusal::None;
    QString path; // the package directory or the image file concerned
    qint64 size = 0;
    QString detail; // the system's reason for Unreadable

    // One sentence for the user naming the file; language 0 = Chinese,
    // 1 = English (the program's language numbers).
    QString message(int language) const;
};

struct Image
{
    int key = 0;
    QString path;
    QByteArray data; // the whole file, exactly as it will be sent
};

// Reads every image of `plan` and checks it. On success `images` holds them
// in writing order. On failure `images` is empty and `problem` names the
// first image that may not be sent; nothing of the plan may be sent then.
bool load(const QMap<int, QString> &plan, QVector<Image> *images, Problem *problem);

// scan() and load() for a package directory; an empty plan or a path that is
// no directory is refused as well.
bool prepare(const QString &dir, QVector<Image> *images, Problem *problem);

} // namespace FirmwarePlan

// One progress figure for a whole package: (bytes of the images before the
// current one + bytes of the current one) * 100 / package total, all 32-bit
// unsigned. The figure never goes backwards: a late report of an earlier
// image, or a repeated one, leaves it where it is.
class FirmwareProgress : public QObject
{
    Q_OBJECT

public:
    explicit FirmwareProgress(QObject *parent = nullptr);

    // Fixes the package: image sizes by plan key. Resets the figure to 0.
    void setPlan(const QVector<FirmwarePlan::Image> &images);
    void setPlan(const QMap<int, quint32> &sizes);

    // Image `key` has sent `sent` bytes of `size` (absolute counts of the
    // current image). Returns the figure, 0..100. Reports for an image not in
    // the plan are ignored.
    int report(int key, quint32 sent, quint32 size);
    // Image `key` has been written completely.
    int finishImage(int key);

    int percent() const { return m_percent; }
    // Sum of the sizes of all images of the plan.
    quint32 packageTotal() const { return m_total; }
    // Bytes of the images written before image `key`.
    quint32 offset(int key) const;

Q_SIGNALS:
    // The figure rose.
    void emitProgress(int percent);

private:
    QMap<int, quint32> m_sizes;
    quint32 m_total = 0;
    int m_percent = 0;
};

// The last firmware choice, config/temp/temp.xml beside the executable:
//   <TEMP><PATH filePath="..."/><DIR dirPath="..."/></TEMP>
namespace FirmwareTemp {

struct Paths
{
    QString filePath; // the panel's path field
    QString dirPath;  // start directory of the file chooser
};

// <configDir>/temp/temp.xml
QString defaultPath();

// Reads the file. A missing, empty or broken file leaves both paths empty; a
// broken one is reported as an unreadable data file and left as it is.
// Returns false when the file exists but cannot be used.
bool read(const QString &path, Paths *paths);

// The file's bytes for `paths`.
QByteArray format(const Paths &paths);

// Replaces the file atomically, creating its directory first. A broken file
// is kept beside it as "<path>.broken". On failure the old file stays and
// `error` says why.
bool write(const QString &path, const Paths &paths, QString *error = nullptr);

} // namespace FirmwareTemp
