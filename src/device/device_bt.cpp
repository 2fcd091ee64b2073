// Device: the Bluetooth module's mode switches (dual-mode firmware update).
//
// Both switches are ordinary exchanges of the 0xB0/0xDF pass-through with a
// short deadline; the answer reaches us through the normal receive loop. A
// refusal or a missing answer is reported with UpdateError, posted to the
// event loop so that whatever the receiver shows never opens inside the
// caller's own stack.

#include "device/device.h"

#include "device/usb.h"

#include <QDebug>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace wk;

namespace {

QMutex s_btTimeoutLock;
Device::BtTimeouts s_btTimeouts;

} // namespace

void Device::setBtTimeouts(const BtTimeouts &timeouts)
{
    QMutexLocker lock(&s_btTimeoutLock);
    s_btTimeouts.switchMs = std::max(1, timeouts.switchMs);
    s_btTimeouts.eraseMs = std::max(1, timeouts.eraseMs);
    s_btTimeouts.answerMs = std::max(1, timeouts.answerMs);
    s_btTimeouts.handOverMs = std::max(1, timeouts.handOverMs);
    s_btTimeouts.readSliceMs = std::max(1, timeouts.readSliceMs);
}

Device::BtTimeouts Device::btTimeouts()
{
    QMutexLocker lock(&s_btTimeoutLock);
    return s_btTimeouts;
}

uint32_t Device::enterBtMcuDfu()
{
    return _bt_app_boot();
}

uint32_t Device::_bt_app_boot()
{
    return btModeSwitch(BT_OP_APP_TO_BOOT, "_bt_app_boot", "app_boot:");
}

uint32_t Device::_bt_boot_app()
{
    qDebug() << "_bt_boot_app";
    return btModeSwitch(BT_OP_BOOT_TO_APP, "_bt_boot_app", "App_boot:");
}

void Device::postUpdateError(int type, int code)
{
    QMetaObject::invokeMethod(
        this, [this, type, code] { emit UpdateError(type, code); }, Qt::QueuedConnection);
}

uint32_t Device::btModeSwitch(uint8_t op, const char *name, const char *answerLog)
{
    uint8_t record[kMaxPayload] = {};
    record[0] = op;
    record[2] = op;
    const uint16_t length = op == BT_OP_APP_TO_BOOT ? 16 : kMaxPayload;
    uint8_t answer[kReportSize] = {};
    // A failed write is waited out like a missing answer.
    const uint32_t e =
        exchange(CMD_BLUETOOTH, SUB_BT_DFU, record, length, 0, btTimeouts().switchMs, answer, true);
    if (e != WK_SUCCESS) {
        qWarning("WK_ERROR_TIMEOUT= %x %s", WK_ERROR_TIMEOUT, name);
        postUpdateError(kBtErrorTypeLink, kBtErrorTimeout);
        return WK_ERROR_TIMEOUT;
    }
    qDebug() << answerLog;
    for (int i = 0; i < kReportSize; ++i)
        std::printf("%02x ", answer[i]);
    std::printf("\n");
    std::fflush(stdout);
    if (answer[0] == CMD_BLUETOOTH && answer[8] == op && answer[9] == 1 && answer[12] == 0)
        return WK_SUCCESS;
    postUpdateError(answer[8], answer[12]);
    return WK_ERROR_WRITE;
}
