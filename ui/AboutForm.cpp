#include "ui/AboutForm.h"

#include "ui_AboutForm.h"

#include "ui/FormUtils.h"

#include <NeloVersion.h>

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

TAboutBox::TAboutBox(QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::TAboutBox>())
{
    ui->setupUi(this);
    FormUtils::ApplyFormFont(this);
    setFixedSize(size());
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);

    QFont title(QStringLiteral("Courier New"));
    title.setStyleHint(QFont::TypeWriter);
    title.setPixelSize(32);
    title.setBold(true);
    ui->Label3->setFont(title);
    QPalette red = ui->Label3->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    ui->Label3->setPalette(red);

    ui->ProductName->setText(QStringLiteral("%1, %2.%3")
                                 .arg(QStringLiteral(NELO_FILE_DESCRIPTION))
                                 .arg(NELO_VERSION_MAJOR)
                                 .arg(NELO_VERSION_MINOR));

    // The link: link colour, underlined, hand cursor; a click opens it.
    QFont link = ui->Label2->font();
    link.setUnderline(true);
    ui->Label2->setFont(link);
    QPalette linkPalette = ui->Label2->palette();
    linkPalette.setColor(QPalette::WindowText, linkPalette.color(QPalette::Link));
    ui->Label2->setPalette(linkPalette);
    ui->Label2->setCursor(Qt::PointingHandCursor);
    ui->Label2->installEventFilter(this);

    connect(ui->OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

TAboutBox::~TAboutBox() = default;

void TAboutBox::Label2Click()
{
    QDesktopServices::openUrl(QUrl(ui->Label2->text()));
}

bool TAboutBox::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->Label2 && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && ui->Label2->rect().contains(mouse->position().toPoint())) {
            Label2Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TAboutBox::showEvent(QShowEvent *event)
{
    if (!event->spontaneous())
        FormUtils::CentreOnScreen(this);
    QDialog::showEvent(event);
}
