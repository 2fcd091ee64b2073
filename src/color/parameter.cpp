#include "color/parameter.h"

#include "device/device.h"
#include "device/wirerecords.h"
#include "main/apppaths.h"
#include "widget/dialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDebug>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

// A numeric edit that only ever holds a number of its range: text that is not
// one reverts to the last accepted number when editing ends.
class NumberEdit : public QLineEdit
{
public:
    NumberEdit(int min, int max, int value, QWidget *parent)
        : QLineEdit(QString::number(value), parent), m_min(min), m_max(max), m_accepted(value)
    {
        setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("[0-9]{0,5}")), this));
        setPlaceholderText(QStringLiteral("[%1,%2]").arg(min).arg(max));
        connect(this, &QLineEdit::editingFinished, this, &NumberEdit::commit);
    }

    // Takes the text when it is a number of the range, otherwise reverts it.
    void commit()
    {
        ModeRules::acceptedNumber(text(), m_min, m_max, &m_accepted);
        const QString accepted = QString::number(m_accepted);
        if (text() != accepted)
            setText(accepted);
    }
    // A value outside the range leaves the edit as it is.
    void setValue(int value)
    {
        if (value < m_min || value > m_max)
            return;
        m_accepted = value;
        setText(QString::number(value));
    }
    int value() const { return m_accepted; }

protected:
    void focusOutEvent(QFocusEvent *event) override
    {
        QLineEdit::focusOutEvent(event);
        commit();
    }

private:
    int m_min;
    int m_max;
    int m_accepted;
};

namespace {

constexpr int kShadow = 10; // width of the drawn shadow around the panel
constexpr int kRadius = 8;  // corner radius of the panel
constexpr int kTitleHeight = 40;

struct Caption
{
    const char *objectName;
    const char *english;
    const char *chinese;
};

// Row captions, in the order of Parameter::m_labels.
const Caption kCaptions[] = {
    {"ledActionLabel", "LED Action", "灯效动作"},
    {"totalPeriodTimesLabel", "Total Period Timers", "周期次数"},
    {"highestLevelLabel", "Highest Level", "最高亮度"},
    {"lowestLevelLabel", "Lowest Level", "最低亮度"},
    {"levelStepLabel", "Level Step", "亮度步进"},
    {"stepDelayLabel", "Step Delay", "步进延时"},
    {"highestDelayLabel", "Highest Delay", "最亮停留"},
    {"periodDelayLabel", "Period Delay", "周期间隔"},
    {"brightnessDirectionLabel", "Brightness Direction", "亮度方向"},
};
enum CaptionIndex
{
    CapAction,
    CapTotalPeriod,
    CapHighest,
    CapLowest,
    CapStep,
    CapStepDelay,
    CapHighestDelay,
    CapPeriodDelay,
    CapDirection
};

const char kDialogStyle[] =
    "QLabel { color: #c9ced8; font-size: 10pt; }"
    "QLabel#parameterTitle { color: #e8eaed; font-size: 12pt; font-weight: 600; }"
    "QLabel[role=\"value\"] { color: #46e6b7; font-weight: 600; min-width: 36px; }"
    "QLineEdit, QComboBox { background: #1b1d23; color: #e8eaed; border: 1px solid #3a3f4b;"
    "  border-radius: 6px; padding: 4px 8px; font-size: 10pt; }"
    "QLineEdit:focus, QComboBox:focus { border-color: #46e6b7; }"
    "QLineEdit:disabled { color: #5c6370; border-color: #2c313a; }"
    "QComboBox QAbstractItemView { background: #1b1d23; color: #e8eaed;"
    "  selection-background-color: #46e6b7; selection-color: #16181d; }"
    "QCheckBox, QRadioButton { color: #c9ced8; font-size: 10pt; }"
    "QPushButton { background: #2c313a; color: #e8eaed; border: 1px solid #3a3f4b;"
    "  border-radius: 6px; padding: 6px 18px; font-size: 10pt; }"
    "QPushButton:hover { border-color: #46e6b7; }"
    "QPushButton:pressed { background: #46e6b7; color: #16181d; }"
    "QPushButton#parameterClose { background: transparent; border: none; color: #9aa3b2;"
    "  font-size: 14pt; padding: 0px 6px; }"
    "QPushButton#parameterClose:hover { color: #e06c75; }"
    "QSlider::groove:horizontal { height: 6px; background: #3a3f4b; border-radius: 3px; }"
    "QSlider::sub-page:horizontal { background: #46e6b7; border-radius: 3px; }"
    "QSlider::handle:horizontal { background: #e8eaed; width: 14px; margin: -5px 0;"
    "  border-radius: 7px; }";

QSlider *slider(const char *name, int min, int max, int value, QWidget *parent)
{
    auto *s = new QSlider(Qt::Horizontal, parent);
    s->setObjectName(QLatin1String(name));
    s->setRange(min, max);
    s->setValue(value);
    s->setMinimumWidth(220);
    return s;
}

// Values from a record or preset that the slider cannot show leave it as it is.
void setIfInRange(QSlider *s, int value)
{
    if (value >= s->minimum() && value <= s->maximum())
        s->setValue(value);
}

} // namespace

Parameter::Parameter(QWidget *parent, Device *device, int n)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_device(device), m_n(n)
{
    setObjectName(QStringLiteral("parameterDialog"));
    setModal(false);
    // An opaque window: the shadow is painted inside its edge, so it looks the
    // same with or without a compositor.
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0x14, 0x16, 0x1b));
    setPalette(pal);
    setStyleSheet(QLatin1String(kDialogStyle));

    buildControls();
    m_presets = initComboBoxData(AppPaths::configDir() + QStringLiteral("modeParameter.xml"));
    for (const ModePreset &p : qAsConst(m_presets))
        m_action->addItem(p.text);
    const la_t *record = m_device ? m_device->laRecord(m_n) : nullptr;
    // An effect the list does not hold leaves no entry chosen; "Apply" then
    // keeps the record's effect.
    m_action->setCurrentIndex(record && record->effect() < m_action->count() ? record->effect()
                                                                             : -1);
    connect(m_action, QOverload<int>::of(&QComboBox::activated), this,
            &Parameter::comboboxChangedMode);
    readDeviceData();
    SetLanguage(m_langType);
}

void Parameter::buildControls()
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(kShadow + 16, kShadow + 4, kShadow + 16, kShadow + 16);
    outer->setSpacing(10);

    auto *titleRow = new QHBoxLayout;
    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("parameterTitle"));
    m_title->setMinimumHeight(kTitleHeight - 8);
    m_closeButton = new QPushButton(QStringLiteral("\u00D7"), this);
    m_closeButton->setObjectName(QStringLiteral("parameterClose"));
    m_closeButton->setCursor(Qt::PointingHandCursor);
    m_closeButton->setFocusPolicy(Qt::NoFocus);
    connect(m_closeButton, &QPushButton::clicked, this, &Parameter::emitClose);
    titleRow->addWidget(m_title, 1);
    titleRow->addWidget(m_closeButton);
    outer->addLayout(titleRow);

    for (const Caption &c : kCaptions) {
        auto *l = new QLabel(this);
        l->setObjectName(QLatin1String(c.objectName));
        m_labels.append(l);
    }
    auto valueLabel = [this](const char *name) {
        auto *l = new QLabel(this);
        l->setObjectName(QLatin1String(name));
        l->setProperty("role", QStringLiteral("value"));
        return l;
    };

    m_action = new QComboBox(this);
    m_action->setObjectName(QStringLiteral("ledAction"));
    m_cycleFlag = new QCheckBox(this);
    m_cycleFlag->setObjectName(QStringLiteral("cycleFlag"));
    m_totalPeriod = new NumberEdit(ModeRules::kMinPeriodTimes, ModeRules::kMaxPeriodTimes, 1, this);
    m_totalPeriod->setObjectName(QStringLiteral("totalPeriodTimes"));
    connect(m_cycleFlag, &QCheckBox::toggled, m_totalPeriod, &QWidget::setDisabled);
    m_colourRandom = new QCheckBox(this);
    m_colourRandom->setObjectName(QStringLiteral("colorRandom"));
    m_randomOnPress = new QCheckBox(this);
    m_randomOnPress->setObjectName(QStringLiteral("randomColorWhenKeypress"));

    using ModeRules::kMaxLevel;
    m_highest = slider("highestLevel", 0, kMaxLevel, kMaxLevel, this);
    m_lowest = slider("lowestLevel", 0, kMaxLevel, kMaxLevel, this);
    m_step = slider("levelStep", 0, 0, 0, this);
    m_stepDelay = slider("stepDelay", 0, ModeRules::kMaxLevelDelay, 20, this);
    m_highestValue = valueLabel("highestLevelValue");
    m_lowestValue = valueLabel("lowestLevelValue");
    m_stepValue = valueLabel("levelStepValue");
    m_stepDelayValue = valueLabel("stepDelayValue");
    connect(m_highest, &QSlider::valueChanged, this, &Parameter::highestLevelMoved);
    connect(m_lowest, &QSlider::valueChanged, this, &Parameter::lowestLevelMoved);
    connect(m_step, &QSlider::valueChanged, this, &Parameter::updateValueLabels);
    connect(m_stepDelay, &QSlider::valueChanged, this, &Parameter::updateValueLabels);

    m_highestDelay = new NumberEdit(0, ModeRules::kMaxDelayMs, 0, this);
    m_highestDelay->setObjectName(QStringLiteral("highestDelay"));
    m_periodDelay = new NumberEdit(0, ModeRules::kMaxDelayMs, 0, this);
    m_periodDelay->setObjectName(QStringLiteral("periodDelay"));

    m_l2h = new QRadioButton(this);
    m_l2h->setObjectName(QStringLiteral("l2h"));
    m_h2l = new QRadioButton(this);
    m_h2l->setObjectName(QStringLiteral("h2l"));
    m_direction = new QButtonGroup(this);
    m_direction->setExclusive(true);
    m_direction->addButton(m_l2h);
    m_direction->addButton(m_h2l);
    m_l2h->setChecked(true);

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(10);
    int row = 0;
    grid->addWidget(m_labels[CapAction], row, 0);
    grid->addWidget(m_action, row++, 1, 1, 2);
    grid->addWidget(m_cycleFlag, row++, 0, 1, 3);
    grid->addWidget(m_labels[CapTotalPeriod], row, 0);
    grid->addWidget(m_totalPeriod, row++, 1, 1, 2);
    grid->addWidget(m_colourRandom, row, 0);
    grid->addWidget(m_randomOnPress, row++, 1, 1, 2);
    const std::pair<QSlider *, QLabel *> sliders[] = {{m_highest, m_highestValue},
                                                      {m_lowest, m_lowestValue},
                                                      {m_step, m_stepValue},
                                                      {m_stepDelay, m_stepDelayValue}};
    int caption = CapHighest;
    for (const auto &s : sliders) {
        grid->addWidget(m_labels[caption++], row, 0);
        grid->addWidget(s.first, row, 1);
        grid->addWidget(s.second, row++, 2);
    }
    for (NumberEdit *edit : {m_highestDelay, m_periodDelay}) {
        grid->addWidget(m_labels[caption++], row, 0);
        grid->addWidget(edit, row, 1);
        grid->addWidget(new QLabel(QStringLiteral("ms"), this), row++, 2);
    }
    auto *directionRow = new QHBoxLayout;
    directionRow->addWidget(m_l2h);
    directionRow->addWidget(m_h2l);
    directionRow->addStretch(1);
    grid->addWidget(m_labels[CapDirection], row, 0);
    grid->addLayout(directionRow, row++, 1, 1, 2);
    outer->addLayout(grid);

    m_apply = new QPushButton(this);
    m_apply->setObjectName(QStringLiteral("apply"));
    m_apply->setDefault(true);
    connect(m_apply, &QPushButton::clicked, this, &Parameter::downloadData);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_apply);
    outer->addLayout(buttons);
    updateValueLabels();
}

void Parameter::SetLanguage(int langType)
{
    m_langType = langType;
    const bool zh = langType == 0;
    auto text = [zh](const char *en, const char *cn) {
        return zh ? QString::fromUtf8(cn) : QString::fromLatin1(en);
    };
    m_title->setText(
        (zh ? QStringLiteral("灯效模式 M%1 参数") : QStringLiteral("LED Mode M%1")).arg(m_n));
    setWindowTitle(m_title->text());
    for (int i = 0; i < m_labels.size(); ++i)
        m_labels[i]->setText(text(kCaptions[i].english, kCaptions[i].chinese));
    m_cycleFlag->setText(text("Cycle Flag", "无限循环"));
    m_colourRandom->setText(text("Color Random", "随机颜色"));
    m_randomOnPress->setText(text("Random color when keypress", "按键时随机颜色"));
    m_l2h->setText(text("L2H", "由暗到亮 L2H"));
    m_h2l->setText(text("H2L", "由亮到暗 H2L"));
    m_apply->setText(text("Apply", "应用"));
    m_closeButton->setToolTip(text("Close", "关闭"));
}

void Parameter::highestLevelMoved(int value)
{
    m_lowest->setMaximum(value);
    m_step->setMaximum(value - m_lowest->value());
    updateValueLabels();
}

void Parameter::lowestLevelMoved(int value)
{
    m_highest->setMinimum(value);
    m_step->setMaximum(m_highest->value() - value);
    updateValueLabels();
}

void Parameter::updateValueLabels()
{
    m_highestValue->setNum(m_highest->value());
    m_lowestValue->setNum(m_lowest->value());
    m_stepValue->setNum(m_step->value());
    m_stepDelayValue->setNum(m_stepDelay->value());
}

void Parameter::fillControls(const ModeSettings &s)
{
    m_cycleFlag->setChecked(s.cycleFlag);
    m_totalPeriod->setValue(s.totalPeriodTimes);
    m_colourRandom->setChecked(s.colourRandom);
    m_randomOnPress->setChecked(s.randomColourOnPress);
    {
        // Ranges first, then values: the level step's range depends on both
        // levels, and a value set before its range would be clamped.
        const QSignalBlocker blockHighest(m_highest);
        const QSignalBlocker blockLowest(m_lowest);
        const QSignalBlocker blockStep(m_step);
        m_highest->setRange(0, ModeRules::kMaxLevel);
        setIfInRange(m_highest, s.highestLevel);
        m_lowest->setRange(0, m_highest->value());
        setIfInRange(m_lowest, s.lowestLevel);
        m_highest->setMinimum(m_lowest->value());
        m_step->setRange(0, m_highest->value() - m_lowest->value());
        setIfInRange(m_step, s.levelStep);
    }
    setIfInRange(m_stepDelay, s.levelDelay);
    (s.highToLow ? m_h2l : m_l2h)->setChecked(true);
    m_highestDelay->setValue(s.highestDelay);
    m_periodDelay->setValue(s.periodDelay);
    updateValueLabels();
}

ModeSettings Parameter::currentSettings() const
{
    ModeSettings s;
    s.cycleFlag = m_cycleFlag->isChecked();
    s.totalPeriodTimes = m_totalPeriod->value();
    s.colourRandom = m_colourRandom->isChecked();
    s.randomColourOnPress = m_randomOnPress->isChecked();
    s.highestLevel = m_highest->value();
    s.lowestLevel = m_lowest->value();
    s.levelStep = m_step->value();
    s.levelDelay = m_stepDelay->value();
    s.highToLow = !m_l2h->isChecked();
    s.highestDelay = m_highestDelay->value();
    s.periodDelay = m_periodDelay->value();
    return s;
}

void Parameter::readDeviceData()
{
    const la_t *record = m_device ? m_device->laRecord(m_n) : nullptr;
    if (!record) {
        qWarning() << "parameter dialog: no lighting record" << m_n;
        return;
    }
    fillControls(ModeRules::settingsOf(*record));
}

void Parameter::readModeData(int presetIndex)
{
    if (presetIndex < 0 || presetIndex >= m_presets.size())
        return;
    fillControls(ModeRules::settingsOf(m_presets.at(presetIndex)));
}

void Parameter::comboboxChangedMode(int index)
{
    readModeData(ModeRules::presetForEffect(m_presets, index));
}

void Parameter::downloadData()
{
    for (NumberEdit *edit : {m_totalPeriod, m_highestDelay, m_periodDelay})
        edit->commit();
    la_t *own = m_device ? m_device->laRecord(m_n) : nullptr;
    if (!own) {
        qWarning() << "parameter dialog: the keyboard has no lighting record" << m_n;
        return;
    }
    const ModeSettings s = currentSettings();
    const int effect = m_action->currentIndex();
    qDebug().nospace() << "------------------DOWNLOAD DATA: LED Mode M" << m_n
                       << "-------------------.";
    qDebug().nospace() << "id= " << m_n;
    qDebug() << "combobox index  =" << effect;
    qDebug().nospace() << "cycle flag : " << int(s.cycleFlag);
    qDebug().nospace() << "Total Period Times = " << s.totalPeriodTimes;
    qDebug().nospace() << "Color Random : " << int(s.colourRandom);
    qDebug().nospace() << "Random Color when keypress : " << int(s.randomColourOnPress);
    qDebug().nospace() << "Highest Level = " << s.highestLevel;
    qDebug().nospace() << "Lowest Level  = " << s.lowestLevel;
    qDebug().nospace() << "Level Step    = " << s.levelStep;
    qDebug().nospace() << "Level Delay   = " << s.levelDelay;
    qDebug().nospace() << "Brightness Direction: L2H = " << int(m_l2h->isChecked())
                       << ", H2L = " << int(m_h2l->isChecked());
    qDebug().nospace() << "Highest Delay = " << s.highestDelay;
    qDebug().nospace() << "Perlod Delay  = " << s.periodDelay;

    la_t record = *own;
    ModeRules::apply(&record, m_n, effect, s);
    const KeyboardEdit edit = KeyboardEdit::modeRecord(m_device, record);
    // The device model takes the record once the keyboard has accepted it.
    const uint32_t status = m_device->setLAItem(&record);
    if (status == WK_SUCCESS) {
        emit emitApplied(edit);
        // The owner deletes the dialog on emitClose(): nothing may follow it.
        emit emitClose();
        return;
    }
    const bool zh = m_langType == 0;
    Dialogs::critical(
        this, tr("ErrorCode"),
        (zh ? QStringLiteral("键盘没有接受模式 M%1 的参数：<font color='red'>%2</font>")
            : QStringLiteral("The keyboard did not take the parameters of mode M%1: "
                             "<font color='red'>%2</font>"))
            .arg(m_n)
            .arg(QStringLiteral("0x") + QString::number(status, 16)),
        QMessageBox::Ok);
    // The box ran an event loop: the keyboard or this dialog may be gone.
    if (Dialogs::isReleased(this))
        return;
    raise();
}

void Parameter::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), QColor(0x14, 0x16, 0x1b));
    // A soft shadow: rings growing darker towards the panel.
    const QRectF panel = QRectF(rect()).adjusted(kShadow, kShadow, -kShadow, -kShadow);
    for (int i = kShadow; i > 0; --i) {
        QColor c(0, 0, 0, 10 + (kShadow - i) * 8);
        p.setPen(QPen(c, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(panel.adjusted(-i, -i, i, i), kRadius + i, kRadius + i);
    }
    p.setPen(QPen(QColor(0x3a, 0x3f, 0x4b), 1));
    p.setBrush(QColor(0x22, 0x25, 0x2d));
    p.drawRoundedRect(panel.adjusted(0.5, 0.5, -0.5, -0.5), kRadius, kRadius);
    // The title bar's separator.
    p.setPen(QPen(QColor(0x2c, 0x31, 0x3a), 1));
    const qreal y = panel.top() + kTitleHeight;
    p.drawLine(QPointF(panel.left() + 1, y), QPointF(panel.right() - 1, y));
}

void Parameter::mousePressEvent(QMouseEvent *event)
{
    // The title bar moves the frameless window.
    if (event->button() == Qt::LeftButton && event->pos().y() < kShadow + kTitleHeight) {
        m_dragging = true;
        m_dragOffset = event->globalPos() - frameGeometry().topLeft();
        event->accept();
        return;
    }
    QDialog::mousePressEvent(event);
}

void Parameter::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPos() - m_dragOffset);
        event->accept();
        return;
    }
    QDialog::mouseMoveEvent(event);
}

void Parameter::mouseReleaseEvent(QMouseEvent *event)
{
    m_dragging = false;
    QDialog::mouseReleaseEvent(event);
}

void Parameter::closeEvent(QCloseEvent *event)
{
    event->accept();
    emit emitClose();
}

void Parameter::reject()
{
    // Escape: the owner closes and deletes the dialog.
    emit emitClose();
}
