#include "ui/FormUtils.h"

#include <QFont>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QWidget>

namespace FormUtils {

void InstallFontSubstitutes()
{
    static const bool installed = [] {
        // Metric-compatible families first, then common look-alikes.
        QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                                   {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                    QStringLiteral("Arial"), QStringLiteral("Nimbus Sans"),
                                    QStringLiteral("Helvetica"), QStringLiteral("DejaVu Sans")});
        QFont::insertSubstitutions(QStringLiteral("Courier New"),
                                   {QStringLiteral("Liberation Mono"), QStringLiteral("Cousine"),
                                    QStringLiteral("Nimbus Mono PS"), QStringLiteral("Courier"),
                                    QStringLiteral("DejaVu Sans Mono")});
        return true;
    }();
    Q_UNUSED(installed);
}

void ApplyFormFont(QWidget *form)
{
    InstallFontSubstitutes();
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    form->setFont(font);
}

void CentreOnScreen(QWidget *window)
{
    const QScreen *screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

QColor GreyTextColour(const QPalette &palette)
{
    return palette.color(QPalette::Disabled, QPalette::WindowText);
}

void MakeGrey(QWidget *field)
{
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, GreyTextColour(palette));
    field->setPalette(palette);
}

} // namespace FormUtils
