// Faults met through the main window: Exit on a full disk, a queue of 10,000
// entries, and paths with blanks, quotes, "$(...)", ";", non-ASCII letters
// and line feeds through the whole flow (queue -> Firefly's command line ->
// processed list -> viewer). Notices, error reports and quitting are
// recorded; nothing is powered off.

#include "jobs/CommandLine.h"
#include "jobs/JobRunner.h"
#include "jobs/JobSettings.h"
#include "platform/Notices.h"
#include "platform/PowerOff.h"
#include "tests/helpers/ArgvRecord.h"
#include "tests/helpers/Controls.h"
#include "tests/helpers/FileSizeLimit.h"
#include "tests/helpers/Files.h"
#include "tests/helpers/Recorders.h"
#include "tests/helpers/Standin.h"
#include "ui/NeloForm.h"

#include <QtTest>

#include <QApplication>
#include <QDialog>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>

#include <memory>

namespace {

const QByteArray WaterInput = " $CONTRL SCFTYP=RHF RUNTYP=ENERGY $END\r\n $DATA\r\nWater\r\nC1\r\n"
                              " O 8.0 0.0 0.0 0.124\r\n H 1.0 0.0 0.792 -0.496\r\n H 1.0 0.0 -0.792 -0.496\r\n"
                              " $END\r\n";

// The stand-in's record: "cwd DIR", then "arg ARGUMENT" lines, "\" and line
// feed escaped as "\\" and "\n".
QStringList recordedArguments(const QString &path)
{
    QStringList arguments;
    for (const QByteArray &line : readFile(path).split('\n')) {
        if (!line.startsWith("arg "))
            continue;
        QByteArray argument;
        for (qsizetype i = 4; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                argument += line[i + 1] == 'n' ? '\n' : line[i + 1];
                ++i;
            } else {
                argument += line[i];
            }
        }
        arguments << QFile::decodeName(argument);
    }
    return arguments;
}

} // namespace

class TestFormFaults : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QStringList m_notices;
    QStringList m_errors;
    PowerOffRecorder m_powerOff;
    ClipboardRecorder m_clipboard;
    int m_quits = 0;
    std::unique_ptr<TForm1> m_form;

    QString settingsPath() const { return m_dir.filePath("nelo.INI"); }

    template <class T>
    T *control(const char *name) const { return findControl<T>(m_form.get(), name); }
    QListWidget *jobs() const { return control<QListWidget>("JobListBox"); }
    QListWidget *done() const { return control<QListWidget>("DoneListBox"); }

    void makeForm()
    {
        TForm1::Environment environment;
        environment.arguments = {"nelo"};
        environment.settingsFile = settingsPath();
        environment.clipboard = &m_clipboard;
        environment.powerOff = &m_powerOff;
        environment.trayAvailable = [] { return true; };
        environment.quit = [this] { ++m_quits; };
        m_form = std::make_unique<TForm1>(environment);
        m_form->FormCreate();
    }

    // Firefly is the stand-in, writing as fast as it can.
    void useStandin()
    {
        const QString work = m_dir.filePath("work");
        QDir().mkpath(work);
        setStandinAsFirefly(m_form->JobSettings(), work);
        qputenv("FIREFLY_STANDIN_PACE", "0");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        Notices::SetNoticePresenter([this](const QString &text) { m_notices << text; });
        Notices::SetErrorPresenter([this](const QString &text) { m_errors << text; });
    }

    void init()
    {
        m_notices.clear();
        m_errors.clear();
        m_quits = 0;
        QVERIFY(writeFile(settingsPath(), "[Settings]\r\nEXEFile=/opt/firefly/firefly\r\nDirList=/tmp/work\r\n"
                                         "[Mine]\r\nkeep=this\r\n"));
        makeForm();
    }

    void cleanup()
    {
        m_form.reset();
        unsetStandinControls();
        qunsetenv("NELO_ARGV_RECORD");
    }

    // Exit on a full disk: the error report names the settings file, Nelo
    // keeps running, the old file is intact and no temporary file is left.
    // Once there is room again, Exit saves and quits.
    void exitOnAFullDisk()
    {
        const QByteArray before = readFile(settingsPath());
        m_form->JobSettings().AddCmdLine = QString(20000, 'x'); // the new file needs more than the room left
        m_form->show();
        {
            const FileSizeLimit full(4096);
            QTest::mouseClick(control<QPushButton>("ExitBtn"), Qt::LeftButton);
        }
        QCOMPARE(m_errors, QStringList{"Unable to write to " + settingsPath() + "."});
        QCOMPARE(m_quits, 0);
        QVERIFY(m_form->isVisible());
        QVERIFY(control<QPushButton>("ExitBtn")->isEnabled());
        QCOMPARE(readFile(settingsPath()), before);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"nelo.INI"});

        QTest::mouseClick(control<QPushButton>("ExitBtn"), Qt::LeftButton);
        QCOMPARE(m_errors.size(), 1);
        QCOMPARE(m_quits, 1);
        TJobSettings saved;
        LoadSettings(saved, settingsPath());
        QCOMPARE(saved.AddCmdLine, QString(20000, 'x'));
        QVERIFY(readFile(settingsPath()).contains("[Mine]\r\nkeep=this\r\n"));
    }

    // 10,000 entries in the queue: added, some removed by selection, three
    // far down ticked; Run takes exactly those, in order, and leaves the rest.
    void queueOfTenThousand()
    {
        useStandin();
        const QString folder = m_dir.filePath("many");
        QDir().mkpath(folder);
        const int size = 10000;
        auto name = [&](int i) { return folder + QString("/job%1.inp").arg(i, 5, 10, QChar('0')); };
        for (int i = 0; i < size; ++i)
            m_form->AddJob(name(i));
        QCOMPARE(jobs()->count(), size);

        // Remove the first 500 and every thousandth after them.
        QStringList expected;
        for (int i = 0; i < size; ++i) {
            const bool remove = i < 500 || i % 1000 == 0;
            jobs()->item(i)->setSelected(remove);
            if (!remove)
                expected << name(i);
        }
        QTest::mouseClick(control<QPushButton>("DeleteInBtn"), Qt::LeftButton);
        QCOMPARE(listTexts(jobs()), expected);

        // Tick three of them only.
        const QStringList run{name(777), name(4321), name(9999)};
        for (int i = 0; i < jobs()->count(); ++i) {
            const bool tick = run.contains(jobs()->item(i)->text());
            jobs()->item(i)->setCheckState(tick ? Qt::Checked : Qt::Unchecked);
            if (tick)
                QVERIFY(writeFile(jobs()->item(i)->text(), WaterInput));
        }
        QTest::mouseClick(control<QPushButton>("RunBtn"), Qt::LeftButton); // returns when the queue is done

        QCOMPARE(m_notices, QStringList());
        QCOMPARE(m_errors, QStringList());
        QStringList outputs;
        for (const QString &input : run)
            outputs << input.chopped(4) + ".out";
        QCOMPARE(listTexts(done()), outputs);
        for (const QString &input : run)
            expected.removeOne(input);
        QCOMPARE(listTexts(jobs()), expected);
    }

    // Odd paths reach Firefly, the processed list and the viewer byte for
    // byte, and nothing in them is ever run as a command.
    void oddPathsThroughTheWholeFlow_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("blanks") << " two  blanks ";
        QTest::newRow("quotes") << "it's \"quoted\"";
        QTest::newRow("command substitution") << "$(touch pwned) `touch pwned2`";
        QTest::newRow("semicolon and ampersand") << "a;touch pwned3;b & c | d";
        QTest::newRow("non-ASCII") << QString::fromUtf8("Δοκιμή ünïcødé 日本");
        QTest::newRow("line feed") << "first\nsecond";
        QTest::newRow("dollar and backslash") << "$HOME \\n \\";
    }
    void oddPathsThroughTheWholeFlow()
    {
        QFETCH(QString, folder);
        useStandin();
        QTemporaryDir base;
        const QString dir = base.path() + '/' + folder;
        QVERIFY(QDir().mkpath(dir));
        const QString input = dir + "/" + folder + ".inp";
        const QString output = dir + "/" + folder + ".out";
        QVERIFY(writeFile(input, WaterInput));
        const QString record = base.filePath("standin.record");
        qputenv("FIREFLY_STANDIN_RECORD", QFile::encodeName(record));

        m_form->AddJob(input);
        QTest::mouseClick(control<QPushButton>("RunBtn"), Qt::LeftButton);

        QCOMPARE(m_notices, QStringList());
        QCOMPARE(m_errors, QStringList());
        QCOMPARE(listTexts(done()), QStringList{output});
        QVERIFY(QFileInfo(output).size() > 0);
        const QStringList arguments = recordedArguments(record);
        QCOMPARE(arguments.value(arguments.indexOf("-i") + 1), input);
        QCOMPARE(arguments.value(arguments.indexOf("-o") + 1), output);

        // The processed entry in the text editor (the argv recorder).
        const QString viewed = base.filePath("viewer.record");
        qputenv("NELO_ARGV_RECORD", QFile::encodeName(viewed));
        m_form->JobSettings().TxtFile = QStringLiteral(NELO_ARGV_RECORDER);
        m_form->show();
        done()->setCurrentRow(0);
        QTest::mouseClick(control<QPushButton>("ViewBtn"), Qt::LeftButton);
        const ArgvRecord started = ArgvRecord::waitFor(viewed);
        QVERIFY(started.valid);
        QCOMPARE(started.arguments(), QStringList{output});

        // Nothing was run by a shell.
        for (const QString &place : {base.path(), dir, QDir::currentPath(), m_dir.filePath("work")}) {
            for (const char *name : {"pwned", "pwned2", "pwned3"})
                QVERIFY2(!QFile::exists(place + '/' + name), qPrintable(place));
        }
    }

    // The output pane with NUL bytes and bytes above 127 in its lines: every
    // byte shows as its Latin-1 character, each line stays one line, and the
    // pane still finds its line 100 to scroll to the end.
    void paneWithNulAndHighBytes()
    {
        QByteArray text;
        for (int i = 0; i < 100; ++i) {
            QByteArray line = "line " + QByteArray::number(i);
            if (i % 10 == 5)
                line += QByteArray("\0nul\0", 5) + "\x85\x80\x8d\xa0\xad\xe9\xff\x0c\x0b\x1b";
            text += line + '\n';
        }
        m_form->SetMemoText(text);
        const auto *memo = control<QPlainTextEdit>("Memo1");
        QCOMPARE(memo->document()->blockCount(), 101);
        qsizetype at = 0;
        for (int i = 0; i < 100; ++i) {
            const qsizetype end = text.indexOf('\n', at);
            QCOMPARE(memo->document()->findBlockByNumber(i).text(), QString::fromLatin1(text.mid(at, end - at)));
            at = end + 1;
        }
        QCOMPARE(m_form->MemoLineIndex(100), int(text.size()));
    }
};

QTEST_MAIN(TestFormFaults)
#include "tst_formfaults.moc"
