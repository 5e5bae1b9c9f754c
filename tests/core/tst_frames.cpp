#include "core/ansi.h"
#include "core/frames.h"

#include <QtTest>

class TestFrames : public QObject
{
    Q_OBJECT
private slots:
    void timeFrame_data();
    void timeFrame();
    void recoveryFrame_data();
    void recoveryFrame();
    void encode_data();
    void encode();
    void decode_data();
    void decode();
    void roundTripsEveryByte();
};

void TestFrames::timeFrame_data()
{
    QTest::addColumn<QString>("timeText");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("zero-blank") << "------" << QByteArray::fromHex("C72D2D2D2D2D2D");
    QTest::newRow("one-second") << "000001" << QByteArray::fromHex("C7303030303031");
    QTest::newRow("mixed") << "010530" << QByteArray::fromHex("C7303130353330");
    QTest::newRow("day-end") << "235959" << QByteArray::fromHex("C7323335393539");
    // The text is neither checked nor cut: a seven-character text makes eight bytes.
    QTest::newRow("negative-hours") << "-050000" << QByteArray::fromHex("C72D303530303030");
}

void TestFrames::timeFrame()
{
    QFETCH(QString, timeText);
    QFETCH(QByteArray, bytes);
    const QByteArray frame = frames::timeFrame(timeText);
    QCOMPARE(frame.toHex(' '), bytes.toHex(' '));
    QCOMPARE(frame.size(), 1 + timeText.size()); // the mark is one byte, never two
    QVERIFY(!frame.contains('\r'));
    QVERIFY(!frame.contains('\n'));
}

void TestFrames::recoveryFrame_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("documentation-address")
        << "192.0.2.10" << QByteArray::fromHex("FEFF063139322E302E322E3130");
    QTest::newRow("shortest-address") << "1.2.3.4" << QByteArray::fromHex("FEFF06312E322E332E34");
    QTest::newRow("empty-entry") << "" << QByteArray::fromHex("FEFF06");
    QTest::newRow("non-ascii-entry")
        << QString::fromUtf8("h\xC3\xA9") << QByteArray::fromHex("FEFF0668E9");
}

void TestFrames::recoveryFrame()
{
    QFETCH(QString, entry);
    QFETCH(QByteArray, bytes);
    const QByteArray frame = frames::recoveryFrame(entry);
    QCOMPARE(frame.toHex(' '), bytes.toHex(' '));
    QVERIFY(!frame.contains('\r'));
    QVERIFY(!frame.contains('\n'));
}

void TestFrames::encode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ascii") << "AZ09-." << QByteArray("AZ09-.");
    QTest::newRow("e-acute") << QString(QChar(0x00E9)) << QByteArray("\xE9");
    QTest::newRow("euro") << QString(QChar(0x20AC)) << QByteArray("\x80");
    QTest::newRow("time-mark") << QString(QChar(0x00C7)) << QByteArray("\xC7");
    QTest::newRow("recovery-marks")
        << QString::fromUtf16(u"\u00FE\u00FF\u0006") << QByteArray("\xFE\xFF\x06");
    QTest::newRow("y-diaeresis-upper") << QString(QChar(0x0178)) << QByteArray("\x9F");
    QTest::newRow("right-quote") << QString(QChar(0x2019)) << QByteArray("\x92");
    QTest::newRow("outside-code-page") << QString(QChar(0x0416)) << QByteArray("?");
    QTest::newRow("latin1-c1-euro-slot") << QString(QChar(0x0080)) << QByteArray("?");
    QTest::newRow("undefined-slot-kept") << QString(QChar(0x0081)) << QByteArray("\x81");
    QTest::newRow("surrogate-pair-one-char")
        << QString::fromUtf16(u"a\U0001F600b") << QByteArray("a?b");
    QTest::newRow("lone-surrogate") << QString(QChar(0xD800)) << QByteArray("?");
    QTest::newRow("nul-kept") << QString(QChar(0)) << QByteArray(1, '\0');
}

void TestFrames::encode()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(ansi::encode(text).toHex(' '), bytes.toHex(' '));
}

void TestFrames::decode_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("ascii") << QByteArray("192.0.2.10") << "192.0.2.10";
    QTest::newRow("e-acute") << QByteArray("\xE9") << QString(QChar(0x00E9));
    QTest::newRow("euro") << QByteArray("\x80") << QString(QChar(0x20AC));
    QTest::newRow("trademark") << QByteArray("\x99") << QString(QChar(0x2122));
    QTest::newRow("undefined-slot") << QByteArray("\x8D") << QString(QChar(0x008D));
    QTest::newRow("y-diaeresis") << QByteArray("\xFF") << QString(QChar(0x00FF));
    // Bytes that would form UTF-8 stay two characters.
    QTest::newRow("not-utf8") << QByteArray("\xC3\xA9") << QString::fromUtf16(u"\u00C3\u00A9");
}

void TestFrames::decode()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(ansi::decode(bytes), text);
}

void TestFrames::roundTripsEveryByte()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));
    const QString text = ansi::decode(all);
    QCOMPARE(text.size(), 256);
    QCOMPARE(ansi::encode(text).toHex(), all.toHex());
}

QTEST_GUILESS_MAIN(TestFrames)
#include "tst_frames.moc"
