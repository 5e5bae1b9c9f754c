#include "simulator/framereader.h"

#include <QtTest>

// Marker bytes before digits are octal escapes ("\307" is 0xC7): an octal
// escape ends after three digits, so the digits can follow in one literal.

// An empty chunk stands for a quiet pause: the reader is flushed there.
class TestFrameReader : public QObject
{
    Q_OBJECT

private slots:
    void frames_data()
    {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QStringList>("expected");

        const QByteArray m("\xC7");
        const QByteArray flush;
        QTest::newRow("one-frame") << QByteArrayList{m + "000130"} << QStringList{"000130"};
        QTest::newRow("joined") << QByteArrayList{m + "000130" + m + "000129" + m + "000128"}
                                << QStringList{"000130", "000129", "000128"};
        QTest::newRow("split-inside")
            << QByteArrayList{m + "00", "01", "30"} << QStringList{"000130"};
        QTest::newRow("split-after-mark") << QByteArrayList{m, "000130"} << QStringList{"000130"};
        QTest::newRow("split-before-mark")
            << QByteArrayList{m + "000130", m + "000129"} << QStringList{"000130", "000129"};
        QTest::newRow("pause-after-mark")
            << QByteArrayList{m, flush, "000130"} << QStringList{"000130"};
        QTest::newRow("pause-closes-frame")
            << QByteArrayList{m + "000130", flush, "99", m + "000129"}
            << QStringList{"000130", "000129"};
        QTest::newRow("garbage-first")
            << QByteArrayList{"junk\r\n" + m + "000130"} << QStringList{"000130"};
        QTest::newRow("garbage-only") << QByteArrayList{"000130", "------"} << QStringList{};
        QTest::newRow("eight-bytes")
            << QByteArrayList{m + "-050000" + m + "000130"} << QStringList{"-050000", "000130"};
        QTest::newRow("blank") << QByteArrayList{m + "------"} << QStringList{"------"};
        QTest::newRow("empty-frame") << QByteArrayList{m + m + "000130"} << QStringList{"000130"};
        QTest::newRow("code-page")
            << QByteArrayList{m + "\x80\xE9"} << QStringList{QStringLiteral("\u20AC\u00E9")};
        QTest::newRow("longest-kept")
            << QByteArrayList{m + QByteArray(FrameReader::kMaxFrame, '7')}
            << QStringList{QString(FrameReader::kMaxFrame, QLatin1Char('7'))};
        QTest::newRow("too-long-dropped")
            << QByteArrayList{m + QByteArray(FrameReader::kMaxFrame + 1, '7'), "123", m + "000130"}
            << QStringList{"000130"};
    }
    void frames()
    {
        QFETCH(QByteArrayList, chunks);
        QFETCH(QStringList, expected);
        FrameReader reader;
        QStringList got;
        for (const QByteArray &chunk : chunks)
            got += chunk.isEmpty() ? reader.flush() : reader.feed(chunk);
        got += reader.flush();
        QCOMPARE(got, expected);
        QVERIFY(!reader.hasPending());
    }

    // A peer that never sends a mark, or sends one and then only junk, cannot grow memory.
    void floodStaysBounded_data()
    {
        QTest::addColumn<QByteArray>("start");
        QTest::newRow("no-mark") << QByteArray("x");
        QTest::newRow("after-mark") << QByteArray("\xC7");
    }
    void floodStaysBounded()
    {
        QFETCH(QByteArray, start);
        FrameReader reader;
        QVERIFY(reader.feed(start).isEmpty());
        const QByteArray junk(64 * 1024, 'x');
        for (int i = 0; i < 32; ++i) {
            QVERIFY(reader.feed(junk).isEmpty());
            QVERIFY(reader.pendingBytes() <= FrameReader::kMaxFrame);
        }
        QVERIFY(reader.flush().isEmpty());
        QVERIFY(reader.droppedBytes() >= 32 * junk.size());
        // The next frame still comes through.
        QCOMPARE(reader.feed("\307000130\xC7"), QStringList{"000130"});
    }
};

QTEST_GUILESS_MAIN(TestFrameReader)
#include "tst_framereader.moc"
