#include "demomenu.h"

#include "simbus.h"

#include <QMenu>
#include <QTimer>

namespace sim {

namespace {
QString boardName(const SimKeyboard *keyboard)
{
    return QString::fromLatin1(keyboard->productName()).remove(QChar(0)).mid(1).trimmed() +
           QStringLiteral(" #") + QString::number(keyboard->index());
}
} // namespace

DemoMenu::DemoMenu(SimBus *bus, QWidget *parent) : QToolButton(parent), m_bus(bus)
{
    setObjectName(QStringLiteral("demoButton"));
    setText(QStringLiteral("DEMO"));
    setToolTip(QStringLiteral("Simulated keyboards: press keys on them"));
    setPopupMode(QToolButton::InstantPopup);
    setStyleSheet(QStringLiteral("QToolButton { color: #16181d; background: #46e6b7;"
                                 " border-radius: 6px; padding: 3px 10px; font-weight: 700; }"
                                 "QToolButton::menu-indicator { image: none; }"));
    auto *menu = new QMenu(this);
    menu->setStyleSheet(QStringLiteral(
        "QMenu { background: #22252d; color: #e8eaed; border: 1px solid #3a3f4b; padding: 4px; }"
        "QMenu::item { padding: 6px 24px 6px 14px; border-radius: 4px; }"
        "QMenu::item:selected { background: #2f3640; color: #46e6b7; }"
        "QMenu::item:disabled { color: #5c6370; }"));
    m_functions = menu->addMenu(QStringLiteral("Press a key function"));
    m_layers = menu->addMenu(QStringLiteral("Press the layer key"));
    m_type = menu->addAction(QStringLiteral("Type \"Hi\" (while a macro records)"));
    connect(m_type, &QAction::triggered, this, &DemoMenu::typeOnRecordingKeyboards);
    connect(menu, &QMenu::aboutToShow, this, [this] {
        bool recording = false;
        for (SimKeyboard *k : m_bus->keyboards())
            recording = recording || k->isRecordingMacro();
        m_type->setEnabled(recording);
    });
    connect(m_functions, &QMenu::aboutToShow, this, &DemoMenu::fillFunctions);
    connect(m_layers, &QMenu::aboutToShow, this, &DemoMenu::fillLayers);
    setMenu(menu);
}

void DemoMenu::fillFunctions()
{
    m_functions->clear();
    for (SimKeyboard *keyboard : m_bus->keyboards()) {
        for (int i = 0; i < keyboard->keyFunctionCount(); ++i) {
            const QByteArray entry = keyboard->keyFunction(i);
            if (entry.size() < 2 || !(uchar(entry[0]) & 0x40))
                continue;
            const int hi = ((uchar(entry[0]) | (uchar(entry[1]) << 8)) >> 7) & 0x3F;
            const QString label = QStringLiteral("%1: entry %2 (function %3)")
                                      .arg(boardName(keyboard))
                                      .arg(i)
                                      .arg(hi);
            const int index = keyboard->index();
            const Personality kind = keyboard->personality();
            connect(m_functions->addAction(label), &QAction::triggered, this,
                    [this, kind, index, i] {
                        // The keyboard may have been unplugged since the menu opened.
                        for (SimKeyboard *k : m_bus->keyboards()) {
                            if (k->personality() == kind && k->index() == index)
                                k->pressKeyFunction(i);
                        }
                    });
        }
    }
    if (m_functions->isEmpty())
        m_functions->addAction(QStringLiteral("No key function in use"))->setEnabled(false);
}

void DemoMenu::typeOnRecordingKeyboards()
{
    // Shift+H, then I, as a person types them.
    struct Step
    {
        uint8_t usage;
        bool down;
        int delayMs;
    };
    static const Step steps[] = {{0xE1, true, 0},   {0x0B, true, 120}, {0x0B, false, 90},
                                 {0xE1, false, 40}, {0x0C, true, 110}, {0x0C, false, 80}};
    int at = 0;
    for (const Step &step : steps) {
        at += step.delayMs;
        QTimer::singleShot(at, this, [this, step] {
            for (SimKeyboard *k : m_bus->keyboards()) {
                if (k->isRecordingMacro())
                    k->simulateKey(step.usage, step.down, uint16_t(step.delayMs));
            }
        });
    }
}

void DemoMenu::fillLayers()
{
    m_layers->clear();
    for (SimKeyboard *keyboard : m_bus->keyboards()) {
        for (int m = 0; m < keyboard->keyMapCount(); ++m) {
            const QString label = QStringLiteral("%1: key map %2").arg(boardName(keyboard)).arg(m);
            const int index = keyboard->index();
            const Personality kind = keyboard->personality();
            connect(m_layers->addAction(label), &QAction::triggered, this, [this, kind, index, m] {
                for (SimKeyboard *k : m_bus->keyboards()) {
                    if (k->personality() == kind && k->index() == index)
                        k->pressLayerKey(m);
                }
            });
        }
    }
    if (m_layers->isEmpty())
        m_layers->addAction(QStringLiteral("No keyboard"))->setEnabled(false);
}

} // namespace sim
