// The working-directory list: any list joins to a text that splits back to
// the same list, and any text splits to a list that joins and splits back to
// itself. Empty items among others are written as nothing (the settings
// dialog never makes them), so those lists do not come back and are left out.
//
// Input: list items (UTF-8, so any character of a path can occur).

#include "fuzz/FuzzCheck.h"
#include "jobs/DirList.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

bool roundTrips(const QStringList &list)
{
    return list.size() == 1 || !list.contains(QString());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    // Any text, as the settings file or the dialog may hold it.
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(bytes), qsizetype(size));
    const QStringList split = SplitDirList(text);
    if (roundTrips(split))
        FUZZ_CHECK(SplitDirList(JoinDirList(split)) == split);

    // Any list of items.
    FuzzedDataProvider data(bytes, size);
    QStringList list;
    while (data.remaining_bytes() > 0 && list.size() < 64)
        list.append(QString::fromStdString(data.ConsumeRandomLengthString(256)));
    const QString joined = JoinDirList(list);
    if (roundTrips(list))
        FUZZ_CHECK(SplitDirList(joined) == list);
    return 0;
}
