#include "core/rundown.h"

#include <QtTest>

// The running order's file as spreadsheets write it, and as the remote sends
// it: each row a file and its verdict.
class TestRundown : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
};

namespace {

// "title|duration|until|note|auto" per segment, one a line.
QString summary(const QList<rundown::Segment> &segments)
{
    QStringList out;
    for (const rundown::Segment &s : segments) {
        out.append(QStringList{s.title, rundown::timeText(s.duration), rundown::timeText(s.until),
                               QString(s.note).replace(QLatin1Char('\n'), QLatin1String("\\n")),
                               s.autoNext ? QStringLiteral("auto") : QString()}
                       .join(QLatin1Char('|')));
    }
    return out.join(QLatin1Char('\n'));
}

QByteArray manyRows(int n)
{
    QByteArray out = "title,duration\n";
    for (int i = 0; i < n; ++i)
        out += "Segment " + QByteArray::number(i + 1) + ",00:01:00\n";
    return out;
}

} // namespace

void TestRundown::parse_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("json");
    QTest::addColumn<QString>("verdict"); // the segments, or "error: ..."
    QTest::addColumn<QString>("notices");

    // As the spreadsheets export them.
    QTest::newRow("libreoffice-comma")
        << QByteArray(
               "Title,Duration,Until,Note,Auto\n"
               "Doors,00:15:00,,,\n"
               "Welcome,20:00,,\"Lights down, music up\",yes\n"
               "\"Keynote \"\"Future\"\"\",00:45:00,,\"Slides on laptop 2\nClicker spare\",\n"
               "Break,,15:30:00,,\n")
        << false
        << QStringLiteral("Doors|00:15:00|||\nWelcome|00:20:00||Lights down, music up|auto\n"
                          "Keynote \"Future\"|00:45:00||Slides on laptop 2\\nClicker spare|\n"
                          "Break||15:30:00||")
        << QString();
    QTest::newRow("excel-comma-crlf")
        << QByteArray("title,duration,until,note,auto\r\n"
                      "Doors,0:15:00,,,\r\n"
                      "Panel,,20:00,\"Four chairs\r\nTwo mics\",YES\r\n")
        << false << QStringLiteral("Doors|00:15:00|||\nPanel||20:00:00|Four chairs\\nTwo mics|auto")
        << QString();
    QTest::newRow("excel-semicolon-utf8-bom")
        << QByteArray("\xEF\xBB\xBFTitle;Duration;Note;Auto\r\n"
                      "Caf\xC3\xA9 talk;0:20:00;\"a; b\";yes\r\n"
                      ";;;\r\n;;;\r\n")
        << false << QStringLiteral("Caf\u00E9 talk|00:20:00||a; b|auto") << QString();
    QTest::newRow("libreoffice-semicolon-any-order")
        << QByteArray("AUTO;note;until;title;duration;presenter\n;;;Opening;10:00;Kim\n") << false
        << QStringLiteral("Opening|00:10:00|||") << QString();
    QTest::newRow("excel-ansi") << QByteArray("title,duration\r\nCaf\xE9,10:00\r\n") << false
                                << QStringLiteral("Caf\u00E9|00:10:00|||") << QString();
    QTest::newRow("title-cut") << QByteArray("title,duration\nA very long title,10:00\n") << false
                               << QStringLiteral("A very long titl|00:10:00|||")
                               << QStringLiteral("row 2, title: cut at 16 characters, the title "
                                                 "field's length");
    QTest::newRow("200-segments") << manyRows(200) << false
                                  << summary(rundown::parseCsv(manyRows(200), 16).segments)
                                  << QString();

    // A bad row in each column loads nothing and names the row and the column.
    QTest::newRow("bad-duration") << QByteArray("title,duration\nA,10:00\nB,10:00\nC,1:75:00\n")
                                  << false
                                  << QStringLiteral(
                                         "error: row 4, duration: \"1:75:00\" is no time")
                                  << QString();
    QTest::newRow("bad-row-after-quoted-break")
        << QByteArray("title,duration,note\nA,10:00,\"two\nlines\"\nB,soon,\n") << false
        << QStringLiteral("error: row 3, duration: \"soon\" is no time") << QString();
    QTest::newRow("zero-duration")
        << QByteArray("title,duration\nA,00:00\n") << false
        << QStringLiteral("error: row 2, duration: \"00:00\" is zero") << QString();
    QTest::newRow("bad-until") << QByteArray("title,until\nA,25:00:00\n") << false
                               << QStringLiteral("error: row 2, until: \"25:00:00\" is no time "
                                                 "of day")
                               << QString();
    QTest::newRow("both-times") << QByteArray("title,duration,until\nA,10:00,20:00:00\n") << false
                                << QStringLiteral("error: row 2, until: give a duration or an "
                                                  "until, not both")
                                << QString();
    QTest::newRow("no-time") << QByteArray("title;duration;until\nA;;\n") << false
                             << QStringLiteral("error: row 2, duration: empty; give a duration or "
                                               "an until")
                             << QString();
    QTest::newRow("bad-note") << "title,duration,note\nA,10:00," + QByteArray(1001, 'x') + "\n"
                              << false
                              << QStringLiteral("error: row 2, note: longer than 1000 characters")
                              << QString();
    QTest::newRow("bad-auto") << QByteArray("title,duration,auto\nA,10:00,maybe\n") << false
                              << QStringLiteral("error: row 2, auto: \"maybe\" is not yes or empty")
                              << QString();
    QTest::newRow("bad-title-json")
        << QByteArray(R"({"items":[{"title":"A","duration":"10:00"},{"title":3}]})") << true
        << QStringLiteral("error: item 2, title: must be a string") << QString();
    QTest::newRow("extra-field") << QByteArray("title,duration\nWelcome, all,10:00\n") << false
                                 << QStringLiteral("error: row 2: 3 fields, the header names 2")
                                 << QString();
    QTest::newRow("unclosed-quote")
        << QByteArray("title,duration\nA,10:00\n\"B,10:00\n") << false
        << QStringLiteral("error: row 3: a quote is not closed") << QString();
    QTest::newRow("201-segments") << manyRows(201) << false
                                  << QStringLiteral("error: row 202: more than 200 segments")
                                  << QString();
    QTest::newRow("no-title-column")
        << QByteArray("name,duration\nA,10:00\n") << false
        << QStringLiteral("error: row 1: no title column") << QString();
    QTest::newRow("no-separator") << QByteArray("title\nA\n") << false
                                  << QStringLiteral("error: row 1: the header must name the "
                                                    "columns, title and duration or until, "
                                                    "separated by , or ;")
                                  << QString();

    // The remote's JSON shape, as GET /api/rundown gives it.
    QTest::newRow("json") << QByteArray(
        R"({"items":[{"title":"Doors","duration":"00:15:00","until":"","note":"",)"
        R"("auto":true},{"title":"Panel","until":"20:00:00"}],"current":1})")
                          << true << QStringLiteral("Doors|00:15:00|||auto\nPanel||20:00:00||")
                          << QString();
    QTest::newRow("json-bad-auto")
        << QByteArray(R"({"items":[{"title":"A","duration":"10:00","auto":"yes"}]})") << true
        << QStringLiteral("error: item 1, auto: must be true or false") << QString();
}

void TestRundown::parse()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, json);
    QFETCH(QString, verdict);
    QFETCH(QString, notices);

    const rundown::Parsed p = json ? rundown::parseJson(input, 16) : rundown::parseCsv(input, 16);
    QCOMPARE(p.ok ? summary(p.segments) : QStringLiteral("error: ") + p.error, verdict);
    QCOMPARE(p.notices.join(QLatin1Char('\n')), notices);
    if (!p.ok)
        return;
    // What the console writes reads back the same, in a spreadsheet's terms.
    const QByteArray written = rundown::toCsv(p.segments);
    QVERIFY(written.startsWith("\xEF\xBB\xBFtitle,duration,until,note,auto\r\n"));
    QCOMPARE(rundown::parseCsv(written, 16).segments, p.segments);
    QCOMPARE(rundown::parseJson(rundown::toJson(p.segments, 0), 16).segments, p.segments);
}

QTEST_GUILESS_MAIN(TestRundown)
#include "tst_rundown.moc"
