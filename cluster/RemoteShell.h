#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

// What Nelo says to the shell of a machine it reaches over SSH, and how it
// reads the answer back.
//
// ssh hands the remote command to the login shell of the remote user as one
// line of text, so every command line Nelo sends is made of fixed words and
// arguments quoted by ShellQuote, the one function that quotes for a POSIX
// shell: no path or name the user chose is ever parsed as shell syntax there.
//
// A login may print text of its own (a banner, a message of the day, a shell
// start-up file that echoes something) before the command's output. So
// everything Nelo asks for is framed: a RemoteScript runs a fixed script that
// marks the start, each answer and the end with a word of random letters
// that no login prints, and file contents come with their exact length.
// Text around the frame is ignored; an answer whose frame is not whole
// (the connection dropped, a command was killed) is taken as no answer.

// The word in single quotes, each single quote in it as '\'' : the shell
// reads it back byte for byte, whatever it holds (blanks, quotes, $(...), ;,
// backslashes, line feeds, non-ASCII letters, nothing at all).
QByteArray ShellQuote(QByteArrayView word);
inline QByteArray ShellQuote(const QByteArray &word) { return ShellQuote(QByteArrayView(word)); }
QByteArray ShellQuote(const QString &word); // the file system's encoding

// The words quoted and joined by blanks: a simple command line.
QByteArray ShellWords(const QStringList &words);

// Several requests in one round trip, answered in order.
class RemoteScript
{
public:
    // A frame word of 20 random letters; a test may give its own.
    explicit RemoteScript(QByteArray frame = {});

    // A command line (built with ShellWords and fixed operators only), run
    // with its standard error going to ssh's. Answered by its output and
    // exit status. The first Command may read the standard input ssh is
    // given (a file being copied there).
    void Command(const QByteArray &commandLine);
    // Up to `limit` bytes of a file from `offset` on, and its size then.
    void Fetch(const QString &path, qint64 offset, qint64 limit);
    void Fetch(const QByteArray &path, qint64 offset, qint64 limit);
    // The regular files in a folder (not in its subfolders): names and sizes.
    void List(const QString &folder);

    bool IsEmpty() const { return m_words.size() <= 1; }
    const QByteArray &Frame() const { return m_frame; }
    // The line ssh sends: `sh -c SCRIPT nelo FRAME REQUESTS...`, the fixed
    // words as they stand, everything else quoted.
    QByteArray Line() const;

private:
    QByteArray m_frame;
    QList<QByteArray> m_words; // the frame, then each request's words
};

struct RemoteAnswer
{
    struct Command
    {
        int status = -1;
        QByteArray output;
    };
    struct File
    {
        qint64 size = -1; // -1: no such file
        QByteArray bytes; // from the offset asked for
    };
    struct Entry
    {
        QByteArray name;
        qint64 size = 0;
    };

    bool whole = false; // the frame was there from start to end
    QList<Command> commands;
    QList<File> files;
    QList<QList<Entry>> listings;
};

// Reads what a RemoteScript printed: `whole` is false when anything is
// missing or out of place (then nothing else is to be used).
RemoteAnswer ParseRemoteAnswer(QByteArrayView output, QByteArrayView frame);
