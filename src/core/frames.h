#pragma once

#include <QByteArray>
#include <QString>

// The two messages the console sends to the displays. Nothing is added:
// no terminator, no line end, no length.
namespace frames {

constexpr char kTimeMark = '\xC7';
constexpr quint16 kDisplayPort = 1024;
inline const QByteArray kRecoveryMark = QByteArrayLiteral("\xFE\xFF\x06");
inline const QString kBroadcastHost = QStringLiteral("255.255.255.255");
inline const QString kBlankTime = QStringLiteral("------");

// 0xC7 followed by the time text; its length follows the text.
QByteArray timeFrame(const QString &timeText);

// 0xFE 0xFF 0x06 followed by the entry's text, one UDP datagram.
QByteArray recoveryFrame(const QString &entryText);

} // namespace frames
