// The INI file: any bytes parse, write back byte for byte, and a series of
// changes reads back as set (read -> write -> read gives the same values),
// without disturbing any other key.
//
// Input: the file's bytes, then (section, key, value) triples.

#include "fuzz/FuzzCheck.h"
#include "jobs/IniFile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

namespace {

struct Edit
{
    QByteArray section;
    QByteArray key;
    QByteArray value;
};

QByteArray take(FuzzedDataProvider &data, size_t maxLength)
{
    return QByteArray::fromStdString(data.ConsumeRandomLengthString(maxLength));
}

// What the file gives back for a value: blanks and tabs at both ends are not
// part of a value.
QByteArray stored(const QByteArray &value)
{
    qsizetype begin = 0;
    qsizetype end = value.size();
    while (begin < end && (value[begin] == ' ' || value[begin] == '\t'))
        ++begin;
    while (end > begin && (value[end - 1] == ' ' || value[end - 1] == '\t'))
        --end;
    return value.sliced(begin, end - begin);
}

bool sameName(const QByteArray &a, const QByteArray &b)
{
    return a.toLower() == b.toLower(); // ASCII letters only: toLower leaves other bytes alone
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const QByteArray original = take(data, 1 << 16);

    IniFile file = IniFile::fromBytes(original);
    FUZZ_CHECK(file.toBytes() == original);

    std::vector<Edit> edits;
    while (data.remaining_bytes() > 0 && edits.size() < 16)
        edits.push_back({take(data, 24), take(data, 24), take(data, 64)});

    std::vector<const Edit *> applied;
    for (const Edit &edit : edits) {
        // The values of the other edits' keys before this change.
        std::vector<std::optional<QByteArray>> before;
        for (const Edit &other : edits)
            before.push_back(file.value(other.section, other.key));
        const QByteArray bytesBefore = file.toBytes();

        try {
            file.setValue(edit.section, edit.key, edit.value);
        } catch (const EIniValueError &) {
            // Refused before anything changed.
            FUZZ_CHECK(file.toBytes() == bytesBefore);
            continue;
        }
        if (file.value(edit.section, edit.key) != stored(edit.value))
            std::fprintf(stderr, "section %s key %s value %s read %s\nfile %s\n", edit.section.toPercentEncoding().constData(),
                         edit.key.toPercentEncoding().constData(), edit.value.toPercentEncoding().constData(),
                         file.value(edit.section, edit.key).value_or("<none>").toPercentEncoding().constData(),
                         file.toBytes().toPercentEncoding().constData());
        FUZZ_CHECK(file.value(edit.section, edit.key) == stored(edit.value));
        for (size_t i = 0; i < edits.size(); ++i) {
            const Edit &other = edits[i];
            if (!(sameName(other.section, edit.section) && sameName(other.key, edit.key)))
                FUZZ_CHECK(file.value(other.section, other.key) == before[i]);
        }
        applied.push_back(&edit);
    }

    // Written and read again: the same bytes and the same values.
    const QByteArray written = file.toBytes();
    const IniFile reread = IniFile::fromBytes(written);
    FUZZ_CHECK(reread.toBytes() == written);
    for (const Edit &edit : edits)
        FUZZ_CHECK(reread.value(edit.section, edit.key) == file.value(edit.section, edit.key));
    for (const Edit *edit : applied) {
        // The last value set under the same name counts.
        QByteArray expected;
        for (const Edit *later : applied) {
            if (sameName(later->section, edit->section) && sameName(later->key, edit->key))
                expected = stored(later->value);
        }
        FUZZ_CHECK(reread.value(edit->section, edit->key) == expected);
    }
    return 0;
}
