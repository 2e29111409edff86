#include "cluster/RemoteShell.h"

#include <QFile>
#include <QRandomGenerator>

#include <optional>

namespace {

// The fixed script every request runs in. Its arguments: the frame word, then
// the requests, each a letter and its words (see RemoteScript). It prints
//   \nFRAME B                         the start
//   FRAME C\n OUTPUT \nFRAME E STATUS   a command
//   FRAME F SIZE COUNT\n BYTES          a file: COUNT bytes follow
//   FRAME L\n (FRAME N SIZE LENGTH\n NAME\n)* FRAME M\n   a folder
//   FRAME Z                           the end
// Lengths are counted in bytes (LC_ALL=C).
constexpr char Script[] = R"(LC_ALL=C; export LC_ALL
n=$1; shift
printf '\n%s B\n' "$n"
while [ $# -gt 0 ]; do
case $1 in
C) printf '%s C\n' "$n"; (eval "$2"); s=$?; printf '\n%s E %s\n' "$n" "$s"; shift 2 ;;
F) if [ -f "$2" ] && [ -r "$2" ]; then
z=$(wc -c <"$2"); z=$((z)); c=$((z - $3)); [ "$c" -gt "$4" ] && c=$4; [ "$c" -lt 0 ] && c=0
printf '%s F %s %s\n' "$n" "$z" "$c"
[ "$c" -gt 0 ] && tail -c +$(($3 + 1)) "$2" | head -c "$c"
else printf '%s F -1 0\n' "$n"; fi
shift 4 ;;
L) printf '%s L\n' "$n"
for f in "$2"/* "$2"/.[!.]* "$2"/..?*; do
[ -f "$f" ] || continue
b=${f##*/}; z=$(wc -c <"$f"); z=$((z))
printf '%s N %s %s\n%s\n' "$n" "$z" "${#b}" "$b"
done
printf '%s M\n' "$n"; shift 2 ;;
*) exit 2 ;;
esac
done
printf '%s Z\n' "$n"
)";

// Reads the frame's records from a position on.
class Reader
{
public:
    Reader(QByteArrayView text, QByteArrayView frame) : m_text(text), m_frame(frame) {}

    // "FRAME WORD" at the cursor; the rest of the line comes back.
    std::optional<QByteArrayView> Record(QByteArrayView word)
    {
        const QByteArrayView rest = m_text.sliced(m_at);
        if (!rest.startsWith(m_frame) || !rest.sliced(m_frame.size()).startsWith(' '))
            return std::nullopt;
        const QByteArrayView tail = rest.sliced(m_frame.size() + 1);
        if (!tail.startsWith(word))
            return std::nullopt;
        const qsizetype end = tail.indexOf('\n');
        if (end < 0)
            return std::nullopt;
        QByteArrayView line = tail.first(end).sliced(word.size());
        if (!line.isEmpty() && !line.startsWith(' '))
            return std::nullopt;
        m_at += m_frame.size() + 1 + end + 1;
        return line.trimmed();
    }
    // Peeks at the word of the record at the cursor.
    QByteArrayView NextWord() const
    {
        const QByteArrayView rest = m_text.sliced(m_at);
        if (!rest.startsWith(m_frame) || rest.size() < m_frame.size() + 2)
            return {};
        return rest.sliced(m_frame.size() + 1, 1);
    }
    std::optional<QByteArrayView> Bytes(qint64 count)
    {
        if (count < 0 || count > m_text.size() - m_at)
            return std::nullopt;
        const QByteArrayView bytes = m_text.sliced(m_at, count);
        m_at += count;
        return bytes;
    }
    // A command's output: up to "\nFRAME E ", which stays at the cursor
    // (without its line feed).
    std::optional<QByteArrayView> UntilEnd()
    {
        const QByteArray marker = '\n' + m_frame.toByteArray() + " E ";
        const qsizetype end = m_text.indexOf(marker, m_at);
        if (end < 0)
            return std::nullopt;
        const QByteArrayView output = m_text.sliced(m_at, end - m_at);
        m_at = end + 1;
        return output;
    }
    bool Find(QByteArrayView start)
    {
        const qsizetype at = m_text.indexOf(start);
        if (at < 0)
            return false;
        m_at = at + start.size();
        return true;
    }

private:
    QByteArrayView m_text;
    QByteArrayView m_frame;
    qsizetype m_at = 0;
};

std::optional<qint64> number(QByteArrayView text)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

std::optional<std::pair<qint64, qint64>> twoNumbers(QByteArrayView text)
{
    const qsizetype blank = text.indexOf(' ');
    if (blank < 0)
        return std::nullopt;
    const auto first = number(text.first(blank));
    const auto second = number(text.sliced(blank + 1));
    if (!first || !second)
        return std::nullopt;
    return std::make_pair(*first, *second);
}

} // namespace

QByteArray ShellQuote(QByteArrayView word)
{
    QByteArray quoted;
    quoted.reserve(word.size() + 2);
    quoted += '\'';
    for (const char c : word) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += '\'';
    return quoted;
}

QByteArray ShellQuote(const QString &word)
{
    return ShellQuote(QByteArrayView(QFile::encodeName(word)));
}

QByteArray ShellWords(const QStringList &words)
{
    QByteArray line;
    for (const QString &word : words) {
        if (!line.isEmpty())
            line += ' ';
        line += ShellQuote(word);
    }
    return line;
}

RemoteScript::RemoteScript(QByteArray frame) : m_frame(std::move(frame))
{
    if (m_frame.isEmpty()) {
        m_frame = "NELO";
        for (int i = 0; i < 20; ++i)
            m_frame += char('a' + QRandomGenerator::global()->bounded(26));
    }
    m_words << m_frame;
}

void RemoteScript::Command(const QByteArray &commandLine)
{
    m_words << "C" << commandLine;
}

void RemoteScript::Fetch(const QString &path, qint64 offset, qint64 limit)
{
    Fetch(QFile::encodeName(path), offset, limit);
}

void RemoteScript::Fetch(const QByteArray &path, qint64 offset, qint64 limit)
{
    m_words << "F" << path << QByteArray::number(offset) << QByteArray::number(limit);
}

void RemoteScript::List(const QString &folder)
{
    m_words << "L" << QFile::encodeName(folder);
}

QByteArray RemoteScript::Line() const
{
    QByteArray line = "sh -c " + ShellQuote(QByteArrayView(Script)) + " nelo";
    for (const QByteArray &word : m_words)
        line += ' ' + ShellQuote(word);
    return line;
}

RemoteAnswer ParseRemoteAnswer(QByteArrayView output, QByteArrayView frame)
{
    RemoteAnswer answer;
    Reader reader(output, frame);
    // Whatever a login printed before comes before the start.
    if (!reader.Find('\n' + frame.toByteArray() + " B\n"))
        return answer;
    for (;;) {
        const QByteArrayView word = reader.NextWord();
        if (word == "Z") {
            answer.whole = reader.Record("Z").has_value();
            return answer;
        }
        if (word == "C") {
            if (!reader.Record("C"))
                return answer;
            const auto text = reader.UntilEnd();
            const auto status = text ? reader.Record("E") : std::nullopt;
            const auto code = status ? number(*status) : std::nullopt;
            if (!code)
                return answer;
            answer.commands.append({int(*code), text->toByteArray()});
        } else if (word == "F") {
            const auto header = reader.Record("F");
            const auto sizes = header ? twoNumbers(*header) : std::nullopt;
            const auto bytes = sizes ? reader.Bytes(sizes->second) : std::nullopt;
            if (!bytes)
                return answer;
            answer.files.append({sizes->first, bytes->toByteArray()});
        } else if (word == "L") {
            if (!reader.Record("L"))
                return answer;
            QList<RemoteAnswer::Entry> entries;
            while (reader.NextWord() == "N") {
                const auto header = reader.Record("N");
                const auto sizes = header ? twoNumbers(*header) : std::nullopt;
                const auto name = sizes ? reader.Bytes(sizes->second) : std::nullopt;
                const auto lineEnd = name ? reader.Bytes(1) : std::nullopt;
                if (!lineEnd || *lineEnd != "\n")
                    return answer;
                entries.append({name->toByteArray(), sizes->first});
            }
            if (!reader.Record("M"))
                return answer;
            answer.listings.append(entries);
        } else {
            return answer;
        }
    }
}
