#include "setting/setting.h"

#include "device/checkusb.h"
#include "setting/firmware.h"
#include "setting/schedule.h"

#include "setting/Language.h"
#include "widget/data.h"
#include "widget/dialogs.h"

#include <QCheckBox>
#include <QDate>
#include <QDebug>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScopedValueRollback>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace {
constexpr int kMinSleepMinutes = 1;
constexpr int kMaxSleepMinutes = 180;
// Key steps of the sleep slider are sent once no key was pressed for this long.
constexpr int kSleepStepRestMs = 500;
constexpr int kMsPerMinute = 60000;
// The boot loader's vendor/product pair, watched when a keyboard waits in it.
constexpr uint16_t kLoaderVendorId = 0x0416;
constexpr uint16_t kLoaderProductId = 0xA316;
// How often the presence of the keyboard offered the update is checked.
constexpr int kCheckUsbPeriodMs = 500;

const char kPageStyle[] =
    "QWidget#settingPage { background: transparent; }"
    "QFrame[card=\"true\"] { background: #22252d; border: 1px solid #2c313a; border-radius: 10px; }"
    "QLabel { color: #c9ced8; font-size: 10pt; }"
    "QLabel[role=\"title\"] { color: #e8eaed; font-size: 12pt; font-weight: 600; }"
    "QLabel[role=\"value\"] { color: #46e6b7; font-size: 11pt; font-weight: 600; }"
    "QLabel[role=\"value\"]:disabled { color: #5c6370; }"
    "QLineEdit { background: #1b1d23; color: #e8eaed; border: 1px solid #3a3f4b;"
    "  border-radius: 6px; padding: 6px 8px; font-size: 10pt; }"
    "QLineEdit:focus { border-color: #46e6b7; }"
    "QPushButton { background: #2c313a; color: #e8eaed; border: 1px solid #3a3f4b;"
    "  border-radius: 6px; padding: 7px 16px; font-size: 10pt; }"
    "QPushButton:hover { border-color: #46e6b7; }"
    "QPushButton:disabled, QLineEdit:disabled { color: #5c6370; border-color: #2c313a; }"
    "QPushButton#factoryReset:hover { border-color: #e06c75; color: #e06c75; }"
    "QCheckBox { color: #c9ced8; font-size: 10pt; }"
    "QCheckBox:disabled { color: #5c6370; }"
    "QSlider::groove:horizontal { height: 6px; background: #3a3f4b; border-radius: 3px; }"
    "QSlider::sub-page:horizontal { background: #46e6b7; border-radius: 3px; }"
    "QSlider::sub-page:horizontal:disabled { background: #4b5160; }"
    "QSlider::handle:horizontal { background: #e8eaed; width: 16px; margin: -6px 0;"
    "  border-radius: 8px; }";

QFrame *card(QWidget *parent)
{
    auto *frame = new QFrame(parent);
    frame->setProperty("card", true);
    return frame;
}

QLabel *label(const QString &role, QWidget *parent)
{
    auto *l = new QLabel(parent);
    l->setProperty("role", role);
    return l;
}
} // namespace

QString releaseDateText(const QString &raw)
{
    QString text = raw;
    text.remove(QChar(0));
    text = text.trimmed();
    // yyyyMMdd and more digits (the keyboard sends the time after it), or
    // year, month and day separated by one of - / . (months and days may
    // have one digit) and perhaps a time.
    static const QRegularExpression digits(QStringLiteral("^(\\d{4})(\\d{2})(\\d{2})\\d*$"));
    static const QRegularExpression separated(
        QStringLiteral("^(\\d{4})([-/.])(\\d{1,2})\\2(\\d{1,2})(?:[ T].*)?$"));
    QRegularExpressionMatch match = digits.match(text);
    int month = 2; // capture groups: year 1, month, day after it
    if (!match.hasMatch()) {
        match = separated.match(text);
        month = 3;
    }
    if (match.hasMatch()) {
        const int year = match.captured(1).toInt();
        const QDate date(year, match.captured(month).toInt(), match.captured(month + 1).toInt());
        if (date.isValid() && year >= 1980 && year <= 2099)
            return date.toString(Qt::ISODate);
    }
    return text;
}

void WheelSafeSlider::wheelEvent(QWheelEvent *event)
{
    event->ignore();
}

QRect WheelSafeSlider::handleRect() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
}

void WheelSafeSlider::mousePressEvent(QMouseEvent *event)
{
    m_mouseHeld = true;
    QSlider::mousePressEvent(event);
}

void WheelSafeSlider::mouseReleaseEvent(QMouseEvent *event)
{
    QSlider::mouseReleaseEvent(event);
    if (event->buttons() == Qt::NoButton)
        endHold();
}

void WheelSafeSlider::keyPressEvent(QKeyEvent *event)
{
    // The first press of a key is a step of its own; its repeats are held.
    if (event->isAutoRepeat())
        m_keyRepeating = true;
    QSlider::keyPressEvent(event);
}

void WheelSafeSlider::keyReleaseEvent(QKeyEvent *event)
{
    QSlider::keyReleaseEvent(event);
    if (!event->isAutoRepeat())
        endHold();
}

void WheelSafeSlider::focusOutEvent(QFocusEvent *event)
{
    // A box or another window took the input: its release never comes here.
    QSlider::focusOutEvent(event);
    endHold();
}

void WheelSafeSlider::endHold()
{
    const bool held = m_mouseHeld || m_keyRepeating;
    m_mouseHeld = false;
    m_keyRepeating = false;
    if (held)
        Q_EMIT holdEnded();
}

QString Setting::versionText(uint16_t version)
{
    return QStringLiteral("V") + Data::versionString(version);
}

Setting::Setting(bool layoutEditor, QWidget *parent) : QWidget(parent), m_layoutEditor(layoutEditor)
{
    setObjectName(QStringLiteral("settingPage"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QLatin1String(kPageStyle));

    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(40, 28, 40, 28);
    page->setSpacing(18);

    // Product information.
    auto *info = card(this);
    auto *infoLayout = new QGridLayout(info);
    infoLayout->setContentsMargins(24, 18, 24, 18);
    infoLayout->setHorizontalSpacing(24);
    infoLayout->setVerticalSpacing(10);
    m_infoTitle = label(QStringLiteral("title"), info);
    infoLayout->addWidget(m_infoTitle, 0, 0, 1, 4);
    m_productCaption = label(QString(), info);
    m_firmwareCaption = label(QString(), info);
    m_hardwareCaption = label(QString(), info);
    m_dateCaption = label(QString(), info);
    m_product = label(QStringLiteral("value"), info);
    m_firmware = label(QStringLiteral("value"), info);
    m_hardware = label(QStringLiteral("value"), info);
    m_date = label(QStringLiteral("value"), info);
    m_product->setObjectName(QStringLiteral("productName"));
    m_firmware->setObjectName(QStringLiteral("firmwareVersion"));
    m_hardware->setObjectName(QStringLiteral("hardwareVersion"));
    m_date->setObjectName(QStringLiteral("releaseDate"));
    infoLayout->addWidget(m_productCaption, 1, 0);
    infoLayout->addWidget(m_product, 1, 1);
    infoLayout->addWidget(m_firmwareCaption, 1, 2);
    infoLayout->addWidget(m_firmware, 1, 3);
    infoLayout->addWidget(m_hardwareCaption, 2, 0);
    infoLayout->addWidget(m_hardware, 2, 1);
    infoLayout->addWidget(m_dateCaption, 2, 2);
    infoLayout->addWidget(m_date, 2, 3);
    infoLayout->setColumnStretch(1, 1);
    infoLayout->setColumnStretch(3, 1);
    page->addWidget(info);

    auto *row = new QHBoxLayout();
    row->setSpacing(18);

    // Bluetooth name.
    auto *bt = card(this);
    auto *btLayout = new QVBoxLayout(bt);
    btLayout->setContentsMargins(24, 18, 24, 18);
    m_btTitle = label(QStringLiteral("title"), bt);
    btLayout->addWidget(m_btTitle);
    m_btName = new QLineEdit(bt);
    m_btName->setObjectName(QStringLiteral("bluetoothName"));
    m_btName->setMaxLength(12);
    m_btName->setAttribute(Qt::WA_InputMethodEnabled, false);
    m_btName->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[^一-龥]+$")), m_btName));
    btLayout->addWidget(m_btName);
    m_btButton = new QPushButton(bt);
    m_btButton->setObjectName(QStringLiteral("bluetoothNameButton"));
    connect(m_btButton, &QPushButton::clicked, this, &Setting::bluetoothButtonClicked);
    connect(m_btName, &QLineEdit::returnPressed, this, &Setting::bluetoothButtonClicked);
    btLayout->addWidget(m_btButton, 0, Qt::AlignLeft);
    btLayout->addStretch(1);
    row->addWidget(bt, 1);

    // Automatic sleep.
    auto *sleep = card(this);
    auto *sleepLayout = new QVBoxLayout(sleep);
    sleepLayout->setContentsMargins(24, 18, 24, 18);
    m_sleepTitle = label(QStringLiteral("title"), sleep);
    sleepLayout->addWidget(m_sleepTitle);
    m_sleepEnabled = new QCheckBox(sleep);
    m_sleepEnabled->setObjectName(QStringLiteral("sleepEnabled"));
    sleepLayout->addWidget(m_sleepEnabled);
    auto *sliderRow = new QHBoxLayout();
    m_sleepSlider = new WheelSafeSlider(Qt::Horizontal, sleep);
    m_sleepSlider->setObjectName(QStringLiteral("sleepSlider"));
    m_sleepSlider->setRange(kMinSleepMinutes, kMaxSleepMinutes);
    m_sleepSlider->setEnabled(false);
    m_sleepSlider->setFocusPolicy(Qt::StrongFocus);
    sliderRow->addWidget(m_sleepSlider, 1);
    m_sleepValue = label(QStringLiteral("value"), sleep);
    m_sleepValue->setObjectName(QStringLiteral("sleepValue"));
    m_sleepValue->setMinimumWidth(90);
    sliderRow->addWidget(m_sleepValue);
    sleepLayout->addLayout(sliderRow);
    sleepLayout->addStretch(1);
    connect(m_sleepEnabled, &QCheckBox::clicked, this, &Setting::sleepEnabledClicked);
    connect(m_sleepSlider, &QSlider::valueChanged, this, &Setting::sleepValueChanged);
    connect(m_sleepSlider, &WheelSafeSlider::holdEnded, this, &Setting::sendSleepSlider);
    m_sleepSendTimer = new QTimer(this);
    m_sleepSendTimer->setSingleShot(true);
    m_sleepSendTimer->setInterval(kSleepStepRestMs);
    connect(m_sleepSendTimer, &QTimer::timeout, this, &Setting::sendSleepSlider);
    row->addWidget(sleep, 1);
    page->addLayout(row);

    // Factory reset, firmware, layout editor.
    auto *tools = card(this);
    auto *toolsLayout = new QHBoxLayout(tools);
    toolsLayout->setContentsMargins(24, 18, 24, 18);
    m_resetTitle = label(QStringLiteral("title"), tools);
    toolsLayout->addWidget(m_resetTitle);
    toolsLayout->addStretch(1);
    m_firmwareFrame = new QFrame(tools);
    m_firmwareFrame->setObjectName(QStringLiteral("firmwareFrame"));
    new QHBoxLayout(m_firmwareFrame);
    m_firmwareFrame->layout()->setContentsMargins(0, 0, 0, 0);
    toolsLayout->addWidget(m_firmwareFrame);
    m_layoutButton = new QPushButton(tools);
    m_layoutButton->setObjectName(QStringLiteral("layoutEditor"));
    m_layoutButton->setVisible(m_layoutEditor);
    connect(m_layoutButton, &QPushButton::clicked, this, &Setting::emitLayoutEditor);
    toolsLayout->addWidget(m_layoutButton);
    // A back-up beside factory reset: one click before the keyboard is wiped.
    m_backupButton = new QPushButton(tools);
    m_backupButton->setObjectName(QStringLiteral("settingBackup"));
    connect(m_backupButton, &QPushButton::clicked, this, &Setting::emitBackup);
    toolsLayout->addWidget(m_backupButton);
    m_resetButton = new QPushButton(tools);
    m_resetButton->setObjectName(QStringLiteral("factoryReset"));
    connect(m_resetButton, &QPushButton::clicked, this, &Setting::factoryResetClicked);
    toolsLayout->addWidget(m_resetButton);
    page->addWidget(tools);

    // Firmware update.
    m_firmwareCard = card(this);
    auto *firmwareLayout = new QHBoxLayout(m_firmwareCard);
    firmwareLayout->setContentsMargins(24, 14, 24, 14);
    m_firmwarePanel = new Firmware(m_firmwareCard);
    m_firmwarePanel->readFilePathXml();
    firmwareLayout->addWidget(m_firmwarePanel);
    page->addWidget(m_firmwareCard);
    connect(m_firmwarePanel, &Firmware::emitUpdateSure, this, &Setting::updateSureSlot);
    dfuModeSlot();
    page->addStretch(1);

    Language *language = Language::instance();
    SetLanguage(language ? language->getLangType() : Language::English);
    if (language)
        connect(language, &Language::LanguageChange, this, &Setting::SetLanguage);
    clearInformation();
}

void Setting::SetLanguage(int langType)
{
    m_langType = langType;
    const bool zh = langType == 0;
    m_infoTitle->setText(zh ? QStringLiteral("产品信息") : QStringLiteral("Product Information"));
    m_firmwarePanel->setLanguage(langType);
    m_productCaption->setText(zh ? QStringLiteral("产品名称") : QStringLiteral("Product"));
    m_firmwareCaption->setText(zh ? QStringLiteral("固件版本") : QStringLiteral("Firmware"));
    m_hardwareCaption->setText(zh ? QStringLiteral("硬件版本") : QStringLiteral("Hardware"));
    m_dateCaption->setText(zh ? QStringLiteral("发布日期") : QStringLiteral("Release Date"));
    m_btTitle->setText(zh ? QStringLiteral("蓝牙名称") : QStringLiteral("Bluetooth Name"));
    m_btName->setPlaceholderText(zh ? QStringLiteral("最多 12 个字符")
                                    : QStringLiteral("Up to 12 characters"));
    m_btButton->setText(zh ? QStringLiteral("设置蓝牙名称") : QStringLiteral("Set Bluetooth Name"));
    m_sleepTitle->setText(zh ? QStringLiteral("自动休眠") : QStringLiteral("Automatic Sleep"));
    m_sleepEnabled->setText(zh ? QStringLiteral("启用") : QStringLiteral("Enabled"));
    m_resetTitle->setText(zh ? QStringLiteral("设备") : QStringLiteral("Device"));
    m_resetButton->setText(zh ? QStringLiteral("恢复出厂设置")
                              : QStringLiteral("Restore Factory Settings"));
    m_backupButton->setText(zh ? QStringLiteral("备份键盘…") : QStringLiteral("Back up keyboard…"));
    m_layoutButton->setText(zh ? QStringLiteral("布局编辑器") : QStringLiteral("Layout Editor"));
    updateSleepValueText();
}

void Setting::updateSleepValueText()
{
    const QString suffix = m_langType == 0 ? QStringLiteral(" 分钟") : QStringLiteral("Minute");
    m_sleepValue->setText(QString::number(m_sleepSlider->value()) + suffix);
}

void Setting::setPorductInformation(const QString &product, const QString &firmware,
                                    const QString &hardware, const QString &date)
{
    m_product->setText(product);
    m_firmware->setText(firmware);
    m_hardware->setText(hardware);
    m_date->setText(date);
}

void Setting::setBluetoothName(const QString &name)
{
    m_btName->setText(name);
}

void Setting::setSleepTime(uint32_t currentMs, uint32_t lastMs)
{
    const QScopedValueRollback<bool> own(m_settingSleep, true);
    const int minutes = static_cast<int>(currentMs / kMsPerMinute);
    m_sentSleepMinutes = minutes;
    m_sleepEnabled->setChecked(minutes != 0);
    m_lastSleepMinutes = minutes != 0 ? minutes : static_cast<int>(lastMs / kMsPerMinute);
    m_sleepSlider->setValue(m_lastSleepMinutes);
    updateSleepEnabled();
    updateSleepValueText();
}

void Setting::dfuModeSlot()
{
    qDebug() << "create UI update the firmware.";
    m_firmwarePanel->show();
    m_firmwarePanel->setButton(false);
}

void Setting::intoUpdate(uint16_t vendorId, uint16_t productId)
{
    qDebug() << "into dfu update.....";
    setFirmwareAvailable(true);
    // A keyboard in its boot loader has no settings to back up.
    m_firmwarePanel->backupButton()->setEnabled(false);
    if (vendorId == 0 && productId == 0) {
        vendorId = kLoaderVendorId;
        productId = kLoaderProductId;
    }
    createCheckUSB(vendorId, productId);
}

void Setting::setFirmwareAvailable(bool available)
{
    if (m_updating)
        return; // the running update owns the panel
    // A loaded keyboard needs no presence watch (its unplug ends its session),
    // and without a keyboard there is nothing to watch: a watch runs only
    // while intoUpdate waits for a keyboard without session.
    deleteCheckUSB();
    m_firmwarePanel->setButton(available);
    if (available)
        m_firmwarePanel->schedule()->setReady();
}

void Setting::createCheckUSB(uint16_t vendorId, uint16_t productId)
{
    deleteCheckUSB();
    m_checkUsb = new CheckUSB(vendorId, productId, this);
    connect(m_checkUsb, &CheckUSB::emitDisconnect, this, &Setting::checkUSBDisconnectSlot);
    m_checkUsb->start(kCheckUsbPeriodMs);
}

void Setting::deleteCheckUSB()
{
    if (!m_checkUsb)
        return;
    m_checkUsb->stop();
    m_checkUsb->deleteLater();
    m_checkUsb = nullptr;
}

void Setting::checkUSBDisconnectSlot()
{
    qDebug() << "Check USB Disconnect slot.";
    deleteCheckUSB();
    m_firmwarePanel->setButton(false);
    cancelSlot();
    Q_EMIT emitStartScanDevice();
}

void Setting::updateSureSlot(const QString &path)
{
    qDebug() << "Update firmware sure slot.";
    deleteCheckUSB();
    m_updating = true;
    m_firmwarePanel->setButton(false);
    Q_EMIT emitModeDUF();
    setOtherCardsEnabled(false);
    Q_EMIT emitUpdateFU(path);
}

void Setting::UpdateProgressSlot(int percent)
{
    m_firmwarePanel->setFirmwareUpdateValue(percent);
}

void Setting::updateFinished()
{
    qDebug() << "Update firmware succeeded!";
    cancelSlot();
}

void Setting::updateErrorStop()
{
    qDebug() << "Update firmware error, recovery interface!";
    cancelSlot();
}

void Setting::cancelSlot()
{
    qDebug() << "cancel slot.";
    m_firmwarePanel->waitDfuOpenSlot(false);
    m_updating = false;
    setOtherCardsEnabled(true);
    Q_EMIT emitNuModeDUF();
}

void Setting::setOtherCardsEnabled(bool enabled)
{
    for (QFrame *frame : findChildren<QFrame *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (frame != m_firmwareCard && frame->property("card").toBool())
            frame->setEnabled(enabled);
    }
}

void Setting::setInformationEnabled(bool enabled)
{
    m_deviceControlsEnabled = enabled;
    m_btName->setEnabled(enabled);
    m_btButton->setEnabled(enabled);
    m_sleepEnabled->setEnabled(enabled);
    updateSleepEnabled();
    m_resetButton->setEnabled(enabled);
    m_backupButton->setEnabled(enabled);
    m_firmwareFrame->setEnabled(enabled);
    m_layoutButton->setEnabled(enabled);
    if (enabled)
        m_layoutButton->setVisible(m_layoutEditor);
}

void Setting::updateSleepEnabled()
{
    // The value is greyed with the slider: auto sleep off or no keyboard.
    const bool on = m_deviceControlsEnabled && m_sleepEnabled->isChecked();
    m_sleepSlider->setEnabled(on);
    m_sleepValue->setEnabled(on);
}

void Setting::clearInformation()
{
    qDebug() << "Setting clear Information;";
    const QString none = QStringLiteral("None");
    setPorductInformation(none, none, none, none);
    m_btName->clear();
    setInformationEnabled(false);
    m_layoutButton->hide(); // the editor checks layouts against the keyboard that was open
}

QString Setting::productText() const
{
    return m_product->text();
}

QString Setting::firmwareText() const
{
    return m_firmware->text();
}

QString Setting::hardwareText() const
{
    return m_hardware->text();
}

QString Setting::dateText() const
{
    return m_date->text();
}

void Setting::bluetoothButtonClicked()
{
    const QString name = m_btName->text();
    if (name.isEmpty()) {
        qDebug() << "The Bluetooth Name invalid!";
        return;
    }
    Q_EMIT emitBluetoothName(name);
}

void Setting::sleepEnabledClicked(bool checked)
{
    updateSleepEnabled();
    m_lastSleepMinutes = checked ? m_sleepSlider->value() : 0;
    m_sentSleepMinutes = m_lastSleepMinutes;
    Q_EMIT emitSleepTime(m_lastSleepMinutes);
}

void Setting::sleepValueChanged()
{
    updateSleepValueText();
    // Key steps are sent once the keys rest, so a few quick presses make one
    // write (and one result box); a drag, a click or a held key when it ends
    // (holdEnded); the page's own moves never.
    if (!m_settingSleep && !m_sleepSlider->isHeld())
        m_sleepSendTimer->start();
}

void Setting::sendSleepSlider()
{
    m_sleepSendTimer->stop();
    if (!m_deviceControlsEnabled || !m_sleepEnabled->isChecked())
        return;
    const int minutes = m_sleepSlider->value();
    m_lastSleepMinutes = minutes;
    if (minutes == m_sentSleepMinutes)
        return; // moved and back again, or a click on the handle
    m_sentSleepMinutes = minutes;
    Q_EMIT emitSleepTime(minutes);
}

void Setting::factoryResetClicked()
{
    const bool zh = m_langType == 0;
    Dialogs::MessageRequest request;
    request.icon = QMessageBox::Warning;
    request.title = zh ? QStringLiteral("警告") : QStringLiteral("Warning");
    request.text = zh ? QStringLiteral(" 确定恢复出厂设置？ ")
                      : QStringLiteral(" Are you sure to restore factory Settings? ");
    request.customButtons = zh ? QStringList{QStringLiteral("确定"), QStringLiteral("取消")}
                               : QStringList{QStringLiteral("Ok"), QStringLiteral("Cancel")};
    request.defaultCustomButton = 1;
    const int reply = Dialogs::message(this, request);
    // The box ran an event loop: the keyboard may have gone (the page then
    // shows no keyboard) or Exit may have released the page.
    if (Dialogs::isReleased(this) || !m_deviceControlsEnabled) {
        qDebug() << "factory reset: the keyboard or the page went away meanwhile";
        return;
    }
    if (reply == 0) {
        qDebug() << "reply="
                 << "OK";
        Q_EMIT emitFactoryReset();
    } else {
        qDebug() << "reply="
                 << "NO";
    }
}
