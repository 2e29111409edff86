// What Nelo says to a remote shell and how it reads the answer, run against
// the shells of this machine (the login shell of a cluster is one of them):
// the quoting of every word, the framed requests with a login that prints
// text first, answers cut short, and the small rules of the SSH backend
// (names of files coming home, ssh's questions, the delays between
// attempts to connect, ssh's arguments).

#include "cluster/RemoteShell.h"
#include "cluster/SshCluster.h"
#include "cluster/SshConnection.h"
#include "tests/helpers/Files.h"

#include <QtTest>

namespace {

QByteArray shell(const QString &program, const QByteArray &line, const QString &folder, const QString &input = {})
{
    QProcess process;
    process.setWorkingDirectory(folder);
    if (!input.isEmpty())
        process.setStandardInputFile(input);
    process.start(program, {QStringLiteral("-c"), QFile::decodeName(line)});
    process.waitForFinished(10000);
    return process.readAllStandardOutput();
}

} // namespace

class TestRemoteShell : public QObject
{
    Q_OBJECT

private slots:
    void quoting_data()
    {
        QTest::addColumn<QByteArray>("word");
        QTest::newRow("plain") << QByteArray("abc");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("blanks") << QByteArray(" a  b\t");
        QTest::newRow("single quotes") << QByteArray("it's ''");
        QTest::newRow("double quotes") << QByteArray("\"q\"");
        QTest::newRow("command") << QByteArray("$(touch pwned)");
        QTest::newRow("backticks") << QByteArray("`touch pwned`");
        QTest::newRow("semicolon") << QByteArray("a; touch pwned");
        QTest::newRow("backslashes") << QByteArray("b\\c\\");
        QTest::newRow("line feeds") << QByteArray("a\nb\n");
        QTest::newRow("non-ASCII") << QByteArray("\xc3\xa9\xe2\x82\xac");
        QTest::newRow("globs and variables") << QByteArray("* ? [a] ~ $HOME ${x} !1 &|<>");
        QTest::newRow("an option") << QByteArray("-n");
        QTest::newRow("all at once") << QByteArray(" a \"q\" 'x' $(touch pwned); b\\c\n\xc3\xa9");
    }
    // Every shell reads the word back byte for byte and runs nothing.
    void quoting()
    {
        QFETCH(QByteArray, word);
        for (const QString &program : {QStringLiteral("/bin/sh"), QStringLiteral("bash")}) {
            QTemporaryDir dir;
            QCOMPARE(shell(program, "printf %s " + ShellQuote(word), dir.path()), word);
            QCOMPARE(shell(program, "printf '%s|' " + ShellWords({QFile::decodeName(word), "x"}), dir.path()),
                     word + "|x|");
            QVERIFY(!QFile::exists(dir.filePath("pwned")));
        }
    }

    // A script of every kind of request, through a login that prints text
    // (and a look-alike of a frame) first: each answer as asked.
    void framedRequests()
    {
        QTemporaryDir dir;
        const QByteArray bytes = QByteArray("line one\r\nNELOfake B\n\0binary\xff", 25) + QByteArray(3000, 'x');
        QVERIFY(writeFile(dir.filePath("out"), bytes));
        const QString odd = QStringLiteral("odd name\n$(x) \u00e9");
        QVERIFY(writeFile(dir.filePath(odd), "12345"));
        QVERIFY(writeFile(dir.filePath(".hidden"), ""));
        QVERIFY(QDir(dir.path()).mkdir("sub"));
        QVERIFY(writeFile(dir.filePath("input"), "from standard input\n"));

        RemoteScript script;
        script.Command("cat > " + ShellQuote(dir.filePath("copy")));
        script.Command(ShellWords({"printf", "%s", "no line end"}));
        script.Command("exit 3");
        script.Fetch(dir.filePath("out"), 0, 10);
        script.Fetch(dir.filePath("out"), 10, 1 << 20);
        script.Fetch(dir.filePath("out"), bytes.size() + 5, 10);
        script.Fetch(dir.filePath("missing"), 0, 10);
        script.List(dir.path());
        const QByteArray out = shell("/bin/sh", "echo Welcome to the cluster; printf 'NELOfake B\\n'; " + script.Line(),
                                     dir.path(), dir.filePath("input"));
        const RemoteAnswer answer = ParseRemoteAnswer(out, script.Frame());

        QVERIFY(answer.whole);
        QCOMPARE(readFile(dir.filePath("copy")), QByteArray("from standard input\n"));
        QCOMPARE(answer.commands.size(), 3);
        QCOMPARE(answer.commands[0].status, 0);
        QCOMPARE(answer.commands[1].output, QByteArray("no line end"));
        QCOMPARE(answer.commands[2].status, 3);
        QCOMPARE(answer.files.size(), 4);
        QCOMPARE(answer.files[0].size, bytes.size());
        QCOMPARE(answer.files[0].bytes + answer.files[1].bytes, bytes);
        QCOMPARE(answer.files[2].bytes, QByteArray());
        QCOMPARE(answer.files[3].size, -1);
        QCOMPARE(answer.listings.size(), 1);
        QMap<QByteArray, qint64> listed;
        for (const RemoteAnswer::Entry &entry : answer.listings[0])
            listed.insert(entry.name, entry.size);
        QCOMPARE(listed, (QMap<QByteArray, qint64>{{".hidden", 0}, {"copy", 20}, {"input", 20},
                                                    {QFile::encodeName(odd), 5}, {"out", bytes.size()}}));

        // An answer cut anywhere, or framed by another word, is no answer.
        for (qsizetype cut = out.indexOf(script.Frame() + " B"); cut < out.size(); ++cut)
            QVERIFY2(!ParseRemoteAnswer(out.left(cut), script.Frame()).whole, qPrintable(QString::number(cut)));
        QVERIFY(!ParseRemoteAnswer(out, "NELOother").whole);
    }

    void homeNames_data()
    {
        QTest::addColumn<QString>("clusterFile");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("expected");
        QTest::newRow("PUNCH") << "water.dat" << QStringList() << "water_2.dat";
        QTest::newRow("Slurm's log") << "water.slurm.log" << QStringList() << "water_2.slurm.log";
        QTest::newRow("another name") << "fort.7" << QStringList() << "water_2.fort.7";
        QTest::newRow("the stem, then more") << "waterfall.txt" << QStringList() << "water_2.waterfall.txt";
        QTest::newRow("taken") << "water.dat" << QStringList{"water_2.dat"} << "water_2_1.dat";
        QTest::newRow("taken twice") << "water.irc" << QStringList{"water_2.irc", "water_2_1.irc"} << "water_2_2.irc";
    }
    // Named after the local output, never over a file that is there.
    void homeNames()
    {
        QFETCH(QString, clusterFile);
        QFETCH(QStringList, existing);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        for (const QString &name : existing)
            QVERIFY(writeFile(dir.filePath(name), "mine"));
        QCOMPARE(SshCluster::HomeNameFor(dir.filePath("water_2.out"), "water.out", QFile::encodeName(clusterFile)),
                 dir.filePath(expected));
    }

    void questions_data()
    {
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("expected");
        QTest::newRow("passphrase") << "Enter passphrase for key '/home/a/.ssh/id_ed25519': " << "" << int(SshQuestion::Secret);
        QTest::newRow("password") << "alice@login.hpc's password: " << "" << int(SshQuestion::Secret);
        QTest::newRow("one-time code") << "(alice@login.hpc) Verification code: " << "" << int(SshQuestion::Secret);
        QTest::newRow("host key") << "The authenticity of host '[127.0.0.1]:2222' can't be established.\n"
                                     "Are you sure you want to continue connecting (yes/no/[fingerprint])? "
                                  << "" << int(SshQuestion::Visible);
        QTest::newRow("confirmation") << "Allow use of key /k?" << "confirm" << int(SshQuestion::Confirm);
    }
    void questions()
    {
        QFETCH(QString, prompt);
        QFETCH(QString, kind);
        QFETCH(int, expected);
        QCOMPARE(int(SshQuestionKind(prompt, kind)), expected);
    }

    // ssh's own checks stay as they are; one master per destination, in a
    // folder only the user may enter.
    void sshArguments()
    {
        QTemporaryDir dir;
        const QString control = dir.filePath("ctl");
        SshConnection ssh("alice@hpc", dir.filePath("config"), "/askpass", control);
        const QStringList master = ssh.MasterArguments();
        const QStringList command = ssh.CommandArguments("true");
        for (const QStringList &arguments : {master, command}) {
            QVERIFY(!arguments.join(' ').contains("StrictHostKeyChecking", Qt::CaseInsensitive));
            QCOMPARE(arguments.mid(arguments.indexOf("--") + 1, 1), QStringList("alice@hpc"));
            QVERIFY(arguments.filter(QRegularExpression("^ControlPath=" + QRegularExpression::escape(control) + "/%C-[0-9a-f]{8}$"))
                        .size() == 1);
        }
        QVERIFY(master.contains("ControlPersist=60") && master.contains("-N"));
        QVERIFY(command.contains("ControlMaster=no") && command.contains("BatchMode=yes"));
        QCOMPARE(command.last(), QStringLiteral("true"));

        QCOMPARE(SshConnection::PrepareControlFolder(control), QString());
        QCOMPARE(QFileInfo(control).permissions() & 0x0077, QFileDevice::Permissions());
        QVERIFY(QFile::setPermissions(control, QFileDevice::Permissions(0x7755)));
        QVERIFY(SshConnection::PrepareControlFolder(control).contains("is not yours alone"));

        const QList<int> delays{5000, 10000, 20000, 40000, 60000, 60000};
        for (int attempt = 1; attempt <= delays.size(); ++attempt)
            QCOMPARE(SshConnection::RetryDelayMs(attempt), delays[attempt - 1]);
        QCOMPARE(SshConnection::MessageOf("\r\nssh: connect to host x port 22: Connection refused\r\n"),
                 QStringLiteral("ssh: connect to host x port 22: Connection refused"));
        QCOMPARE(SshConnection::MessageOf("@@@@@@@@\n@    WARNING: REMOTE HOST IDENTIFICATION HAS CHANGED!     @\n"
                                          "@@@@@@@@\nIT IS POSSIBLE THAT SOMEONE IS DOING SOMETHING NASTY!\n"),
                 QStringLiteral("WARNING: REMOTE HOST IDENTIFICATION HAS CHANGED!\n"
                                "IT IS POSSIBLE THAT SOMEONE IS DOING SOMETHING NASTY!"));
    }
};

QTEST_GUILESS_MAIN(TestRemoteShell)
#include "tst_remoteshell.moc"
