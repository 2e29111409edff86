// Opening files in the user's editors: which program gets which argument in
// which folder, the notices for an editor that is not set, and that a file is
// never started as a program.

#include "platform/Notices.h"
#include "platform/Viewers.h"
#include "tests/helpers/ArgvRecord.h"
#include "tests/helpers/Files.h"

#include <QtTest>

class TestViewers : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QStringList m_notices;

    QString record() const { return m_dir.filePath(QStringLiteral("argv.txt")); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        Notices::SetNoticePresenter([this](const QString &text) { m_notices << text; });
        qputenv("VIEWER_RECORD", QFile::encodeName(record()));
        qputenv("NELO_ARGV_RECORD", QFile::encodeName(m_dir.filePath(QStringLiteral("unused.record"))));
    }

    void init()
    {
        m_notices.clear();
        QFile::remove(record());
    }

    void launch_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("folder");
        QTest::newRow("plain") << "/usr/bin/gedit" << "/home/me/water.inp" << "/home/me/";
        QTest::newRow("blanks everywhere") << "/opt/my tools/mol edit" << "/data/run 1/water 2.out"
                                           << "/data/run 1/";
        QTest::newRow("quotes and dollar") << "/usr/bin/ed" << "/d/\"a\" $HOME.out" << "/d/";
        QTest::newRow("in the root") << "/usr/bin/ed" << "/a.inp" << "/";
        QTest::newRow("no folder") << "/usr/bin/ed" << "a.inp" << "";
    }
    void launch()
    {
        QFETCH(QString, program);
        QFETCH(QString, file);
        QFETCH(QString, folder);
        const ViewerLaunch launch = MakeViewerLaunch(program, file);
        QCOMPARE(launch.program, program);
        QCOMPARE(launch.arguments, QStringList{file});
        QCOMPARE(launch.workingDirectory, folder);
    }

    void editorGetsTheFileWholeInItsFolder_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("text editor") << int(ViewerKind::TextEditor);
        QTest::newRow("molecule editor") << int(ViewerKind::MoleculeEditor);
    }
    void editorGetsTheFileWholeInItsFolder()
    {
        QFETCH(int, kind);
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("run 1")));
        const QString folder = QDir(m_dir.filePath(QStringLiteral("run 1"))).canonicalPath();
        const QString file = folder + QStringLiteral("/water $1 'x' \"y\".out");
        const QString argvRecord = m_dir.filePath(QStringLiteral("argv.record"));
        QFile::remove(argvRecord);
        qputenv("NELO_ARGV_RECORD", QFile::encodeName(argvRecord));
        OpenInViewer(ViewerKind(kind), QStringLiteral(NELO_ARGV_RECORDER), file);
        const ArgvRecord started = ArgvRecord::waitFor(argvRecord);
        QVERIFY(started.valid);
        QCOMPARE(QFile::decodeName(started.args.value(0)), QStringLiteral(NELO_ARGV_RECORDER));
        QCOMPARE(started.arguments(), QStringList{file});
        QCOMPARE(QFile::decodeName(started.workingDirectory), folder);
        QVERIFY(m_notices.isEmpty());
    }

    void notices_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("programSet");
        QTest::addColumn<bool>("entryFocused");
        QTest::addColumn<QStringList>("notices");
        const QString text = QStringLiteral("Enter a path for the Text Editor executable in the Settings.");
        const QString mol = QStringLiteral("Enter a path for the Molecule Editor executable in the Settings.");
        QTest::newRow("text, not set, entry") << int(ViewerKind::TextEditor) << false << true << QStringList{text};
        QTest::newRow("text, not set, no entry") << int(ViewerKind::TextEditor) << false << false << QStringList{text};
        QTest::newRow("molecule, not set, entry") << int(ViewerKind::MoleculeEditor) << false << true << QStringList{mol};
        QTest::newRow("molecule, set, no entry") << int(ViewerKind::MoleculeEditor) << true << false << QStringList{};
        QTest::newRow("text, set, no entry") << int(ViewerKind::TextEditor) << true << false << QStringList{};
    }
    void notices()
    {
        QFETCH(int, kind);
        QFETCH(bool, programSet);
        QFETCH(bool, entryFocused);
        QFETCH(QStringList, notices);
        // The entry is itself an executable: with no editor set it must
        // never be run in the editor's place.
        const QString entry = m_dir.filePath(QStringLiteral("job.inp"));
        QVERIFY(writeExecutable(entry, "#!/bin/sh\necho ran > \"$VIEWER_RECORD\"\n"));
        OpenInViewer(ViewerKind(kind), programSet ? QStringLiteral(NELO_ARGV_RECORDER) : QString(),
                     entryFocused ? entry : QString());
        QCOMPARE(m_notices, notices);
        QTest::qWait(300);
        QVERIFY(!QFile::exists(record()));
    }

    void failedStartIsSilent()
    {
        OpenInViewer(ViewerKind::TextEditor, m_dir.filePath(QStringLiteral("no such editor")),
                     m_dir.filePath(QStringLiteral("a.out")));
        OpenInViewer(ViewerKind::TextEditor, m_dir.path(), m_dir.filePath(QStringLiteral("a.out")));
        QVERIFY(m_notices.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestViewers)
#include "tst_viewers.moc"
