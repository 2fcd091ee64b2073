#pragma once

#include <QString>
#include <QVector>

// What a key function does; stored as `control_type` in the function
// catalogue and as `hitype` in the shortcuts file.
enum ControlType
{
    E_SCT_NONE = 0,
    E_SCT_WEB = 1,     // open a web site (URL kept on the host)
    E_SCT_DOCAPP = 2,  // run a document or application (command line on the host)
    E_SCT_FOLDER = 3,  // open a folder (path on the host)
    E_SCT_LEDBRI = 4,  // LED brightness: first parameter = option index
    E_SCT_REPKEY = 5,  // replace key: nine keys in the entry
    E_SCT_LOCKKEY = 6, // lock key: nine keys in the entry
    E_SCT_MACRO = 7,   // play a macro: number and play count
    E_SCT_SWAP = 8,    // swap: two numbers 0-7
    E_SCT_VKB = 9,     // virtual keyboard window; function number is always 7
};

// One option of a catalogue function (an `item` of its hiN element).
struct HI
{
    QString name;
    int value = 0;
    QString nameZh; // Chinese name; `name` when empty
};

// One function of a board's function catalogue.
struct KF
{
    QString name;
    int hi = 0; // function number stored in the keyboard's entry
    bool enable = false;
    int control_type = E_SCT_NONE;
    QString tips;
    QVector<HI> options;
    QString nameZh; // Chinese name and tips; the English ones when empty
    QString tipsZh;
};

// Reads the function catalogue at `path` into `list` (cleared first).
// Returns -1 when the file cannot be opened or is not well-formed XML, 0
// otherwise. A broken file is reported to FileProblems and `list` keeps
// every function read before the error.
int parseKFXML(const QString &path, QVector<KF> *list);

// `control_type` of the first function whose `hi` is `hi`; a number the
// catalogue does not know counts as E_SCT_NONE.
int kfControlType(const QVector<KF> &list, int hi);
