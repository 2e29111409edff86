// Nelo: start-up. The application is titled, the main window is created
// (its FormCreate loads the settings and may ask for them first), then the
// report dialog and the about box; the event loop runs until Exit.

#include "platform/ErrorReport.h"
#include "platform/MessageBoxes.h"
#include "platform/SettingsLocation.h"
#include "ui/AboutForm.h"
#include "ui/NeloApplication.h"
#include "ui/NeloForm.h"
#include "ui/ReportForm.h"
#include "ui/StateReport.h"

#include <NeloVersion.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QTimer>

#include <memory>

namespace {

QString settingsFile()
{
    QString chosen = ChooseSettingsFile(qEnvironmentVariable("NELO_SETTINGS_FILE"), SettingsFilePath(),
                                        UserSettingsFile());
    // The user's own file may live in a folder that does not exist yet; Exit
    // writes the file beside its temporary copy there.
    QDir().mkpath(QFileInfo(chosen).absolutePath());
    return chosen;
}

} // namespace

int main(int argc, char *argv[])
{
    NeloApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral(NELO_PRODUCT_NAME));
    // The title "Nelo - Korvane" is given where it shows: the main window's
    // caption, the message boxes and the tray icon's tooltip. It is not set as
    // the display name, which Qt would append to every dialog's caption
    // ("Settings — Nelo - Korvane"), changing the report dialog's column header.
    QApplication::setApplicationVersion(QStringLiteral(NELO_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/nelo.png")));
    QApplication::setDesktopFileName(QStringLiteral("nelo"));
    // Closing the main window only hides it, and closing a dialog while it is
    // hidden must not end a running queue: only Exit ends Nelo.
    QApplication::setQuitOnLastWindowClosed(false);
    InstallMessageBoxPresenters();
    // Tests that drive Nelo from outside read what it shows here (also while
    // the settings dialog asks first, before the main window is shown).
    StateReport::StartIfAsked(&app);

    TForm1::Environment environment;
    environment.arguments = QCoreApplication::arguments();
    environment.settingsFile = settingsFile();
    auto form = std::make_unique<TForm1>(environment);
    Form1 = form.get();
    Form1->FormCreate();

    THLDlg HLDlg;
    Form1->SetReportDialog(&HLDlg);
    TAboutBox AboutBox;
    Form1->SetAboutBox(&AboutBox);

    Form1->showMaximized();
    // Cluster jobs of an earlier session are followed again once the
    // window is up.
    QTimer::singleShot(0, Form1, [] { RunReported([] { Form1->ResumeClusterJobs(); }); });
    const int result = QApplication::exec();
    Form1 = nullptr;
    return result;
}
