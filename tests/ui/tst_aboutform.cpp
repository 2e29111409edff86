#include "ui/AboutForm.h"

#include <QDesktopServices>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

// Stands in for the desktop's browser.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

class TestAboutForm : public QObject
{
    Q_OBJECT

private slots:
    void programIcon()
    {
        const QPixmap icon(QStringLiteral(":/icons/nelo.png"));
        QCOMPARE(icon.size(), QSize(48, 48));
        QVERIFY(icon.hasAlphaChannel());
        QVERIFY(!QPixmap(QStringLiteral(":/icons/nelo-256.png")).isNull());
    }

    void layout()
    {
        TAboutBox box;
        QCOMPARE(box.windowTitle(), QStringLiteral("About Nelo"));
        QCOMPARE(box.size(), QSize(298, 304));
        QCOMPARE(box.minimumSize(), box.maximumSize());

        auto *image = box.findChild<QLabel *>(QStringLiteral("Image1"));
        QVERIFY(image);
        QCOMPARE(image->pixmap().size(), QSize(48, 48));

        auto *title = box.findChild<QLabel *>(QStringLiteral("Label3"));
        QVERIFY(title);
        QCOMPARE(title->text(), QStringLiteral("Nelo"));
        QVERIFY(title->font().bold());
        QCOMPARE(title->font().pixelSize(), 32);
        const QFontMetrics metrics(title->font());   // "Courier New" or a fixed-pitch look-alike
        QCOMPARE(metrics.horizontalAdvance(QLatin1Char('i')), metrics.horizontalAdvance(QLatin1Char('W')));
        QCOMPARE(title->palette().color(QPalette::WindowText), QColor(Qt::red));

        auto *product = box.findChild<QLabel *>(QStringLiteral("ProductName"));
        QVERIFY(product);
        QCOMPARE(product->text(), QStringLiteral("Korvane, 1.1"));

        auto *comments = box.findChild<QLabel *>(QStringLiteral("Comments"));
        QVERIFY(comments && comments->wordWrap());
        QVERIFY(comments->text().contains(QStringLiteral("PC GAMESS")));

        auto *ok = box.findChild<QPushButton *>(QStringLiteral("OKButton"));
        QVERIFY(ok && ok->isDefault());
        box.show();
        ok->click();
        QVERIFY(!box.isVisible());
        QCOMPARE(box.result(), int(QDialog::Accepted));
    }

    void linkOpensTheHomePage()
    {
        TAboutBox box;
        box.show();
        auto *link = box.findChild<QLabel *>(QStringLiteral("Label2"));
        QVERIFY(link);
        QVERIFY(link->font().underline());
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(link->palette().color(QPalette::WindowText), box.palette().color(QPalette::Link));
        const QUrl address(link->text());
        QVERIFY(address.isValid());
        QVERIFY(address.scheme().startsWith(QLatin1String("http")));

        UrlRecorder browser;
        QDesktopServices::setUrlHandler(address.scheme(), &browser, "open");
        QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
        QTest::mouseClick(link, Qt::RightButton, {}, link->rect().center());
        QDesktopServices::unsetUrlHandler(address.scheme());
        QCOMPARE(browser.opened, QList<QUrl>{address});
        QVERIFY(box.isVisible());
    }
};

QTEST_MAIN(TestAboutForm)
#include "tst_aboutform.moc"
