#include "analysis/OrbitalReport.h"
#include "analysis/TableExport.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "platform/Notices.h"
#include "tests/helpers/Files.h"
#include "tests/helpers/Samples.h"
#include "ui/ReportForm.h"

#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

// Records the showing instead of running a modal loop.
class RecordingHLDlg : public THLDlg
{
public:
    int showings = 0;
    QString textWhenShown;
    int ShowModal() override
    {
        ++showings;
        textWhenShown = MemoText();
        return QDialog::Accepted;
    }
};

QString sample(const char *name)
{
    return QStringLiteral(NELO_SAMPLES_DIR "/%1").arg(QLatin1String(name));
}

QString expectedLine(const char *name)
{
    QFile file(QStringLiteral(NELO_SAMPLES_DIR "/expected/%1.homo-lumo.txt").arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(file.readAll()).trimmed();
}

} // namespace

class TestReportForm : public QObject
{
    Q_OBJECT

    QTemporaryDir temp;

    QString writeFile(const QString &name, const QByteArray &content)
    {
        QFile file(temp.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
        return file.fileName();
    }

private slots:
    void layout()
    {
        THLDlg dlg;
        QCOMPARE(dlg.windowTitle(),
                 QStringLiteral("Compound          - HOMO (eV) -  LUMO(eV) -  Eg (eV) - ETot (kcal/mol)"));
        QCOMPARE(dlg.size(), QSize(551, 416));
        QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
        auto *memo = dlg.findChild<QPlainTextEdit *>(QStringLiteral("DataMemo"));
        auto *ok = dlg.findChild<QPushButton *>(QStringLiteral("OKBtn"));
        auto *copy = dlg.findChild<QPushButton *>(QStringLiteral("CopyBtn"));
        QVERIFY(memo && ok && copy);
        QCOMPARE(memo->geometry(), QRect(0, 0, 462, 416));
        QCOMPARE(memo->palette().color(QPalette::Base), QColor(0, 255, 255));
        const QFontMetrics metrics(memo->font());   // fixed pitch: every character as wide as the next
        QCOMPARE(metrics.horizontalAdvance(QLatin1Char('i')), metrics.horizontalAdvance(QLatin1Char('W')));
        QCOMPARE(metrics.horizontalAdvance(QLatin1Char('.')), metrics.horizontalAdvance(QLatin1Char('0')));
        QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QVERIFY(!memo->isReadOnly());
        QCOMPARE(ok->text(), QStringLiteral("OK"));
        QCOMPARE(copy->text(), QStringLiteral("Copy"));
        QVERIFY(ok->isDefault());
        QCOMPARE(ok->nextInFocusChain(), memo);
        QWidget *next = memo->nextInFocusChain();
        while (next != copy && !(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        QCOMPARE(next, copy);
    }

    void copyPutsTheWholeMemoOnTheClipboardAndCloses()
    {
        THLDlg dlg;
        dlg.AppendLine(QStringLiteral("water          \t-13.41\t+5.73\t+19.15\t-941.26"));
        dlg.AppendLine(QStringLiteral("dvb\xe9          \t-6.35\t+5.63\t+11.98\t-238314.27"));
        dlg.show();
        // The user's own edits go along.
        auto *memo = dlg.findChild<QPlainTextEdit *>(QStringLiteral("DataMemo"));
        memo->moveCursor(QTextCursor::End);
        QTest::keyClicks(memo, QStringLiteral("note"));
        QGuiApplication::clipboard()->setText(QStringLiteral("old"));
        dlg.findChild<QPushButton *>(QStringLiteral("CopyBtn"))->click();
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("water          \t-13.41\t+5.73\t+19.15\t-941.26\r\n"
                                "dvb\xe9          \t-6.35\t+5.63\t+11.98\t-238314.27\r\n"
                                "note"));
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
    }

    void okClosesWithoutCopying()
    {
        THLDlg dlg;
        dlg.AppendLine(QStringLiteral("line"));
        dlg.show();
        QGuiApplication::clipboard()->setText(QStringLiteral("old"));
        dlg.findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("old"));
    }

    void showModalRunsTheDialog()
    {
        THLDlg dlg;
        bool wasVisible = false;
        QTimer::singleShot(0, &dlg, [&] {
            wasVisible = dlg.isVisible() && dlg.isModal();
            dlg.findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
        });
        QCOMPARE(dlg.ShowModal(), int(QDialog::Accepted));
        QVERIFY(wasVisible);
    }

    void reportOfSelectedFiles()
    {
        NELO_REQUIRE_SAMPLES();
        RecordingHLDlg dlg;
        dlg.AppendLine(QStringLiteral("left from last time"));
        EgMenuItemClick(dlg, {sample("water_mp2.out"), sample("dvb_gopt_a.out")});
        QCOMPARE(dlg.showings, 1);
        QCOMPARE(dlg.textWhenShown,
                 expectedLine("water_mp2") + QStringLiteral("\r\n") + expectedLine("dvb_gopt_a") + QStringLiteral("\r\n"));
    }

    void nameShownInTheFileSystemsEncoding()
    {
        NELO_REQUIRE_SAMPLES();
        QVERIFY(temp.isValid());
        const QString copy = temp.filePath(QStringLiteral("w\u00e4ter.out"));
        QVERIFY(QFile::copy(sample("water_mp2.out"), copy));
        RecordingHLDlg dlg;
        EgMenuItemClick(dlg, {copy});
        QVERIFY2(dlg.textWhenShown.startsWith(QStringLiteral("w\u00e4ter")), qPrintable(dlg.textWhenShown));
        QVERIFY(dlg.textWhenShown.endsWith(expectedLine("water_mp2").mid(15) + QStringLiteral("\r\n")));
    }

    void errorInTheSecondOfThreeFiles()
    {
        NELO_REQUIRE_SAMPLES();
        QVERIFY(temp.isValid());
        const QString broken = writeFile(QStringLiteral("broken.out"), "not a Firefly output\r\n");
        RecordingHLDlg dlg;
        bool thrown = false;
        try {
            EgMenuItemClick(dlg, {sample("water_mp2.out"), broken, sample("dvb_gopt_a.out")});
        } catch (const NeloError &) {
            thrown = true;
        }
        QVERIFY(thrown);
        QCOMPARE(dlg.showings, 0);
        // The first file's line stays; the third file was never read.
        QCOMPARE(dlg.MemoText(), expectedLine("water_mp2") + QStringLiteral("\r\n"));
    }

    void missingFileEndsTheCommand()
    {
        RecordingHLDlg dlg;
        QVERIFY_THROWS_EXCEPTION(NeloError, EgMenuItemClick(dlg, {temp.filePath(QStringLiteral("gone.out"))}));
        QCOMPARE(dlg.showings, 0);
        QCOMPARE(dlg.MemoText(), QString());
    }

    // An error names the file it came from, unless its text already does.
    void errorNamesItsFile()
    {
        const QString broken = writeFile(QStringLiteral("broken.out"), "not a Firefly output\r\n");
        const QString gone = temp.filePath(QStringLiteral("gone.out"));
        for (const auto &[path, start] : {std::pair(broken, broken + ": Marker line \""),
                                          std::pair(gone, "Cannot open file \"" + gone + '"')}) {
            RecordingHLDlg dlg;
            try {
                EgMenuItemClick(dlg, {path});
                QFAIL("no error");
            } catch (const NeloError &error) {
                QVERIFY2(error.message().startsWith(start) && error.message().count(path) == 1,
                         qPrintable(error.message()));
            }
        }
    }

    // Save as CSV, below Copy: the files' numbers as read and as the table
    // shows them; the dialog stays open; Cancel writes nothing; a file that
    // cannot be written is reported.
    void saveAsCsv()
    {
        NELO_REQUIRE_SAMPLES();
        QStringList errors;
        Notices::SetErrorPresenter([&](const QString &text) { errors << text; });
        QStringList answer;
        Dialogs::SetAnswerer([&](const Dialogs::Request &request) {
            return request.kind == Dialogs::Kind::SaveFile && request.filter == "CSV files (*.csv)|*.csv" ? answer
                                                                                                       : QStringList();
        });
        RecordingHLDlg dlg;
        auto *save = dlg.findChild<QPushButton *>(QStringLiteral("SaveCsvBtn"));
        QVERIFY(save);
        QCOMPARE(save->text(), QStringLiteral("Save as CSV..."));
        QCOMPARE(save->geometry(), QRect(468, 70, 75, 25));
        QCOMPARE(dlg.findChild<QPushButton *>(QStringLiteral("CopyBtn"))->nextInFocusChain(), save);

        EgMenuItemClick(dlg, {sample("dvb_gopt_a.out")});
        EgMenuItemClick(dlg, {sample("water_mp2.out"), sample("dvb_gopt_a.out")}); // the rows start anew
        dlg.show();
        answer = QStringList{temp.filePath("table.csv")};
        save->click();
        const QByteArrayList rows = readFile(temp.filePath("table.csv")).split('\n');
        QCOMPARE(rows.size(), 4);
        QCOMPARE(readFile(temp.filePath("table.csv")), OrbitalReportCsv(dlg.Rows()));
        QCOMPARE(dlg.Rows().size(), 2);
        QVERIFY(rows[1].startsWith(QFile::encodeName(sample("water_mp2.out")) + ','));
        QVERIFY(rows[1].endsWith(expectedLine("water_mp2").section('\t', 1).replace('\t', ',').toLatin1()));
        QVERIFY(dlg.isVisible());
        QCOMPARE(dlg.MemoText(), expectedLine("water_mp2") + "\r\n" + expectedLine("dvb_gopt_a") + "\r\n");

        answer.clear();
        QFile::remove(temp.filePath("table.csv"));
        save->click();
        QVERIFY(!QFile::exists(temp.filePath("table.csv")));
        answer = QStringList{temp.filePath("no folder/table.csv")};
        save->click();
        QCOMPARE(errors, QStringList{"Unable to write to " + temp.filePath("no folder/table.csv") + "."});
        Dialogs::SetAnswerer(nullptr);
    }

    void nothingSelectedShowsAnEmptyMemo()
    {
        RecordingHLDlg dlg;
        dlg.AppendLine(QStringLiteral("left from last time"));
        EgMenuItemClick(dlg, {});
        QCOMPARE(dlg.showings, 1);
        QCOMPARE(dlg.textWhenShown, QString());
    }

    void selectedEntriesInListOrder()
    {
        QListWidget list;
        list.setSelectionMode(QAbstractItemView::ExtendedSelection);
        list.addItems({"/o/a.out", "/o/b.out", "/o/c.out", "/o/d.out"});
        list.item(3)->setSelected(true);
        list.item(0)->setSelected(true);
        list.item(2)->setSelected(true);
        QCOMPARE(SelectedEntries(list), (QStringList{"/o/a.out", "/o/c.out", "/o/d.out"}));
        list.clearSelection();
        QCOMPARE(SelectedEntries(list), QStringList());
    }
};

QTEST_MAIN(TestReportForm)
#include "tst_reportform.moc"
