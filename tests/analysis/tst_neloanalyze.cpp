#include "tests/helpers/Samples.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run runTool(const QStringList &arguments, const QString &workingDirectory = QString())
{
    QProcess process;
    process.setWorkingDirectory(workingDirectory);
    process.start(QStringLiteral(NELO_ANALYZE_PATH), arguments);
    Run run;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(cannot read " + path.toUtf8() + ")");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

class TestNeloAnalyze : public QObject
{
    Q_OBJECT

private slots:
    // The real Firefly outputs give exactly the recorded results.
    void realOutputs_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected");
        for (const char *name : {"dvb_gopt_a", "water_mp2", "dvb_un_sp"}) {
            const QString out = QString::fromLatin1(name) + ".out";
            QTest::addRow("progress %s", name) << QStringList{"progress", out} << name + QString(".progress.txt");
            QTest::addRow("homo-lumo %s", name) << QStringList{"homo-lumo", out} << name + QString(".homo-lumo.txt");
        }
        QTest::newRow("progress, one scanner for three files")
            << QStringList{"progress", "dvb_gopt_a.out", "water_mp2.out", "dvb_un_sp.out"}
            << QString("all-three.progress.txt");
    }
    void realOutputs()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        NELO_REQUIRE_SAMPLES();
        const QDir samples(QStringLiteral(NELO_SAMPLES_DIR));
        const Run run = runTool(arguments, samples.path());
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, readFile(samples.filePath("expected/" + expected)));
    }

    // How the real jobs ended; the exit status gates on it.
    void outcomeOfTheRealOutputs()
    {
        NELO_REQUIRE_SAMPLES();
        const QDir samples(QStringLiteral(NELO_SAMPLES_DIR));
        const Run run = runTool({"outcome", "dvb_gopt_a.out", "water_mp2.out", "dvb_un_sp.out"}, samples.path());
        QCOMPARE(run.out, QByteArray("dvb_gopt_a.out\tconverged\t***** EQUILIBRIUM GEOMETRY LOCATED *****\n"
                                     "water_mp2.out\tnormal\tEXECUTION OF FIREFLY TERMINATED NORMALLY 21:06:13  9-MAY-2014\n"
                                     "dvb_un_sp.out\tscf-failed\tSCF IS UNCONVERGED, TOO MANY ITERATIONS\n"));
        QCOMPARE(run.exitCode, 1); // the SCF of dvb_un_sp did not converge
        QCOMPARE(runTool({"outcome", "dvb_gopt_a.out", "water_mp2.out"}, samples.path()).exitCode, 0);
    }

    // --json: one object per file, parsed back, holding what the lines hold;
    // a file that fails gets an object with its error.
    void jsonObjectsPerFile_data()
    {
        QTest::addColumn<QString>("command");
        for (const char *command : {"progress", "homo-lumo", "outcome"})
            QTest::newRow(command) << QString::fromLatin1(command);
    }
    void jsonObjectsPerFile()
    {
        QFETCH(QString, command);
        NELO_REQUIRE_SAMPLES();
        const QDir samples(QStringLiteral(NELO_SAMPLES_DIR));
        const QStringList files{"dvb_gopt_a.out", "water_mp2.out", "dvb_un_sp.out"};
        const Run text = runTool(QStringList{command} + files, samples.path());
        const Run json = runTool(QStringList{command, "--json"} + files + QStringList{"expected"}, samples.path()); // a folder
        QCOMPARE(json.exitCode, 1);
        QVERIFY(json.err.startsWith("expected: Cannot open file"));
        QByteArrayList objects = json.out.split('\n');
        QCOMPARE(objects.takeLast(), QByteArray());
        QCOMPARE(objects.size(), files.size() + 1);
        QByteArray joined; // the lines of the text form, rebuilt from the objects
        for (qsizetype i = 0; i < objects.size(); ++i) {
            QJsonParseError error;
            const QJsonObject o = QJsonDocument::fromJson(objects.at(i), &error).object();
            QCOMPARE(error.error, QJsonParseError::NoError);
            QCOMPARE(o.value("file").toString(), i < files.size() ? files.at(i) : QStringLiteral("expected"));
            if (i == files.size()) {
                QVERIFY(o.value("error").toString().startsWith("Cannot open file"));
            } else if (command == "progress") {
                for (const QJsonValue &entry : o.value("entries").toArray())
                    joined += entry.toString().toLatin1().replace('\\', "\\\\").replace('\r', "\\r").replace('\n', "\\n") + '\n';
            } else if (command == "homo-lumo") {
                joined += o.value("name").toString().leftJustified(15).toLatin1();
                for (const char *key : {"homo_ev", "lumo_ev", "gap_ev", "total_energy_kcal_mol"}) {
                    const double v = o.value(key).toDouble();
                    joined += '\t' + QByteArray(v >= 0 && key[0] != 't' ? "+" : "") + QByteArray::number(v, 'f', 2);
                }
                joined += '\n';
            } else {
                joined += o.value("file").toString().toLatin1() + '\t' + o.value("outcome").toString().toLatin1() + '\t'
                          + o.value("reason").toString().toLatin1() + '\n';
                QVERIFY(!o.value("text").toString().isEmpty());
            }
        }
        QCOMPARE(joined, text.out);
    }

    // continue: the deck on standard output, the same from the input file
    // and from the echoed cards; a refusal or a missing file on standard
    // error with status 1.
    void continueTheRealOptimisation()
    {
        NELO_REQUIRE_SAMPLES();
        const QDir samples(QStringLiteral(NELO_SAMPLES_DIR));
        const Run withInput = runTool({"continue", "dvb_gopt_a.out", "dvb_gopt_a.inp"}, samples.path());
        QCOMPARE(withInput.err, QByteArray());
        QCOMPARE(withInput.exitCode, 0);
        QVERIFY(withInput.out.contains("\r\n C 6              -0.2292900177 -1.3927230046  0.0000000000\r\n"));
        QCOMPARE(withInput.out.size(), readFile(samples.filePath("dvb_gopt_a.inp")).size());
        QCOMPARE(runTool({"continue", "dvb_gopt_a.out"}, samples.path()).out, withInput.out);

        const Run single = runTool({"continue", "water_mp2.out", "water_mp2.inp"}, samples.path());
        QCOMPARE(single.exitCode, 1);
        QCOMPARE(single.out, QByteArray());
        QCOMPARE(single.err, "water_mp2.out: The output holds no geometry search: it is not an optimisation.\n");
        const Run missing = runTool({"continue", "dvb_gopt_a.out", "gone.inp"}, samples.path());
        QCOMPARE(missing.exitCode, 1);
        QVERIFY2(missing.err.startsWith("dvb_gopt_a.out: Cannot open file \"gone.inp\""), missing.err.constData());
    }

    void progressEscapesLineBreaksAndBackslashes()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // A lone CR becomes CR LF as Parse loads the file; the step prefix
        // reaches over it into the next line.
        writeFile(dir.filePath("a.out"), "  NSERCH= C:\\x\rY\nMAXIMUM GRADIENT = 0.5\n");
        const Run run = runTool({"progress", "a.out"}, dir.path());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QByteArray("STEP = C:\\\\x\\r\\nY\\r\\nMAXIMUM GRADIENT = 0." // prefix: 32 bytes from "="
                                      "\\nY\\r\\nMAXIMUM GRADIENT = 0.5\\r\\n\n"));
    }

    void failedFilesAreReportedAndTheRestIsRead()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        writeFile(dir.filePath("no markers.out"), "nothing here\r\n");
        writeFile(dir.filePath("step.out"), "MAXIMUM GRADIENT = 1\r\n");
        const Run progress = runTool({"progress", "missing.out", "step.out"}, dir.path());
        QCOMPARE(progress.exitCode, 1);
        QCOMPARE(progress.out, QByteArray("MAXIMUM GRADIENT = 1\\r\\n\n"));
        QVERIFY2(progress.err.startsWith("missing.out: Cannot open file \""), progress.err.constData());
        QCOMPARE(progress.err.count('\n'), 1);

        // The scan state goes on across a file that fails: the step prefix of
        // the first file, a folder and a missing file, the gradient of the last.
        writeFile(dir.filePath("step only.out"), "  NSERCH=  7\r\n");
        QVERIFY(QDir(dir.path()).mkdir("folder"));
        const Run across = runTool({"progress", "step only.out", "folder", "missing.out", "step.out"}, dir.path());
        QCOMPARE(across.exitCode, 1);
        QCOMPARE(across.out, QByteArray("STEP =  7\\r\\nMAXIMUM GRADIENT = 1\\r\\n\n"));
        QCOMPARE(across.err, "folder: Cannot open file \"folder\". file to open is a directory\n"
                             "missing.out: Cannot open file \"missing.out\". No such file or directory\n");

        const Run report = runTool({"homo-lumo", "no markers.out", "missing.out"}, dir.path());
        QCOMPARE(report.exitCode, 1);
        QCOMPARE(report.out, QByteArray());
        QVERIFY2(report.err.startsWith("no markers.out: Marker line \" SYMMETRIES"), report.err.constData());
        QVERIFY2(report.err.contains("\nmissing.out: Cannot open file"), report.err.constData());
    }

    void usage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("outStart");
        QTest::newRow("version") << QStringList{"--version"} << 0 << QByteArray("nelo-analyze 1.1.0.12\n");
        QTest::newRow("help") << QStringList{"--help"} << 0 << QByteArray("Usage: nelo-analyze COMMAND FILE...\n");
        QTest::newRow("nothing") << QStringList{} << 2 << QByteArray();
        QTest::newRow("command without files") << QStringList{"progress"} << 2 << QByteArray();
        QTest::newRow("outcome without files") << QStringList{"outcome", "--json"} << 2 << QByteArray();
        QTest::newRow("unknown command") << QStringList{"homo", "x.out"} << 2 << QByteArray();
        QTest::newRow("continue without its output") << QStringList{"continue"} << 2 << QByteArray();
        QTest::newRow("continue with three files") << QStringList{"continue", "a.out", "a.inp", "b.inp"} << 2 << QByteArray();
    }
    void usage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, outStart);
        const Run run = runTool(arguments);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY(run.out.startsWith(outStart));
        if (exitCode == 0)
            QCOMPARE(run.out.endsWith('\n'), true);
        else
            QVERIFY(run.err.startsWith("Usage: nelo-analyze"));
    }
};

QTEST_GUILESS_MAIN(TestNeloAnalyze)
#include "tst_neloanalyze.moc"
