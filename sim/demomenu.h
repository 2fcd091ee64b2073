#pragma once

#include <QToolButton>

namespace sim {

class SimBus;

// The "Demo" button of the title bar in demo mode: does on the simulated
// keyboards what a user would do on real ones — press a key-function
// combination or the layer key — so that notifications can be tried out.
class DemoMenu : public QToolButton
{
    Q_OBJECT

public:
    DemoMenu(SimBus *bus, QWidget *parent = nullptr);

private:
    void fillFunctions();
    void fillLayers();
    void typeOnRecordingKeyboards();

    SimBus *m_bus = nullptr;
    QMenu *m_functions = nullptr;
    QMenu *m_layers = nullptr;
    QAction *m_type = nullptr;
};

} // namespace sim
