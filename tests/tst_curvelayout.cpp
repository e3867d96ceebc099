#include "layout/curvelayout.h"
#include "testsupport.h"

#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using namespace testsupport;

class CurveLayoutTest : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void everyKeyToItsFields();
    void encodings_data();
    void encodings();
    void sectionsOfTheKinds();
    void files();
};

// The text of a layout file (UTF-8 unless a row says otherwise) and the
// sheet size, time axis and curve axis read from its "沉降曲线" section.
void CurveLayoutTest::parse_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QList<double>>("expected"); // width, height, time range, time length

    QTest::addRow("plain") << QByteArray("[沉降曲线]\r\n图幅大小=420,297\r\n时间轴=200,300\r\n")
                           << QList<double>{420, 297, 200, 300};
    QTest::addRow("blanks everywhere")
        << QByteArray("   [沉降曲线]   \r\n   图幅大小 = 420 , 297   \r\n")
        << QList<double>{420, 297, 0, 0};
    QTest::addRow("section name with a trailing blank")
        << QByteArray("[沉降曲线 ]\r\n图幅大小=420,297\r\n") << QList<double>{0, 0, 0, 0};
    QTest::addRow("unit after the number")
        << QByteArray("[沉降曲线]\r\n时间轴=200,120.5mm\r\n") << QList<double>{0, 0, 200, 120.5};
    QTest::addRow("repeated section, later keys win")
        << QByteArray("[沉降曲线]\r\n图幅大小=1,2\r\n时间轴=3,4\r\n[速率曲线]\r\n图幅大小=9,9\r\n"
                      "[沉降曲线]\r\n图幅大小=420,297\r\n")
        << QList<double>{420, 297, 3, 4};
    QTest::addRow("keys of another section never leak") << QByteArray(
        "[沉降曲线]\r\n图幅大小=420,297\r\n[荷载曲线]\r\n图幅大小=1,1\r\n时间轴=5,5\r\n")
                                                        << QList<double>{420, 297, 0, 0};
    QTest::addRow("keys before any section")
        << QByteArray("图幅大小=1,1\r\n[沉降曲线]\r\n") << QList<double>{0, 0, 0, 0};
    QTest::addRow("wanted section missing")
        << QByteArray("[速率曲线]\r\n图幅大小=420,297\r\n") << QList<double>{0, 0, 0, 0};
    QTest::addRow("empty file") << QByteArray() << QList<double>{0, 0, 0, 0};
    QTest::addRow("header alone") << QByteArray("[沉降曲线]") << QList<double>{0, 0, 0, 0};
    QTest::addRow("numbers read like Val")
        << QByteArray("[沉降曲线]\r\n图幅大小=1e3,-\r\n时间轴=.5,12abc\r\n")
        << QList<double>{1000, 0, 0.5, 12};
    QTest::addRow("line without = skipped")
        << QByteArray("[沉降曲线]\r\n图幅大小=420,297\r\n时间轴\r\n500,600\r\n")
        << QList<double>{420, 297, 0, 0};
    QTest::addRow("value without , skipped")
        << QByteArray("[沉降曲线]\r\n图幅大小=420,297\r\n图幅大小=500\r\n")
        << QList<double>{420, 297, 0, 0};
    QTest::addRow("first = and first ,")
        << QByteArray("[沉降曲线]\r\n时间轴=2,3,4=5\r\n") << QList<double>{0, 0, 2, 3};
    QTest::addRow("a tab is no blank")
        << QByteArray("[沉降曲线]\r\n\t图幅大小=420,297\r\n") << QList<double>{0, 0, 0, 0};
    QTest::addRow("unknown key") << QByteArray("[沉降曲线]\r\n图幅=420,297\r\n")
                                 << QList<double>{0, 0, 0, 0};
    QTest::addRow("lines ending in LF") << QByteArray("[沉降曲线]\n图幅大小=420,297\n时间轴=1,2\n")
                                        << QList<double>{420, 297, 1, 2};
    QTest::addRow("lines ending in CR")
        << QByteArray("[沉降曲线]\r图幅大小=420,297\r时间轴=1,2") << QList<double>{420, 297, 1, 2};
    QByteArray binary(4096, '\0');
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char((i * 131 + 17) % 256);
    QTest::addRow("binary") << binary << QList<double>{0, 0, 0, 0};
    QByteArray huge;
    huge.reserve(10 * 1024 * 1024 + 100);
    huge += "[速率曲线]\r\n";
    while (huge.size() < 10 * 1024 * 1024)
        huge += "图幅大小=1,1\r\n时间轴=2,2\r\n";
    huge += "[沉降曲线]\r\n图幅大小=420,297\r\n";
    QTest::addRow("10 MB") << huge << QList<double>{420, 297, 0, 0};
}

void CurveLayoutTest::parse()
{
    QFETCH(QByteArray, content);
    QFETCH(QList<double>, expected);
    const CurveLayout layout = parseCurveLayout(content, QStringLiteral("沉降曲线"));
    QCOMPARE(
        (QList<double>{layout.SheetWidth, layout.SheetHeight, layout.TimeRange, layout.TimeLength}),
        expected);
}

void CurveLayoutTest::everyKeyToItsFields()
{
    const CurveLayout layout = parseCurveLayout(
        "[荷载曲线]\r\n图幅大小=1,2\r\n基点位置=3,4\r\n时间轴=5,6\r\n曲线轴=7,8\r\n辅助轴=9,10\r\n"
        "图例位置=11,12\r\n",
        QStringLiteral("荷载曲线"));
    QCOMPARE(layout, (CurveLayout{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
}

void CurveLayoutTest::encodings_data()
{
    QTest::addColumn<QByteArray>("content");
    const QString text = QStringLiteral("[沉降曲线]\r\n图幅大小=420,297\r\n");
    QStringEncoder gbk("GBK");
    QVERIFY(gbk.isValid());
    QTest::addRow("GBK (Windows)") << QByteArray(gbk.encode(text));
    QTest::addRow("UTF-8") << text.toUtf8();
    QTest::addRow("UTF-8 with BOM") << QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

void CurveLayoutTest::encodings()
{
    QFETCH(QByteArray, content);
    const CurveLayout layout = parseCurveLayout(content, QStringLiteral("沉降曲线"));
    QCOMPARE(layout.SheetWidth, 420.0);
    QCOMPARE(layout.SheetHeight, 297.0);
}

void CurveLayoutTest::sectionsOfTheKinds()
{
    QCOMPARE(layoutSection(CurveKind::Settlement), QStringLiteral("沉降曲线"));
    QCOMPARE(layoutSection(CurveKind::Rate), QStringLiteral("速率曲线"));
    QCOMPARE(layoutSection(CurveKind::Load), QStringLiteral("荷载曲线"));
}

void CurveLayoutTest::files()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("A3.ini"));
    QVERIFY(writeFile(path, "[沉降曲线]\r\n曲线轴=10,150\r\n[速率曲线]\r\n曲线轴=0.5,180\r\n"));
    QCOMPARE(LoadCurveLayout(path, CurveKind::Settlement).CurveLength, 150.0);
    QCOMPARE(LoadCurveLayout(path, CurveKind::Rate).CurveRange, 0.5);
    QCOMPARE(LoadCurveLayout(path, CurveKind::Load), CurveLayout());
    QCOMPARE(LoadCurveLayout(dir.filePath(QStringLiteral("none.ini")), CurveKind::Rate),
             CurveLayout());
    QCOMPARE(LoadCurveLayout(QString(), CurveKind::Rate), CurveLayout());
    QCOMPARE(LoadCurveLayout(dir.path(), CurveKind::Rate), CurveLayout()); // a folder
    // The shipped templates put their axes inside the sheet: settlement grows
    // down from the origin with the load axis above it, rate and load grow up.
    for (const char *name : {"A3", "A4"}) {
        const QString shipped =
            QStringLiteral(SEDIMETRA_BIN_DIR "/Support/TK/%1/%1.ini").arg(QLatin1String(name));
        for (const CurveKind kind : {CurveKind::Settlement, CurveKind::Rate, CurveKind::Load}) {
            const CurveLayout layout = LoadCurveLayout(shipped, kind);
            QVERIFY(layout.SheetWidth > layout.BaseOffsetX + layout.TimeLength);
            if (kind == CurveKind::Settlement) {
                QVERIFY(layout.BaseOffsetY - layout.CurveLength > 0);
                QVERIFY(layout.BaseOffsetY + layout.AuxLength < layout.SheetHeight);
            } else {
                QVERIFY(layout.BaseOffsetY + layout.CurveLength < layout.SheetHeight);
            }
            QVERIFY(layout.TimeRange > 0 && layout.CurveRange > 0);
        }
    }
}

QTEST_GUILESS_MAIN(CurveLayoutTest)
#include "tst_curvelayout.moc"
