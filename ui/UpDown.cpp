#include "ui/UpDown.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QWheelEvent>

#include <algorithm>

TUpDown::TUpDown(QWidget *parent)
    : QWidget(parent)
    , m_up(new QToolButton(this))
    , m_down(new QToolButton(this))
{
    setFocusPolicy(Qt::StrongFocus);
    for (QToolButton *button : {m_up, m_down}) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRepeat(true);
        button->setAutoRaise(false);
        button->setIconSize(QSize(7, 7));
    }
    m_up->setObjectName(QStringLiteral("UpArrow"));
    m_down->setObjectName(QStringLiteral("DownArrow"));
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    connect(m_up, &QToolButton::clicked, this, [this] { stepBy(1); });
    connect(m_down, &QToolButton::clicked, this, [this] { stepBy(-1); });
}

void TUpDown::setAssociate(QLineEdit *edit)
{
    if (m_associate)
        m_associate->removeEventFilter(this);
    m_associate = edit;
    if (m_associate)
        m_associate->installEventFilter(this);
}

void TUpDown::setRange(int minimum, int maximum)
{
    m_minimum = minimum;
    m_maximum = std::max(minimum, maximum);
    m_position = clamped(m_position);
}

int TUpDown::clamped(int value) const
{
    return std::clamp(value, m_minimum, m_maximum);
}

int TUpDown::position() const
{
    if (m_associate) {
        bool ok = false;
        const int shown = m_associate->text().trimmed().toInt(&ok);
        if (ok)
            return clamped(shown);
    }
    return m_position;
}

void TUpDown::setPosition(int position)
{
    m_position = clamped(position);
    if (m_associate)
        m_associate->setText(QString::number(m_position));
    emit positionChanged(m_position);
}

void TUpDown::stepBy(int steps)
{
    if (isEnabled())
        setPosition(position() + steps);
}

bool TUpDown::handleKey(int key)
{
    switch (key) {
    case Qt::Key_Up:
        stepBy(1);
        return true;
    case Qt::Key_Down:
        stepBy(-1);
        return true;
    default:
        return false;
    }
}

bool TUpDown::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_associate && event->type() == QEvent::KeyPress
        && handleKey(static_cast<QKeyEvent *>(event)->key()))
        return true;
    return QWidget::eventFilter(watched, event);
}

void TUpDown::keyPressEvent(QKeyEvent *event)
{
    if (!handleKey(event->key()))
        QWidget::keyPressEvent(event);
}

void TUpDown::wheelEvent(QWheelEvent *event)
{
    const int delta = event->angleDelta().y();
    if (delta != 0)
        stepBy(delta > 0 ? 1 : -1);
    event->accept();
}

void TUpDown::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const int upHeight = height() / 2;
    m_up->setGeometry(0, 0, width(), upHeight);
    m_down->setGeometry(0, upHeight, width(), height() - upHeight);
}
