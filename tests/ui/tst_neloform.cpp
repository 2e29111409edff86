// The main window offscreen: the queue and the processed list, drops, the
// popup menu, the "X" argument, Exit, closing, and the window operations the
// runner uses. Notices, errors and file dialogs are recorded; nothing is
// ever powered off.

#include "jobs/CommandLine.h"
#include "jobs/JobRunner.h"
#include "tests/helpers/ArgvRecord.h"
#include "tests/helpers/Controls.h"
#include "tests/helpers/Files.h"
#include "tests/helpers/Recorders.h"
#include "tests/helpers/Samples.h"
#include "tests/helpers/Standin.h"
#include "platform/Dialogs.h"
#include "platform/Notices.h"
#include "platform/PowerOff.h"
#include "ui/ConvergenceChart.h"
#include "ui/ConvergenceForm.h"
#include "ui/NeloForm.h"
#include "ui/OutcomeIcons.h"
#include "ui/ReportForm.h"
#include "ui/SettingsForm.h"
#include "ui/StateReport.h"

#include <QtTest>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLineSeries>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTableView>

#include <memory>

class TestNeloForm : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QStringList m_notices;
    QStringList m_errors;
    QList<Dialogs::Request> m_requests;
    QStringList m_answer;
    PowerOffRecorder m_powerOff;
    ClipboardRecorder m_clipboard;
    int m_quits = 0;
    bool m_settingsDialogShown = false;
    bool m_mainWindowShownBeforeDialog = false;
    bool m_trayAvailable = true;
    std::unique_ptr<TForm1> m_form;

    QString settingsPath() const { return m_dir.filePath(QStringLiteral("nelo.INI")); }

    // A window as Nelo's main makes it, with settings that need no dialog.
    std::unique_ptr<TForm1> makeForm(const QStringList &arguments = {QStringLiteral("nelo")},
                                     const QString &settingsFile = QString())
    {
        TForm1::Environment environment;
        environment.arguments = arguments;
        environment.settingsFile = settingsFile.isEmpty() ? settingsPath() : settingsFile;
        environment.clipboard = &m_clipboard;
        environment.powerOff = &m_powerOff;
        environment.trayAvailable = [this] { return m_trayAvailable; };
        environment.quit = [this] { ++m_quits; };
        auto form = std::make_unique<TForm1>(environment);
        // Without Firefly and its folder the settings dialog comes first,
        // modally: note it and cancel it.
        m_settingsDialogShown = false;
        QTimer::singleShot(0, this, [this] {
            if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                m_settingsDialogShown = dialog->objectName() == QLatin1String("SettingsDlg");
                m_mainWindowShownBeforeDialog = dialog->parentWidget() && dialog->parentWidget()->isVisible();
                dialog->reject();
            }
        });
        form->FormCreate();
        return form;
    }

    template <class T>
    T *control(const char *name) const { return findControl<T>(m_form.get(), name); }
    QListWidget *jobs() const { return control<QListWidget>("JobListBox"); }
    QListWidget *done() const { return control<QListWidget>("DoneListBox"); }
    QAction *parseItem() const { return control<QAction>("ParseMenuItem"); }
    QAction *egItem() const { return control<QAction>("EgMenuItem"); }
    QAction *convergenceItem() const { return control<QAction>("ConvergenceMenuItem"); }
    QAction *continueItem() const { return control<QAction>("ContinueMenuItem"); }
    ConvergenceChart *chartPanel() const { return control<ConvergenceChart>("ChartPanel"); }

    // Drops local files (or web addresses) on the input queue the way the desktop does.
    void drop(const QStringList &items)
    {
        QList<QUrl> urls;
        for (const QString &item : items)
            urls << (item.contains(QLatin1String("://")) ? QUrl(item) : QUrl::fromLocalFile(item));
        QMimeData mime;
        mime.setUrls(urls);
        QWidget *target = jobs()->viewport();
        const QPointF at(10, 10);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent dropEvent(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &dropEvent);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        Notices::SetNoticePresenter([this](const QString &text) { m_notices << text; });
        Notices::SetErrorPresenter([this](const QString &text) { m_errors << text; });
        Dialogs::SetAnswerer([this](const Dialogs::Request &request) {
            m_requests << request;
            return m_answer;
        });
    }

    void init()
    {
        m_notices.clear();
        m_errors.clear();
        m_requests.clear();
        m_answer.clear();
        m_quits = 0;
        m_trayAvailable = true;
        QVERIFY(writeFile(settingsPath(), "[Settings]\nEXEFile=/opt/firefly/firefly\nDirList=/tmp/work\n"));
        m_form = makeForm();
    }

    void cleanup() { m_form.reset(); }

    void startState()
    {
        QCOMPARE(m_form->windowTitle(), QStringLiteral("Nelo - Korvane"));
        QCOMPARE(m_form->minimumWidth(), 754);
        QCOMPARE(m_form->maximumWidth(), 755);
        QCOMPARE(m_form->minimumHeight(), 600);
        QVERIFY(control<QPushButton>("RunBtn")->isEnabled());
        QVERIFY(!control<QPushButton>("AbortBtn")->isEnabled());
        QVERIFY(control<QPushButton>("ExitBtn")->isEnabled());
        QVERIFY(!control<QCheckBox>("PowerOffCB")->isChecked());
        QCOMPARE(control<QLabel>("OutLab")->text(), QStringLiteral("Active Job:"));
        QCOMPARE(jobs()->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(done()->selectionMode(), QAbstractItemView::ExtendedSelection);
        QVERIFY(control<QPlainTextEdit>("Memo1")->isReadOnly());
        QCOMPARE(m_form->SettingsDialog()->isVisible(), false);
        QCOMPARE(m_form->JobSettings().EXEFile, QStringLiteral("/opt/firefly/firefly"));
        QCOMPARE(m_form->PopupMenu1->actions(),
                 (QList<QAction *>{parseItem(), egItem(), convergenceItem(), continueItem()}));
        QCOMPARE(convergenceItem()->text(), QStringLiteral("Convergence..."));
        QCOMPARE(continueItem()->text(), QStringLiteral("Continue from last geometry"));
    }

    void dropOnQueue_data()
    {
        QTest::addColumn<QStringList>("dropped");
        QTest::addColumn<QStringList>("queued");
        QTest::addColumn<QStringList>("notices");
        const QString input = QStringLiteral("/data/run 1/water.inp");
        QTest::newRow("one input") << QStringList{input} << QStringList{"/old.inp", input} << QStringList{};
        QTest::newRow("any extension") << QStringList{"/data/notes.txt"} << QStringList{"/old.inp", "/data/notes.txt"}
                                       << QStringList{};
        QTest::newRow("a folder") << QStringList{"/data/run 1"} << QStringList{"/old.inp", "/data/run 1"}
                                  << QStringList{};
        QTest::newRow("two files") << QStringList{input, "/data/b.inp"} << QStringList{"/old.inp"}
                                   << QStringList{"You can drop only one file at a time!"};
        QTest::newRow("a file and a web address") << QStringList{input, "https://example.org/b.inp"}
                                                  << QStringList{"/old.inp"}
                                                  << QStringList{"You can drop only one file at a time!"};
    }
    void dropOnQueue()
    {
        QFETCH(QStringList, dropped);
        QFETCH(QStringList, queued);
        QFETCH(QStringList, notices);
        m_form->AddJob(QStringLiteral("/old.inp"));
        jobs()->item(0)->setCheckState(Qt::Unchecked);
        drop(dropped);
        QCOMPARE(listTexts(jobs()), queued);
        // The notice opens once the drop is over: the program dragged from is not kept waiting.
        QCOMPARE(m_notices, QStringList());
        QCoreApplication::processEvents();
        QCOMPARE(m_notices, notices);
        QVERIFY(!m_form->JobChecked(0));
        for (int i = 1; i < jobs()->count(); ++i)
            QVERIFY(m_form->JobChecked(i));
    }

    void dragOfNonFilesIsRefused()
    {
        QMimeData mime;
        mime.setUrls({QUrl(QStringLiteral("https://example.org/water.inp"))});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(jobs()->viewport(), &enter);
        QVERIFY(!enter.isAccepted());
        QCOMPARE(jobs()->count(), 0);
    }

    void addInputFiles()
    {
        m_form->AddJob(QStringLiteral("/first.inp"));
        m_answer = QStringList{"/b/c.inp", "/a/a.inp", "/b/c.inp"};
        QTest::mouseClick(control<QPushButton>("InputBtn"), Qt::LeftButton);
        QCOMPARE(listTexts(jobs()), (QStringList{"/first.inp", "/b/c.inp", "/a/a.inp", "/b/c.inp"}));
        for (int i = 0; i < 4; ++i)
            QVERIFY(m_form->JobChecked(i));
        QCOMPARE(m_requests.size(), 1);
        QCOMPARE(m_requests[0].kind, Dialogs::Kind::OpenFiles);
        QCOMPARE(m_requests[0].filter, QStringLiteral("Firefly input files (*.inp)|*.inp|All files (*.*)|*.*"));
        QCOMPARE(m_requests[0].defaultSuffix, QStringLiteral("inp"));
        QVERIFY(done()->count() == 0);

        m_answer.clear(); // Cancel
        QTest::mouseClick(control<QPushButton>("InputBtn"), Qt::LeftButton);
        QCOMPARE(jobs()->count(), 4);
        // The dialog opens in the folder Nelo started in, then where the
        // last file was picked in it (a cancel changes nothing).
        QTest::mouseClick(control<QPushButton>("InputBtn"), Qt::LeftButton);
        QCOMPARE((QStringList{m_requests[0].initialFolder, m_requests[1].initialFolder, m_requests[2].initialFolder}),
                 (QStringList{QDir::currentPath(), "/b/", "/b/"}));
    }

    void addOutputFilesTouchesOnlyTheProcessedList()
    {
        m_form->AddJob(QStringLiteral("/q.inp"));
        m_form->AppendDone(QStringLiteral("/x.out"));
        m_answer = QStringList{"/r/b.out", "/r/a.out"};
        QTest::mouseClick(control<QPushButton>("OutputBtn"), Qt::LeftButton);
        QCOMPARE(listTexts(done()), (QStringList{"/x.out", "/r/b.out", "/r/a.out"}));
        QCOMPARE(listTexts(jobs()), QStringList{"/q.inp"});
        QVERIFY(!done()->item(1)->data(Qt::CheckStateRole).isValid());
        QCOMPARE(m_requests.last().filter, QStringLiteral("Firefly output files (*.out)|*.out|All files (*.*)|*.*"));
        QCOMPARE(m_requests.last().defaultSuffix, QStringLiteral("out"));
        QTest::mouseClick(control<QPushButton>("OutputBtn"), Qt::LeftButton);
        QCOMPARE(m_requests.first().initialFolder, QDir::currentPath());
        QCOMPARE(m_requests.last().initialFolder, QStringLiteral("/r/"));
    }

    // Each processed entry shows how its job ended: an icon, a tooltip with
    // the outcome and the reason, the keyword in its data; its text stays the path.
    void outcomeOfAddedOutputs_data()
    {
        QTest::addColumn<QByteArray>("text"); // null: no such file; "/": a folder
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QString>("tooltip");
        const QByteArray end = " EXECUTION OF FIREFLY TERMINATED NORMALLY 20:19:06  9-MAY-2014\r\n";
        QTest::newRow("converged") << "          NSERCH=  3     ENERGY=    -1.5\r\n"
                                      "      ***** EQUILIBRIUM GEOMETRY LOCATED *****\r\n" + end
                                   << "converged" << "Optimisation converged\n***** EQUILIBRIUM GEOMETRY LOCATED *****";
        QTest::newRow("normal") << "          DENSITY CONVERGED\r\n" + end << "normal"
                                << "Ended normally\nEXECUTION OF FIREFLY TERMINATED NORMALLY 20:19:06  9-MAY-2014";
        QTest::newRow("SCF failed, Latin-1 bytes")
            << " SCF IS UNCONVERGED, TOO MANY ITERATIONS \xb5\r\n" + end << "scf-failed"
            << QString::fromLatin1("SCF not converged\nSCF IS UNCONVERGED, TOO MANY ITERATIONS \xb5");
        QTest::newRow("no such file") << QByteArray() << "no-output" << "No output\nno output file";
        QTest::newRow("cannot be read") << QByteArray("/") << "unreadable" << "The output cannot be read\n";
    }
    void outcomeOfAddedOutputs()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, keyword);
        QFETCH(QString, tooltip);
        QString path = m_dir.filePath(QStringLiteral("added %1.out").arg(QTest::currentDataTag()));
        if (text == "/")
            QVERIFY(QDir().mkpath(path));
        else if (!text.isNull())
            QVERIFY(writeFile(path, text));
        m_answer = QStringList{path};
        QTest::mouseClick(control<QPushButton>("OutputBtn"), Qt::LeftButton);
        QCOMPARE(m_errors, QStringList());
        const QListWidgetItem *item = done()->item(0);
        QCOMPARE(item->text(), path);
        QCOMPARE(item->data(OutcomeRole).toString(), keyword);
        QVERIFY2(item->toolTip().startsWith(tooltip) && (text != "/" || item->toolTip().contains(path)),
                 qPrintable(item->toolTip()));
        QVERIFY(!item->icon().isNull());
    }

    // Outputs the runner lists are classified with how their process
    // ended; the chart below the pane follows the job's search.
    void outcomeOfRunJobs_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QByteArray>("crashAfter");
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("steps");
        QTest::newRow("optimisation") << "water-optimise.inp" << QByteArray() << "converged"
                                      << "***** EQUILIBRIUM GEOMETRY LOCATED *****" << 7;
        // Unknown to the output alone: it stops inside the search.
        QTest::newRow("killed inside the search") << "water-optimise.inp" << QByteArray("500") << "killed"
                                                  << "signal 9 (SIGKILL)" << 2;
        QTest::newRow("faulty input") << "ammonium-fails.inp" << QByteArray() << "abnormal" << "*** ERROR! THE NUMBER"
                                      << 0;
    }
    void outcomeOfRunJobs()
    {
        QFETCH(QString, input);
        QFETCH(QByteArray, crashAfter);
        QFETCH(QString, keyword);
        QFETCH(QString, reason);
        QFETCH(int, steps);
        const QString work = m_dir.filePath(QStringLiteral("work"));
        QVERIFY(QDir().mkpath(work));
        setStandinAsFirefly(m_form->JobSettings(), work);
        const QString job = m_dir.filePath(input);
        QFile::remove(job);
        QVERIFY(QFile::copy(QStringLiteral(NELO_EXAMPLES_DIR "/") + input, job));
        qputenv("FIREFLY_STANDIN_PACE", "0");
        qputenv("FIREFLY_STANDIN_CRASH_AFTER", crashAfter);
        m_form->AddJob(job);
        m_form->RunBtnClick();
        unsetStandinControls();
        QCOMPARE(done()->count(), 1);
        QCOMPARE(done()->item(0)->data(OutcomeRole).toString(), keyword);
        QVERIFY2(done()->item(0)->toolTip().section(QLatin1Char('\n'), 1).startsWith(reason),
                 qPrintable(done()->item(0)->toolTip()));
        QCOMPARE(int(chartPanel()->Points().size()), steps);
        QCOMPARE(chartPanel()->isHidden(), steps == 0);
    }

    // The chart panel comes below the pane at its designed height, below
    // the jobs of a cluster run, each as wide as the window (every column
    // of the jobs shown): a window not maximised grows for them and shrinks
    // back when they go.
    void chartPanelKeepsThePaneHeight_data()
    {
        QTest::addColumn<bool>("jobsShown");
        QTest::newRow("run on this computer") << false;
        QTest::newRow("run on a cluster") << true;
    }
    void chartPanelKeepsThePaneHeight()
    {
        QFETCH(bool, jobsShown);
        if (m_form->screen()->availableGeometry().height() < 1000)
            QSKIP("needs a screen 1000 pixels high (CTest gives the offscreen screen 1024)");
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        const int height = m_form->height();
        m_form->ShowJobsView(jobsShown); // as a run starts
        ConvergenceSeries series;
        series.Feed("          NSERCH=  0     ENERGY=    -1.5\r\n");
        m_form->ShowConvergence(series, QStringLiteral("/w/a.out"));
        QVERIFY(!chartPanel()->isHidden() && chartPanel()->isVisible());
        QVERIFY(control<QPlainTextEdit>("Memo1")->height() >= 255);
        QVERIFY(chartPanel()->height() >= chartPanel()->minimumHeight());
        QCOMPARE(chartPanel()->width(), control<QPlainTextEdit>("Memo1")->width());
        auto *jobsView = control<QTableView>("JobsView");
        QCOMPARE(jobsView->isVisible(), jobsShown);
        if (jobsShown)
            QCOMPARE(jobsView->horizontalScrollBar()->maximum(), 0);
        QVERIFY(m_form->height() > height);
        m_form->ShowConvergence(ConvergenceSeries(), QString());
        m_form->ShowJobsView(false);
        QVERIFY(chartPanel()->isHidden() && control<QWidget>("RunPanel")->isHidden());
        QCOMPARE(m_form->height(), height);
    }

    void removeSelected_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QStringList>("left");
        const QStringList all{"1", "2", "3", "4", "5"};
        // The Delete key in a list does what its Remove button does.
        QTest::newRow("queue Delete key") << "JobListBox" << "Delete" << QList<int>{1, 3} << QStringList{"1", "3", "5"};
        QTest::newRow("processed Delete key") << "DoneListBox" << "Delete" << QList<int>{0, 4}
                                              << QStringList{"2", "3", "4"};
        QTest::newRow("queue 2 and 4") << "JobListBox" << "DeleteInBtn" << QList<int>{1, 3}
                                       << QStringList{"1", "3", "5"};
        QTest::newRow("processed 2 and 4") << "DoneListBox" << "DeleteOutBtn" << QList<int>{1, 3}
                                           << QStringList{"1", "3", "5"};
        QTest::newRow("queue nothing selected") << "JobListBox" << "DeleteInBtn" << QList<int>{} << all;
        QTest::newRow("processed first and last") << "DoneListBox" << "DeleteOutBtn" << QList<int>{0, 4}
                                                  << QStringList{"2", "3", "4"};
        QTest::newRow("queue all") << "JobListBox" << "DeleteInBtn" << QList<int>{0, 1, 2, 3, 4} << QStringList{};
    }
    void removeSelected()
    {
        QFETCH(QString, list);
        QFETCH(QString, button);
        QFETCH(QList<int>, selected);
        QFETCH(QStringList, left);
        QListWidget *target = control<QListWidget>(qPrintable(list));
        QListWidget *other = target == jobs() ? done() : jobs();
        for (const char *text : {"1", "2", "3", "4", "5"}) {
            if (target == jobs())
                m_form->AddJob(QLatin1String(text));
            else
                m_form->AppendDone(QLatin1String(text));
        }
        other->addItem(QStringLiteral("other"));
        other->item(0)->setSelected(true);
        // Ticks play no part: untick one that is removed and one that stays.
        if (target == jobs()) {
            jobs()->item(1)->setCheckState(Qt::Unchecked);
            jobs()->item(2)->setCheckState(Qt::Unchecked);
        }
        for (int row : selected)
            target->item(row)->setSelected(true);
        if (button == QLatin1String("Delete"))
            QTest::keyClick(target, Qt::Key_Delete);
        else
            QTest::mouseClick(control<QPushButton>(qPrintable(button)), Qt::LeftButton);
        QCOMPARE(listTexts(target), left);
        QCOMPARE(listTexts(other), QStringList{"other"});
    }

    void popupMenu_data()
    {
        QTest::addColumn<int>("entries");
        QTest::addColumn<int>("parseTag");
        QTest::addColumn<bool>("parseEnabled");
        QTest::addColumn<bool>("egEnabled");
        QTest::newRow("empty list") << 0 << 0 << false << false;
        QTest::newRow("empty list during a run") << 0 << 1 << false << false;
        QTest::newRow("at rest") << 2 << 0 << true << true;
        QTest::newRow("during a run") << 2 << 1 << false << true;
    }
    void popupMenu()
    {
        // Started with "X", so HOMO-LUMO is offered (a hidden item is never enabled).
        m_form = makeForm({QStringLiteral("nelo"), QStringLiteral("X")});
        QFETCH(int, entries);
        QFETCH(int, parseTag);
        QFETCH(bool, parseEnabled);
        QFETCH(bool, egEnabled);
        for (int i = 0; i < entries; ++i)
            m_form->AppendDone(QStringLiteral("/r/%1.out").arg(i));
        m_form->SetParseMenuItemTag(parseTag);
        // Opening the menu runs PopupMenu1Popup.
        emit m_form->PopupMenu1->aboutToShow();
        QCOMPARE(parseItem()->isEnabled(), parseEnabled);
        QCOMPARE(egItem()->isEnabled(), egEnabled);
        QCOMPARE(convergenceItem()->isEnabled(), entries > 0);
        QCOMPARE(continueItem()->isEnabled(), entries > 0); // the queue takes new entries during a run
        // The busy mark is lifted when the run ends.
        m_form->SetParseMenuItemTag(0);
        emit m_form->PopupMenu1->aboutToShow();
        QCOMPARE(parseItem()->isEnabled(), entries > 0);
    }

    void homoLumoItem_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("visible");
        QTest::newRow("X") << QStringList{"nelo", "X"} << true;
        QTest::newRow("X then more") << QStringList{"nelo", "X", "other"} << true;
        QTest::newRow("x") << QStringList{"nelo", "x"} << false;
        QTest::newRow("none") << QStringList{"nelo"} << false;
        QTest::newRow("X second") << QStringList{"nelo", "-v", "X"} << false;
        QTest::newRow("XX") << QStringList{"nelo", "XX"} << false;
        QTest::newRow("X with blank") << QStringList{"nelo", "X "} << false;
    }
    void homoLumoItem()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, visible);
        m_form = makeForm(arguments);
        QCOMPARE(egItem()->isVisible(), visible);
        QVERIFY(parseItem()->isVisible());
    }

    void exitSavesThenQuits()
    {
        m_form->JobSettings().CPUcores = QStringLiteral("4");
        QTest::mouseClick(control<QPushButton>("ExitBtn"), Qt::LeftButton);
        QVERIFY(m_errors.isEmpty());
        QCOMPARE(m_quits, 1);
        QFile file(settingsPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("CPUcores=4"));
    }

    // The cluster settings come from the same file, reach the dialog, and
    // Exit writes them back with what OK stored.
    void exitSavesClusterSettings()
    {
        QVERIFY(writeFile(settingsPath(), "[Settings]\nEXEFile=/ff\nDirList=/w\n[Cluster]\nRunOn=1\nPartition=short\n"));
        m_form = makeForm();
        TSettingsDlg *dialog = m_form->SettingsDialog();
        QTimer::singleShot(0, dialog, [dialog] {
            findControl<QLineEdit>(dialog, "AccountEdit")->setText(QStringLiteral("chem"));
            findControl<QPushButton>(dialog, "OKBtn")->click();
        });
        m_form->SettingsClick();
        QTest::mouseClick(control<QPushButton>("ExitBtn"), Qt::LeftButton);
        QVERIFY(m_errors.isEmpty());
        QVERIFY(readFile(settingsPath()).contains("[Cluster]\nRunOn=1\nPartition=short\nAccount=chem\n"));
    }

    // Without the seam Exit ends the event loop with status 0, although the
    // window refuses every close (here, with no notification area, it stays
    // on screen minimised).
    void exitEndsTheEventLoop()
    {
        TForm1::Environment environment;
        environment.settingsFile = settingsPath();
        environment.clipboard = &m_clipboard;
        environment.powerOff = &m_powerOff;
        environment.trayAvailable = [] { return false; };
        TForm1 form(environment);
        form.FormCreate();
        form.show();
        QTimer::singleShot(0, &form, [&] { QTest::mouseClick(findControl<QPushButton>(&form, "ExitBtn"), Qt::LeftButton); });
        QTimer refused; // ends the loop when Exit could not
        connect(&refused, &QTimer::timeout, [] { QCoreApplication::exit(7); });
        refused.start(3000);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(readFile(settingsPath()).contains("CPUcores=1"));
    }

    void exitWithUnwritableSettingsKeepsRunning()
    {
        // A settings path below a plain file can be written by nobody, root included.
        const QString blocker = m_dir.filePath(QStringLiteral("plain-file"));
        QVERIFY(writeFile(blocker, QByteArray()));
        const QString unwritable = blocker + QStringLiteral("/nelo.INI");
        m_form = makeForm({QStringLiteral("nelo")}, unwritable);
        m_form->show();
        QTest::mouseClick(control<QPushButton>("ExitBtn"), Qt::LeftButton);
        QCOMPARE(m_errors, QStringList{QStringLiteral("Unable to write to %1.").arg(unwritable)});
        QCOMPARE(m_quits, 0);
        QVERIFY(m_form->isVisible());
        QVERIFY(control<QPushButton>("ExitBtn")->isEnabled());
    }

    void closeHidesOrMinimises_data()
    {
        QTest::addColumn<bool>("trayAtStart");
        QTest::addColumn<bool>("tray");
        QTest::newRow("notification area") << true << true;
        QTest::newRow("no notification area") << false << false;
        QTest::newRow("notification area comes up later") << false << true;
    }
    void closeHidesOrMinimises()
    {
        QFETCH(bool, trayAtStart);
        QFETCH(bool, tray);
        m_trayAvailable = trayAtStart;
        m_form = makeForm();
        QCOMPARE(m_form->TrayIcon1->isVisible(), trayAtStart);
        m_trayAvailable = tray;
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        QVERIFY(!m_form->close());
        if (tray) {
            QVERIFY(!m_form->isVisible());
            QVERIFY(m_form->TrayIcon1->isVisible()); // the way back is on show
        } else {
            QVERIFY(m_form->isVisible());
            QVERIFY(m_form->isMinimized());
        }
        QCOMPARE(m_quits, 0);
        m_form->TrayIcon1DblClick();
        QVERIFY(m_form->isVisible());
        QVERIFY(!m_form->isMinimized());
    }

    void trayIconBringsTheWindowBack_data()
    {
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("shown");
        QTest::newRow("single click") << int(QSystemTrayIcon::Trigger) << true;
        QTest::newRow("double-click") << int(QSystemTrayIcon::DoubleClick) << true;
        QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << false;
        QTest::newRow("menu") << int(QSystemTrayIcon::Context) << false;
    }
    void trayIconBringsTheWindowBack()
    {
        QFETCH(int, reason);
        QFETCH(bool, shown);
        m_form->show();
        QVERIFY(!m_form->close());
        emit m_form->TrayIcon1->activated(QSystemTrayIcon::ActivationReason(reason));
        QCOMPARE(m_form->isVisible(), shown);
    }

    // The tray icon's menu: "Show Nelo", and "Exit" that acts as the button
    // and is disabled while the button is.
    void trayMenu()
    {
        QMenu *menu = m_form->TrayIcon1->contextMenu();
        QVERIFY(menu);
        const QList<QAction *> items = menu->actions();
        QCOMPARE(items.size(), 2);
        QCOMPARE(items[0]->text(), QStringLiteral("Show Nelo"));
        QCOMPARE(items[1]->text(), QStringLiteral("Exit"));
        items[0]->trigger();
        QVERIFY(m_form->isVisible());
        m_form->SetExitBtnEnabled(false);
        QVERIFY(!items[1]->isEnabled());
        m_form->SetExitBtnEnabled(true);
        QVERIFY(items[1]->isEnabled());
        m_form->JobSettings().CPUcores = QStringLiteral("3");
        items[1]->trigger();
        QCOMPARE(m_quits, 1);
        QVERIFY(readFile(settingsPath()).contains("CPUcores=3"));
    }

    // The pane shows its newest line after every update, whatever the length
    // of the output, until the user scrolls up to read; back at the bottom it
    // follows again.
    void paneFollowsTheOutput()
    {
        auto *memo = control<QPlainTextEdit>("Memo1");
        QScrollBar *bar = memo->verticalScrollBar();
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        QByteArray text;
        int lines = 0;
        // What the runner does with each batch.
        auto update = [&](int more, bool lastWithoutBreak = false) {
            for (int i = 0; i < more; ++i)
                text += "line " + QByteArray::number(++lines) + (lastWithoutBreak && i == more - 1 ? "" : "\n");
            m_form->SetMemoText(text);
            m_form->SetMemoSelection(m_form->MemoLineIndex(100), 0);
        };
        const auto lastLine = [&] { return QStringLiteral("line %1").arg(lines); };
        update(3);
        QCOMPARE(LastVisibleLine(*memo), lastLine());
        update(37); // 40 lines, more than the pane shows
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(LastVisibleLine(*memo), lastLine());
        bar->triggerAction(QAbstractSlider::SliderPageStepSub); // the user scrolls up
        const int readAt = bar->value();
        update(5);
        QCOMPARE(bar->value(), readAt);
        QVERIFY(LastVisibleLine(*memo) != lastLine());
        bar->triggerAction(QAbstractSlider::SliderToMaximum); // and back to the bottom
        update(1, true);
        QCOMPARE(LastVisibleLine(*memo), lastLine());
    }

    void progressLogAndPane()
    {
        auto *log = control<QListWidget>("LogListBox");
        m_form->AppendLog("*** BEGINNING GEOMETRY SEARCH ***");
        m_form->AppendLog("STEP =   1\r\n  x MAXIMUM GRADIENT =  0.0123");
        QCOMPARE(log->count(), 2);
        QVERIFY(log->selectedItems().isEmpty());
        QCOMPARE(log->item(1)->data(Qt::UserRole).toByteArray(), QByteArray("STEP =   1\r\n  x MAXIMUM GRADIENT =  0.0123"));
        QVERIFY(!log->item(1)->text().contains(QLatin1Char('\n')));
        m_form->ClearLog();
        QCOMPARE(log->count(), 0);

        // Latin-1 bytes and CR LF lines; line starts through the blocks.
        auto *memo = control<QPlainTextEdit>("Memo1");
        m_form->SetMemoText("a\r\nb\xb5\r\nccc");
        QCOMPARE(memo->toPlainText(), QString::fromLatin1("a\nb\xb5\nccc"));
        QCOMPARE(m_form->MemoLineIndex(0), 0);
        QCOMPARE(m_form->MemoLineIndex(2), 5);
        QCOMPARE(m_form->MemoLineIndex(3), -1);
        m_form->SetMemoSelection(2, 2);
        QCOMPARE(memo->textCursor().selectedText(), QString::fromLatin1("b\xb5"));
        m_form->SetMemoSelection(-1, 0);
        QVERIFY(!memo->textCursor().hasSelection());
        m_form->FormPaint();
        QCOMPARE(memo->textCursor().position(), memo->document()->characterCount() - 1);
    }

    void parseFocusedOutput()
    {
        auto *log = control<QListWidget>("LogListBox");
        const QString output = m_dir.filePath(QStringLiteral("opt.out"));
        QVERIFY(writeFile(output, " PARAMETERS CONTROLLING GEOMETRY SEARCH ARE\r\n"
                                  "  NSERCH=   0     ENERGY=     -76.0495434\r\n"
                                  " MAXIMUM GRADIENT =  0.0575556    RMS GRADIENT = 0.0333150\r\n"
                                  "      ***** EQUILIBRIUM GEOMETRY LOCATED *****\r\n"));
        m_form->AppendDone(QStringLiteral("/elsewhere/other.out"));
        m_form->AppendDone(output);

        // No focused entry: nothing happens, the log is not even cleared.
        m_form->AppendLog("kept");
        done()->setCurrentRow(-1);
        m_form->ParseMenuItemClick();
        QCOMPARE(log->count(), 1);

        // The focused entry is parsed, not the selected one.
        done()->item(0)->setSelected(true);
        done()->setCurrentRow(1, QItemSelectionModel::NoUpdate);
        m_form->ParseMenuItemClick();
        QCOMPARE(log->count(), 3);
        QCOMPARE(log->item(0)->text(), QStringLiteral("*** BEGINNING GEOMETRY SEARCH ***"));
        QVERIFY(log->item(1)->text().startsWith(QLatin1String("STEP =   0")));
        QCOMPARE(log->item(2)->text(), QStringLiteral("*** EQUILIBRIUM GEOMETRY LOCATED ***"));

        // A file that cannot be read: the error report, an empty log, Nelo goes on.
        done()->setCurrentRow(0, QItemSelectionModel::NoUpdate);
        parseItem()->trigger();
        QCOMPARE(m_errors.size(), 1);
        QVERIFY(m_errors[0].contains(QLatin1String("/elsewhere/other.out")));
        QCOMPARE(log->count(), 0);
    }

    // HOMO-LUMO over the selected entries, in list order, into the report
    // dialog (which only records that it would be shown).
    void homoLumoOfSelected()
    {
        NELO_REQUIRE_SAMPLES();
        const QString samples = QStringLiteral(NELO_SAMPLES_DIR);
        class RecordingReport : public THLDlg
        {
        public:
            int ShowModal() override { ++shown; return Accepted; }
            int shown = 0;
        } report;
        m_form = makeForm({QStringLiteral("nelo"), QStringLiteral("X")});
        m_form->SetReportDialog(&report);
        for (const char *name : {"dvb_un_sp.out", "water_mp2.out", "dvb_gopt_a.out"})
            m_form->AppendDone(samples + QLatin1Char('/') + QLatin1String(name));
        done()->item(2)->setSelected(true);
        done()->item(1)->setSelected(true);
        egItem()->trigger();
        QCOMPARE(report.shown, 1);
        QFile water(samples + QStringLiteral("/expected/water_mp2.homo-lumo.txt"));
        QFile dvb(samples + QStringLiteral("/expected/dvb_gopt_a.homo-lumo.txt"));
        QVERIFY(water.open(QIODevice::ReadOnly) && dvb.open(QIODevice::ReadOnly));
        const QString expected = QString::fromLatin1(water.readAll().trimmed() + "\r\n" + dvb.readAll().trimmed() + "\r\n");
        QCOMPARE(report.MemoText(), expected);
        QVERIFY(m_errors.isEmpty());
    }

    // "Convergence..." opens a window with the chart of the focused entry;
    // asked again, the same window comes back; an unreadable file is reported.
    void convergenceWindowOfTheFocusedEntry()
    {
        const QString output = m_dir.filePath(QStringLiteral("opt.out"));
        QVERIFY(writeFile(output, "          NSERCH=  0     ENERGY=    -1.5\r\n"
                                  "          MAXIMUM GRADIENT =  0.05    RMS GRADIENT = 0.01\r\n"
                                  "          NSERCH=  1     ENERGY=    -1.6\r\n"));
        m_form->AppendDone(m_dir.path());
        m_form->AppendDone(output);
        done()->item(0)->setSelected(true);
        done()->setCurrentRow(1, QItemSelectionModel::NoUpdate);
        convergenceItem()->trigger();
        const auto windows = [this] { return m_form->findChildren<TConvergenceForm *>(); };
        QCOMPARE(windows().size(), 1);
        TConvergenceForm *window = windows().first();
        QVERIFY(window->isVisible() && window->isWindow() && !window->isModal());
        QCOMPARE(window->OutputFile(), output);
        QCOMPARE(window->windowTitle(), QStringLiteral("Convergence - opt.out"));
        QCOMPARE(window->Chart()->EnergyLine()->points(), (QList<QPointF>{{0, -1.5}, {1, -1.6}}));
        convergenceItem()->trigger();
        QCOMPARE(windows(), QList<TConvergenceForm *>{window});

        done()->setCurrentRow(0, QItemSelectionModel::NoUpdate);
        convergenceItem()->trigger();
        QCOMPARE(m_errors.size(), 1);
        QVERIFY(m_errors[0].contains(m_dir.path()));
        QCOMPARE(windows().size(), 1);
    }

    void saveDialogForOutputNames()
    {
        QString name = QStringLiteral("unchanged");
        m_answer.clear();
        QVERIFY(!m_form->AskOutputFileName(QStringLiteral("F (*.out)|*.out"), QStringLiteral("out"), name));
        QCOMPARE(name, QStringLiteral("unchanged"));
        m_answer = QStringList{"/r/chosen.out"};
        QVERIFY(m_form->AskOutputFileName(QStringLiteral("F (*.out)|*.out"), QStringLiteral("out"), name));
        QCOMPARE(name, QStringLiteral("/r/chosen.out"));
        QCOMPARE(m_requests.last().kind, Dialogs::Kind::SaveFile);
    }

    void viewers_data()
    {
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<QString>("list");
        QTest::addColumn<bool>("textEditor");
        QTest::newRow("Edit as Text") << "EditBtn" << "JobListBox" << true;
        QTest::newRow("queue double-click") << "dblclick" << "JobListBox" << true;
        QTest::newRow("queue double-click below the entries") << "dblclick empty" << "JobListBox" << true;
        QTest::newRow("Edit geometry") << "ShowInpGeoBtn" << "JobListBox" << false;
        QTest::newRow("View as Text") << "ViewBtn" << "DoneListBox" << true;
        QTest::newRow("processed double-click") << "dblclick" << "DoneListBox" << true;
        QTest::newRow("processed double-click below the entries") << "dblclick empty" << "DoneListBox" << true;
        QTest::newRow("Show geometry") << "ShowOutGeoBtn" << "DoneListBox" << false;
    }
    void viewers()
    {
        QFETCH(QString, trigger);
        QFETCH(QString, list);
        QFETCH(bool, textEditor);
        const QString record = m_dir.filePath(QStringLiteral("argv.record"));
        QFile::remove(record);
        qputenv("NELO_ARGV_RECORD", QFile::encodeName(record));
        // The other editor is one that cannot start: a mix-up leaves no record.
        const QString missing = m_dir.filePath(QStringLiteral("no such editor"));
        m_form->JobSettings().TxtFile = textEditor ? QStringLiteral(NELO_ARGV_RECORDER) : missing;
        m_form->JobSettings().MolFile = textEditor ? missing : QStringLiteral(NELO_ARGV_RECORDER);

        QListWidget *target = control<QListWidget>(qPrintable(list));
        const QString folder = QDir(m_dir.path()).canonicalPath() + QStringLiteral("/run 1");
        QVERIFY(QDir().mkpath(folder));
        const QStringList paths{folder + "/a.x", folder + "/water 2.x", folder + "/c.x"};
        for (const QString &path : paths) {
            if (target == jobs())
                m_form->AddJob(path);
            else
                m_form->AppendDone(path);
        }
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        // Two entries selected, the focus on a third: the focused one opens.
        target->setCurrentRow(1, QItemSelectionModel::NoUpdate);
        target->item(0)->setSelected(true);
        target->item(2)->setSelected(true);
        if (trigger.startsWith(QLatin1String("dblclick"))) {
            // The press of a double-click's first click focuses the entry;
            // below the entries it leaves the focus where it is.
            const QPoint at = trigger == QLatin1String("dblclick")
                                  ? target->visualItemRect(target->item(1)).center() + QPoint(30, 0)
                                  : QPoint(30, target->viewport()->height() - 5);
            QTest::mousePress(target->viewport(), Qt::LeftButton, Qt::NoModifier, at);
            QTest::mouseRelease(target->viewport(), Qt::LeftButton, Qt::NoModifier, at);
            QTest::mouseDClick(target->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        } else {
            QTest::mouseClick(control<QPushButton>(qPrintable(trigger)), Qt::LeftButton);
        }
        const ArgvRecord started = ArgvRecord::waitFor(record);
        QVERIFY(started.valid);
        QCOMPARE(QFile::decodeName(started.args.value(0)), QStringLiteral(NELO_ARGV_RECORDER));
        QCOMPARE(started.arguments(), QStringList{paths[1]});
        QCOMPARE(QFile::decodeName(started.workingDirectory), folder);
        QVERIFY(m_notices.isEmpty());
    }

    void viewerNoticeWithEmptyQueue()
    {
        m_form->JobSettings().TxtFile.clear();
        QTest::mouseClick(control<QPushButton>("EditBtn"), Qt::LeftButton);
        QCOMPARE(m_notices, QStringList{"Enter a path for the Text Editor executable in the Settings."});
        m_form->JobSettings().MolFile.clear();
        QTest::mouseClick(control<QPushButton>("ShowOutGeoBtn"), Qt::LeftButton);
        QCOMPARE(m_notices.size(), 2);
        QVERIFY(m_notices[1].contains(QLatin1String("Molecule Editor")));
        // A double-click on the empty list runs the handler too.
        m_form->show();
        QTest::mouseDClick(jobs()->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
        QCOMPARE(m_notices.size(), 3);
    }

    // An optimisation out of steps, continued by hand from the popup menu:
    // the new input queued ticked, and the entry says so; the run then
    // continues it by itself once more, and the entries tell the chain. A
    // refusal is a notice with the reason, nothing queued.
    void continueByHandThenByItself()
    {
        const QString work = m_dir.filePath(QStringLiteral("work"));
        QVERIFY(QDir().mkpath(work));
        setStandinAsFirefly(m_form->JobSettings(), work);
        m_form->JobSettings().AddCmdLine = QStringLiteral("--standin-pace=0");
        const QString input = m_dir.filePath(QStringLiteral("opt.inp")), output = m_dir.filePath(QStringLiteral("opt.out"));
        QVERIFY(writeFile(input, twelveStepSearch(5)));
        QCOMPARE(QProcess::execute(QStringLiteral(NELO_FIREFLY_STANDIN),
                                   {"-i", input, "-o", output, "--standin-pace=0", "-np", "1", "-t", work + "/"}), 0);
        m_form->AppendDone(QStringLiteral("/nowhere/gone.out"));
        m_form->AppendDone(output);

        done()->setCurrentRow(0);
        continueItem()->trigger();
        QCOMPARE(m_notices.size(), 1);
        QVERIFY2(m_notices[0].startsWith(QStringLiteral("Unable to continue from the last geometry!\nCannot open file")),
                 qPrintable(m_notices[0]));
        QCOMPARE(jobs()->count(), 0);

        done()->setCurrentRow(1);
        continueItem()->trigger();
        QCOMPARE(m_notices.size(), 1);
        const QString first = m_dir.filePath(QStringLiteral("opt-cont1.inp"));
        QCOMPARE(listTexts(jobs()), QStringList{first});
        QCOMPARE(jobs()->item(0)->checkState(), Qt::Checked);
        QCOMPARE(jobs()->item(0)->toolTip(), QStringLiteral("continuation 1 of opt.inp"));
        QVERIFY2(done()->item(1)->toolTip().endsWith(QStringLiteral("\nContinued as opt-cont1.inp")),
                 qPrintable(done()->item(1)->toolTip()));

        m_form->ContinueSettings().MaxContinuations = 2;
        m_form->RunBtnClick();
        QCOMPARE(listTexts(done()), (QStringList{m_dir.filePath("opt-cont1.out"), m_dir.filePath("opt-cont2.out")}));
        QCOMPARE(done()->item(0)->data(OutcomeRole).toString(), QStringLiteral("not-converged"));
        QCOMPARE(done()->item(1)->data(OutcomeRole).toString(), QStringLiteral("converged"));
        QVERIFY2(done()->item(0)->toolTip().endsWith(
                     QStringLiteral("\ncontinuation 1 of at most 2 of opt.inp\nContinued as opt-cont2.inp")),
                 qPrintable(done()->item(0)->toolTip()));
        QVERIFY2(done()->item(1)->toolTip().endsWith(QStringLiteral("\ncontinuation 2 of at most 2 of opt.inp")),
                 qPrintable(done()->item(1)->toolTip()));
        QCOMPARE(jobs()->count(), 0);
        QVERIFY(m_errors.isEmpty());
    }

    // A whole run with the Firefly stand-in: the window is closed while the
    // job runs, the run goes on behind it, and the popup menu keeps Parse
    // busy while HOMO-LUMO stays available.
    void closeDuringARun()
    {
        m_form = makeForm({QStringLiteral("nelo"), QStringLiteral("X")});
        const QString work = m_dir.filePath(QStringLiteral("work"));
        QVERIFY(QDir().mkpath(work));
        setStandinAsFirefly(m_form->JobSettings(), work);
        const QString input = m_dir.filePath(QStringLiteral("water opt.inp"));
        QVERIFY(writeFile(input, " $CONTRL RUNTYP=OPTIMIZE $END\r\n $BASIS GBASIS=N31 NGAUSS=6 $END\r\n"
                                 " $DATA\r\nWater\r\nC1\r\nO 8.0 0.0 0.0 0.0\r\nH 1.0 0.0 0.76 0.59\r\n"
                                 "H 1.0 0.0 -0.76 0.59\r\n $END\r\n"));
        m_form->AddJob(input);
        m_form->AppendDone(QStringLiteral("/old/previous.out"));
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));

        bool acted = false;
        bool closeRefused = false;
        bool hiddenWhileRunning = false;
        bool parseBusy = false;
        bool homoLumoFree = false;
        QTimer probe;
        probe.setInterval(20);
        connect(&probe, &QTimer::timeout, this, [&] {
            // Act once the job runs and its output shows in the pane.
            if (acted || !m_form->Runner().IsRunning() || control<QPlainTextEdit>("Memo1")->toPlainText().isEmpty())
                return;
            acted = true;
            closeRefused = !m_form->close();
            hiddenWhileRunning = !m_form->isVisible();
            m_form->AppendDone(QStringLiteral("/old/other.out"));
            emit m_form->PopupMenu1->aboutToShow();
            parseBusy = !parseItem()->isEnabled();
            homoLumoFree = egItem()->isEnabled();
        });
        probe.start();
        QTest::mouseClick(control<QPushButton>("RunBtn"), Qt::LeftButton); // returns when the queue is done
        probe.stop();

        QVERIFY(acted);
        QVERIFY(closeRefused);
        QVERIFY(hiddenWhileRunning);
        QVERIFY(parseBusy);
        QVERIFY(homoLumoFree);
        QVERIFY(!m_form->isVisible());
        QVERIFY(m_errors.isEmpty());
        QCOMPARE(m_notices, QStringList{});
        QCOMPARE(m_quits, 0);
        QCOMPARE(jobs()->count(), 0);
        const QString output = m_dir.filePath(QStringLiteral("water opt.out"));
        QCOMPARE(listTexts(done()), (QStringList{"/old/other.out", output}));
        QVERIFY(QFile::exists(output));
        QVERIFY(control<QPushButton>("RunBtn")->isEnabled());
        emit m_form->PopupMenu1->aboutToShow();
        QVERIFY(parseItem()->isEnabled());
        QCOMPARE(m_powerOff.count, 0);
    }

    void settingsDialogFirstWhenNothingIsSet_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<bool>("dialog");
        QTest::newRow("no settings file") << QByteArray() << true;
        QTest::newRow("no Firefly") << QByteArray("[Settings]\nDirList=/tmp/work\n") << true;
        QTest::newRow("no working directories") << QByteArray("[Settings]\nEXEFile=/opt/ff\nDirList=\n") << true;
        QTest::newRow("both set") << QByteArray("[Settings]\nEXEFile=/opt/ff\nDirList=/tmp/work\n") << false;
    }
    void settingsDialogFirstWhenNothingIsSet()
    {
        QFETCH(QByteArray, settings);
        QFETCH(bool, dialog);
        m_form.reset();
        QFile::remove(settingsPath());
        if (!settings.isNull())
            QVERIFY(writeFile(settingsPath(), settings));
        m_form = makeForm();
        QCOMPARE(m_settingsDialogShown, dialog);
        QVERIFY(!m_mainWindowShownBeforeDialog);
        QVERIFY(!m_form->isVisible());
    }
};

QTEST_MAIN(TestNeloForm)
#include "tst_neloform.moc"
