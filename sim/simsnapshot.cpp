#include "simsnapshot.h"

#include "simbus.h"

namespace sim {

namespace {

QByteArray number(qint64 n)
{
    return QByteArray::number(n);
}

} // namespace

StateSnapshot snapshot(const SimKeyboard *kb)
{
    StateSnapshot s;
    if (!kb)
        return s;
    auto put = [&s](const QString &name, int i, const QByteArray &bytes) {
        s.insert(i < 0 ? name : name + QString::number(i), bytes);
    };
    for (int m = 0; m < kb->keyMapCount(); ++m)
        put(QStringLiteral("keyMap"), m, kb->keyCodes(m));
    put(QStringLiteral("activeKeyMap"), -1, number(kb->currentKeyMap()));
    for (int m = 0; m < kb->colourMapCount(); ++m)
        put(QStringLiteral("colourMap"), m, kb->keyColours(m));
    put(QStringLiteral("activeColourMap"), -1, number(kb->currentColourMap()));
    for (int m = 0; m < kb->modeMapCount(); ++m)
        put(QStringLiteral("modeMap"), m, kb->modes(m));
    put(QStringLiteral("activeModeMap"), -1, number(kb->currentModeMap()));
    for (int i = 0; !kb->lightingRecord(i).isEmpty(); ++i)
        put(QStringLiteral("lighting"), i, kb->lightingRecord(i));
    for (int i = 0; i < kb->keyFunctionCount(); ++i)
        put(QStringLiteral("function"), i, kb->keyFunction(i));
    for (int i = 0; i < kb->macroSlotCount(); ++i) {
        put(QStringLiteral("macroHead"), i, kb->macroHead(i));
        put(QStringLiteral("macroFrames"), i, kb->macroFrames(i));
    }
    put(QStringLiteral("btName"), -1, kb->bluetoothName());
    put(QStringLiteral("sleepTime"), -1, number(kb->sleepTime()));
    put(QStringLiteral("scanSpeed"), -1, number(kb->scanSpeed()));
    put(QStringLiteral("nKey"), -1, number(kb->nKey()));
    put(QStringLiteral("userInfo"), -1, kb->userInfo());
    return s;
}

QStringList differences(const StateSnapshot &a, const StateSnapshot &b)
{
    QStringList out;
    for (auto it = a.begin(); it != a.end(); ++it) {
        if (!b.contains(it.key()) || b.value(it.key()) != it.value())
            out << it.key();
    }
    for (auto it = b.begin(); it != b.end(); ++it) {
        if (!a.contains(it.key()))
            out << it.key();
    }
    out.sort();
    return out;
}

} // namespace sim
