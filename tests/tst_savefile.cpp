#include "base/savefile.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace testsupport;

class SaveFileTest : public QObject
{
    Q_OBJECT
private slots:
    void replacesWholeAndLeavesNothingBeside();
    void plantedLinksAreNeverFollowed();
    void refusedTargetStaysAsItWas();
};

namespace {
QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

ino_t inodeOf(const QString &path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}
} // namespace

void SaveFileTest::replacesWholeAndLeavesNothingBeside()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("成果 表.xlsx"));
    QVERIFY(writeFile(target, "old"));
    const ino_t before = inodeOf(target);
    QVERIFY(saveFileContents(target, "new content"));
    QCOMPARE(contentOf(target), QByteArray("new content"));
    // A new file renamed into place, never the old one rewritten in place.
    QVERIFY(inodeOf(target) != before);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("成果 表.xlsx")});

    // Abandoned without a commit: the target keeps its content, nothing is left.
    {
        SaveFile file(target);
        QVERIFY(file.open());
        file.device().write("half");
    }
    QCOMPARE(contentOf(target), QByteArray("new content"));
    QCOMPARE(QDir(dir.path()).count(), 3u); // ".", ".." and the target
}

void SaveFileTest::plantedLinksAreNeverFollowed()
{
    QTemporaryDir dir;
    const QString victim = dir.filePath(QStringLiteral("victim.mdb"));
    QVERIFY(writeFile(victim, "precious"));
    const QString target = dir.filePath(QStringLiteral("p.dxf"));
    // Links at every name a writer of old used beside its output.
    for (const QString &name : {target + QStringLiteral(".part"), target + QStringLiteral(".tmp"),
                                target + QStringLiteral(".new"), dir.filePath(QStringLiteral(".p.dxf"))})
        QVERIFY(QFile::link(victim, name));
    for (int i = 0; i < 20; ++i)
        QVERIFY(saveFileContents(target, QByteArray("drawing ") + QByteArray::number(i)));
    QCOMPARE(contentOf(victim), QByteArray("precious"));
    QCOMPARE(contentOf(target), QByteArray("drawing 19"));
}

void SaveFileTest::refusedTargetStaysAsItWas()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("folder.xlsx"));
    QVERIFY(QDir().mkpath(folder));
    const auto saved = saveFileContents(folder, "x");
    QVERIFY(!saved);
    QVERIFY2(saved.error().contains(QStringLiteral("folder.xlsx")), qPrintable(saved.error()));
    QVERIFY(QFileInfo(folder).isDir());
    const auto nowhere = saveFileContents(dir.filePath(QStringLiteral("no/such/p.xlsx")), "x");
    QVERIFY(!nowhere);
    QVERIFY(!nowhere.error().isEmpty());
}

QTEST_GUILESS_MAIN(SaveFileTest)
#include "tst_savefile.moc"
