// nelo-askpass: the window in which ssh asks its questions while Nelo
// connects to a cluster (ssh starts it through SSH_ASKPASS, with its prompt
// as the one argument). It shows ssh's own prompt, and writes the answer to
// its standard output for ssh, and nowhere else; Cancel gives ssh no answer
// (exit status 1). A confirmation (SSH_ASKPASS_PROMPT=confirm) has only
// OK and Cancel.

#include "cluster/SshConnection.h"

#include "ui_AskPassForm.h"

#include <QApplication>
#include <QPushButton>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString prompt = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const SshQuestion kind = SshQuestionKind(prompt, qEnvironmentVariable("SSH_ASKPASS_PROMPT"));

    QDialog dialog;
    Ui::TAskPassDlg ui;
    ui.setupUi(&dialog);
    ui.PromptLabel->setText(prompt.trimmed());
    ui.AnswerEdit->setVisible(kind != SshQuestion::Confirm);
    ui.AnswerEdit->setEchoMode(kind == SshQuestion::Secret ? QLineEdit::Password : QLineEdit::Normal);
    // The answer's text is not to be copied out of the window either.
    ui.AnswerEdit->setContextMenuPolicy(Qt::NoContextMenu);
    dialog.adjustSize();
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    ui.AnswerEdit->setFocus();
    if (dialog.exec() != QDialog::Accepted)
        return 1;
    if (kind != SshQuestion::Confirm) {
        const QByteArray answer = ui.AnswerEdit->text().toLocal8Bit();
        std::fwrite(answer.constData(), 1, size_t(answer.size()), stdout);
        std::fputc('\n', stdout);
    }
    return 0;
}
