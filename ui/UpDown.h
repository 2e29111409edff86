#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

// A pair of up and down arrows attached to a read-only edit (its associate),
// whose text is the number they step. The edit stays an ordinary edit: what
// it shows is the value. The arrows, the Up and Down keys (on the arrows or
// on the edit) and the mouse wheel step the number within the range; the
// edit's text is rewritten as a plain decimal number, no thousands separator.
class TUpDown : public QWidget
{
    Q_OBJECT

public:
    explicit TUpDown(QWidget *parent = nullptr);

    void setAssociate(QLineEdit *edit);
    QLineEdit *associate() const { return m_associate; }

    void setRange(int minimum, int maximum);
    int minimum() const { return m_minimum; }
    int maximum() const { return m_maximum; }

    // The number the arrows show: the associate's text when it holds a whole
    // number (clamped to the range), else the last position stepped to.
    int position() const;
    void setPosition(int position);

public slots:
    void stepBy(int steps);

signals:
    void positionChanged(int position);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    int clamped(int value) const;
    bool handleKey(int key);

    QToolButton *m_up;
    QToolButton *m_down;
    QLineEdit *m_associate = nullptr;
    int m_minimum = 0;
    int m_maximum = 100;
    int m_position = 0;
};
