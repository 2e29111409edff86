#pragma once

// The built nelo as a separate process on a real X display (the suite runs
// on its own Xvfb, tests/xvfb-test.sh), driven only with real input events
// (xdotool) and read through its state report (NELO_STATE_REPORT,
// ui/StateReport.h). Suites get the program as NELO_BINARY.

#include "tests/helpers/Files.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <functional>

// Begin each test with it: without a display (outside tests/xvfb-test.sh) or
// xdotool the test is skipped.
#define NELO_REQUIRE_X()                                                                                              \
    do {                                                                                                               \
        if (qEnvironmentVariableIsEmpty("DISPLAY") || QStandardPaths::findExecutable("xdotool").isEmpty())            \
            QSKIP("needs an X display and xdotool (run under tests/xvfb-test.sh)");                                    \
    } while (false)

// Real input: keys, typed text and mouse clicks through the X server.
inline bool xdotool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    return process.waitForFinished(10000) && process.exitCode() == 0;
}

class RealNelo
{
public:
    QProcess process;
    QJsonObject state; // the last state report read

    explicit RealNelo(QString report) : m_report(std::move(report)) {}
    ~RealNelo() { Kill(); }

    // Starts nelo on the X display with that settings file (and the state
    // report, unless `report` is false) and those arguments.
    void Start(const QString &settingsFile, bool report = true, const QStringList &arguments = {})
    {
        QFile::remove(m_report);
        state = {};
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("NELO_SETTINGS_FILE"), settingsFile);
        if (report)
            environment.insert(QStringLiteral("NELO_STATE_REPORT"), m_report);
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QStringLiteral(NELO_BINARY), arguments);
    }
    void Kill()
    {
        process.kill();
        process.waitForFinished(5000);
    }

    // Reads the report until `holds` is true for it; false after `ms`.
    bool WaitFor(const std::function<bool()> &holds, int ms = 15000)
    {
        return QTest::qWaitFor([&] {
            state = QJsonDocument::fromJson(readFile(m_report)).object();
            return holds();
        }, ms);
    }
    // Waits for reports written after the input sent so far has been handled.
    void Settle()
    {
        const qint64 count = state["count"].toInteger();
        WaitFor([&] { return state["count"].toInteger() > count + 3; });
    }
    QJsonObject Control(const QString &name) const { return state["controls"][name].toObject(); }
    QString Text(const QString &name) const { return Control(name)["text"].toString(); }
    bool Enabled(const QString &name) const { return Control(name)["enabled"].toBool(); }
    QString Focus() const { return state["focus"].toString(); }
    QString Active() const { return state["active"].toString(); }
    QStringList List(const QString &name) const
    {
        QStringList entries;
        for (const QJsonValue &entry : state["lists"][name].toArray())
            entries << entry.toString();
        return entries;
    }
    // The rows of a table, each row's cells joined by " | ".
    QStringList Table(const QString &name) const
    {
        QStringList rows;
        for (const QJsonValue &row : state["tables"][name].toArray()) {
            QStringList cells;
            for (const QJsonValue &cell : row.toArray())
                cells << cell.toString();
            rows << cells.join(QStringLiteral(" | "));
        }
        return rows;
    }
    // Rows of the jobs view whose state reads `state`.
    int JobsIn(const QString &state) const
    {
        return int(Table(QStringLiteral("JobsView")).filter(QStringLiteral(" | %1 | ").arg(state)).size());
    }
    bool Shown(const QString &className) const
    {
        for (const QJsonValue &window : state["windows"].toArray()) {
            if (window["class"].toString() == className)
                return true;
        }
        return false;
    }

    // A click in the middle of a control, once it is shown and enabled.
    bool Click(const QString &name)
    {
        if (!WaitFor([&] { return Enabled(name); }))
            return false;
        const QJsonObject place = Control(name);
        const int x = place["x"].toInt() + place["w"].toInt() / 2;
        const int y = place["y"].toInt() + place["h"].toInt() / 2;
        // Not "mousemove --sync": it waits for a move that never comes when
        // the pointer is there already (the same button clicked twice).
        return xdotool({"mousemove", QString::number(x), QString::number(y), "sleep", "0.1", "click", "1"});
    }
    bool Key(const QString &keys) { return xdotool({"key", keys}); }
    // The popup menu of a list: a right click on its first entry, then the
    // item `steps` places up from the bottom of the menu chosen by keys.
    bool PopupItemFromBottom(const QString &list, int steps)
    {
        if (!WaitFor([&] { return Control(list)["enabled"].toBool(); }))
            return false;
        const QJsonObject place = Control(list);
        const QString x = QString::number(place["x"].toInt() + 40), y = QString::number(place["y"].toInt() + 8);
        if (!xdotool({"mousemove", x, y, "sleep", "0.1", "click", "1", "sleep", "0.1", "click", "3", "sleep", "0.5"}))
            return false;
        for (int i = 0; i < steps; ++i)
            Key("Up");
        return Key("Return");
    }
    // Types a path into the file dialog that a click opened and presses
    // Enter: true when the dialog took it and closed.
    bool ChoosePath(const QString &button, const QString &path)
    {
        if (!Click(button) || !WaitFor([&] { return Focus() == "fileNameEdit"; }))
            return false;
        // A busy machine can lose a typed key: then the field is typed anew.
        const auto typed = [&] { return Text("fileNameEdit") == path; };
        for (int attempt = 0; attempt < 3 && !typed(); ++attempt) {
            Key("ctrl+a");
            xdotool({"type", "--delay", "5", path});
            WaitFor(typed, 5000);
        }
        return typed() && Key("Return") && WaitFor([&] { return !Shown("QFileDialog"); }, 5000);
    }

private:
    QString m_report;
};
