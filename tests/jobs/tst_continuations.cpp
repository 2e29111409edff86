// Continuations of optimisations: their names beside the input (never over
// a file), the queue's rule for continuing by itself, its setting, and
// chains run by the real runner with firefly-standin as Firefly.

#include "analysis/ContinuationDeck.h"
#include "jobs/Continuation.h"
#include "jobs/IniFile.h"
#include "tests/helpers/RunnerRig.h"

#include <QtTest>

Q_DECLARE_METATYPE(ProcessEnd)
Q_DECLARE_METATYPE(JobOutcome)

namespace {

// The coordinates of a deck's atom cards, as written.
QList<QByteArrayList> atomCards(const QByteArray &deck)
{
    QList<QByteArrayList> atoms;
    for (const QByteArray &line : deck.split('\n')) {
        const QByteArrayList fields = line.simplified().split(' ');
        if (fields.size() == 5 && (fields[0] == "O" || fields[0] == "H"))
            atoms << fields.mid(2);
    }
    return atoms;
}

QList<QByteArrayList> lastBlock(const QByteArray &output)
{
    QList<QByteArrayList> atoms;
    const auto geometry = LastUniqueGeometry({output.constData(), std::size_t(output.size())});
    for (const PrintedAtom &atom : geometry.value_or(std::vector<PrintedAtom>()))
        atoms << QByteArrayList{atom.xyz[0], atom.xyz[1], atom.xyz[2]};
    return atoms;
}

} // namespace

class TestContinuations : public QObject
{
    Q_OBJECT

private slots:
    void init() { unsetStandinControls(); }

    void names_data()
    {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("continuation");
        QTest::addColumn<QString>("guessedFrom"); // an output whose input is guessed as `input`
        QTest::newRow("the first") << QStringList() << "x.inp" << "x-cont1.inp" << "x.out";
        QTest::newRow("the first taken") << QStringList{"x-cont1.inp"} << "x.inp" << "x-cont2.inp" << "x.out";
        QTest::newRow("of a continuation, counting from the original")
            << QStringList{"x.inp"} << "x-cont1.inp" << "x-cont2.inp" << "x-cont1.out";
        QTest::newRow("of a continuation whose next is taken")
            << QStringList{"x-cont2.inp"} << "x-cont1.inp" << "x-cont3.inp" << "x-cont1.out";
        QTest::newRow("no extension") << QStringList() << "x" << "x-cont1.inp" << QString();
        QTest::newRow("-cont without a number") << QStringList() << "x-contA.inp" << "x-contA-cont1.inp" << "x-contA.out";
        QTest::newRow("an output named _N.out") << QStringList{"x.inp"} << "x.inp" << "x-cont1.inp" << "x_3.out";
        QTest::newRow("_N.out whose own input is there") << QStringList{"x.inp", "x_3.inp"} << "x_3.inp"
                                                         << "x_3-cont1.inp" << "x_3.out";
    }
    void names()
    {
        QFETCH(QStringList, existing);
        QFETCH(QString, input);
        QFETCH(QString, continuation);
        QFETCH(QString, guessedFrom);
        QTemporaryDir dir;
        for (const QString &name : existing)
            QVERIFY(writeFile(dir.filePath(name), "x"));
        QCOMPARE(ContinuationName(dir.filePath(input)), dir.filePath(continuation));
        if (!guessedFrom.isEmpty())
            QCOMPARE(GuessedInputOf(dir.filePath(guessedFrom)), dir.filePath(input));
    }

    // Written whole, each under a name no file had (a dangling link counts),
    // no temporary file left; a folder that cannot take it says so.
    void writtenNeverOverAFile()
    {
        QTemporaryDir dir;
        const QString input = dir.filePath("x.inp");
        QVERIFY(QFile::link(dir.filePath("nowhere"), dir.filePath("x-cont2.inp")));
        QCOMPARE(WriteContinuation(input, "one\r\n"), dir.filePath("x-cont1.inp"));
        QCOMPARE(WriteContinuation(input, "two\r\n"), dir.filePath("x-cont3.inp"));
        QCOMPARE(readFile(dir.filePath("x-cont1.inp")), QByteArray("one\r\n"));
        QCOMPARE(readFile(dir.filePath("x-cont3.inp")), QByteArray("two\r\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 (QStringList{"x-cont1.inp", "x-cont2.inp", "x-cont3.inp"}));
        QVERIFY_THROWS_EXCEPTION(EWriteError, WriteContinuation(dir.filePath("missing/x.inp"), "three"));
    }

    // Only a search that ran out of steps or time, or that a signal not sent
    // by Abort ended, goes on by itself.
    void continuesByItself_data()
    {
        QTest::addColumn<JobOutcome>("outcome");
        QTest::addColumn<ProcessEnd>("end");
        QTest::addColumn<bool>("continues");
        ProcessEnd timeout = ProcessEnd::Signalled(15), cancelled = timeout, memory = ProcessEnd::Exited(0);
        timeout.schedulerState = "TIMEOUT";
        cancelled.schedulerState = "CANCELLED by 0";
        memory.schedulerState = "OUT_OF_MEMORY";
        QTest::newRow("too many steps") << JobOutcome::NotConverged << ProcessEnd::Exited(0) << true;
        QTest::newRow("killed by a signal") << JobOutcome::Killed << ProcessEnd::Signalled(9) << true;
        QTest::newRow("the cluster's time limit") << JobOutcome::Killed << timeout << true;
        QTest::newRow("cancelled on the cluster") << JobOutcome::Killed << cancelled << false;
        QTest::newRow("cancelled inside the search") << JobOutcome::NotConverged << cancelled << false;
        QTest::newRow("out of memory") << JobOutcome::Killed << memory << false;
        QTest::newRow("crashed with an exit status") << JobOutcome::Killed << ProcessEnd::Exited(1) << false;
        QTest::newRow("aborted") << JobOutcome::Aborted << ProcessEnd::AbortedByUser() << false;
        QTest::newRow("SCF failed") << JobOutcome::ScfFailed << ProcessEnd::Exited(0) << false;
        QTest::newRow("abnormal end") << JobOutcome::Abnormal << ProcessEnd::Exited(1) << false;
        QTest::newRow("converged") << JobOutcome::Converged << ProcessEnd::Exited(0) << false;
    }
    void continuesByItself()
    {
        QFETCH(JobOutcome, outcome);
        QFETCH(ProcessEnd, end);
        QFETCH(bool, continues);
        QCOMPARE(ContinuesByItself({outcome, "why"}, end), continues);
    }

    // The section is written once it holds something; edited values that
    // make no sense give the default.
    void settings()
    {
        IniFile file = IniFile::fromBytes("[Settings]\nEXEFile=/ff\n");
        TContinueSettings settings;
        StoreContinueSettings(settings, file);
        QCOMPARE(file.toBytes(), QByteArray("[Settings]\nEXEFile=/ff\n"));
        settings.MaxContinuations = 3;
        StoreContinueSettings(settings, file);
        QCOMPARE(file.toBytes(), QByteArray("[Settings]\nEXEFile=/ff\n[Continue]\nMaxContinuations=3\n"));
        TContinueSettings read;
        LoadContinueSettings(read, file);
        QCOMPARE(read.MaxContinuations, 3);
        for (const char *edited : {"100", "-1", "two"}) {
            LoadContinueSettings(read, IniFile::fromBytes(QByteArray("[Continue]\nMaxContinuations=") + edited));
            QCOMPARE(read.MaxContinuations, 0);
        }
    }

    void chainTexts()
    {
        ContinuationChains chains;
        chains.Add("/j/x-cont1.inp", "/j/x.inp");
        chains.Add("/j/x-cont3.inp", "/j/x-cont1.inp"); // cont2 was taken
        QCOMPARE(chains.Text("/j/x.inp", 3), QString());
        QCOMPARE(chains.Text("/j/x-cont1.inp", 3), QStringLiteral("continuation 1 of at most 3 of x.inp"));
        QCOMPARE(chains.Text("/j/x-cont3.inp", 3), QStringLiteral("continuation 2 of at most 3 of x.inp"));
        QCOMPARE(chains.Text("/j/y-cont4.inp", 0), QStringLiteral("continuation 4 of y.inp")); // an earlier session's
    }

    // The queue continues a search that ran out of steps, right after it and
    // before the next entry, until the chain has had its continuations; each
    // new input carries the last geometry of the output before.
    void queueContinuesByItself_data()
    {
        QTest::addColumn<int>("atMost");
        QTest::addColumn<QStringList>("done");
        QTest::addColumn<QString>("notContinued"); // of the last job of the chain
        QTest::newRow("at most 2: the third run converges")
            << 2 << QStringList{"x.out", "x-cont1.out", "x-cont2.out", "y.out"} << QString();
        QTest::newRow("at most 1: the chain stops") << 1 << QStringList{"x.out", "x-cont1.out", "y.out"}
                                                    << "the settings allow no more continuations (at most 1)";
        QTest::newRow("never") << 0 << QStringList{"x.out", "y.out"} << QString();
    }
    void queueContinuesByItself()
    {
        QFETCH(int, atMost);
        QFETCH(QStringList, done);
        QFETCH(QString, notContinued);
        StandinRig rig(QStringLiteral("jobs"), twelveStepSearch(5));
        rig.settings.AddCmdLine = QStringLiteral("--standin-pace=0");
        TContinueSettings continuing{atMost};
        rig.runner.SetContinueSettings(&continuing);
        QList<JobRunner::FinishedJob> finished;
        rig.runner.SetFinishedJobSink([&](const JobRunner::FinishedJob &job) { finished << job; });
        rig.queue("x.inp");
        QVERIFY(writeFile(rig.job("y.inp"), readFile(QStringLiteral(NELO_EXAMPLES_DIR "/methane-energy.inp"))));
        rig.window.jobs.append({rig.job("y.inp"), true});
        rig.runner.RunBtnClick();

        QStringList names;
        for (const QString &output : rig.window.done)
            names << QFileInfo(output).fileName();
        QCOMPARE(names, done);
        const qsizetype chain = done.size() - 1; // y.out comes last
        const auto inputOf = [&](qsizetype i) { return rig.job(done[i]).replace(".out", ".inp"); };
        for (qsizetype i = 0; i < chain; ++i) {
            QCOMPARE(finished[i].continuedAs, i + 1 < chain ? inputOf(i + 1) : QString());
            QCOMPARE(ClassifyJobOutcome(rig.job(done[i])).outcome,
                     done[i] == "x-cont2.out" ? JobOutcome::Converged : JobOutcome::NotConverged);
            if (i > 0)
                QCOMPARE(atomCards(readFile(inputOf(i))), lastBlock(readFile(rig.job(done[i - 1]))));
        }
        QCOMPARE(finished[chain - 1].notContinued, notContinued);
        QVERIFY(!QFile::exists(rig.job(QStringLiteral("x-cont%1.inp").arg(chain))));
        if (atMost > 0)
            QCOMPARE(rig.runner.Chains().Text(rig.job("x-cont1.inp"), atMost),
                     "continuation 1 of at most " + QString::number(atMost) + " of x.inp");
    }
};

QTEST_GUILESS_MAIN(TestContinuations)
#include "tst_continuations.moc"
