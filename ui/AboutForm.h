#pragma once

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class TAboutBox;
}

// The about box: the program's icon, name and version, a few words about
// Firefly and a link to its home page.
class TAboutBox : public QDialog
{
    Q_OBJECT

public:
    explicit TAboutBox(QWidget *parent = nullptr);
    ~TAboutBox() override;

public slots:
    // Opens the link's address in the desktop's browser; a failure is not reported.
    void Label2Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    std::unique_ptr<Ui::TAboutBox> ui;
};
