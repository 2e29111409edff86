// Errors raised while an event is handled reach the general error report,
// with its full stop, and the program goes on handling events.

#include "platform/Errors.h"
#include "platform/Notices.h"
#include "ui/NeloApplication.h"

#include <QtTest>

#include <stdexcept>

namespace {

// Throws what it is told to from its event handler.
class Thrower : public QObject
{
public:
    std::function<void()> toThrow;
    int handled = 0;

protected:
    bool event(QEvent *event) override
    {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        ++handled;
        toThrow();
        return true;
    }
};

} // namespace

class TestNeloApplication : public QObject
{
    Q_OBJECT

private slots:
    void errorsInHandlersAreReported_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("shown");
        QTest::newRow("write error") << 0 << "Unable to write to /ro/nelo.INI.";
        QTest::newRow("conversion") << 1 << "' 1x' is not a valid integer value.";
        QTest::newRow("list index") << 2 << "List index out of bounds (7)";
        QTest::newRow("standard exception") << 3 << "bad thing.";
    }
    void errorsInHandlersAreReported()
    {
        QFETCH(int, kind);
        QFETCH(QString, shown);
        QStringList errors;
        const auto old = Notices::SetErrorPresenter([&](const QString &text) { errors << text; });
        Thrower thrower;
        thrower.toThrow = [kind] {
            switch (kind) {
            case 0: throw EWriteError::unableToWrite(QStringLiteral("/ro/nelo.INI"));
            case 1: throw EConvertError::invalidInteger(" 1x");
            case 2: throw EListError::indexOutOfBounds(7);
            default: throw std::runtime_error("bad thing");
            }
        };
        // Posted, so the error passes through the event loop's dispatch.
        QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
        QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
        QTRY_COMPARE(thrower.handled, 2);
        QCOMPARE(errors, (QStringList{shown, shown}));
        Notices::SetErrorPresenter(old);
    }
};

int main(int argc, char **argv)
{
    NeloApplication app(argc, argv);
    TestNeloApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_neloapplication.moc"
