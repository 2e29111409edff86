// The HOMO-LUMO extraction on any bytes: a report line or one of our errors
// (never a crash, never a read outside the text), and the same outcome from
// the list-of-lines and the list-of-views forms and from the whole text.

#include "analysis/OrbitalReport.h"
#include "analysis/TextLines.h"
#include "fuzz/FuzzCheck.h"
#include "platform/Errors.h"

namespace {

bool isNumberField(const QByteArray &field)
{
    // "+1.23", "-0.50", "12.00", or the exponent form of a huge value.
    if (field.isEmpty())
        return false;
    for (const char c : field) {
        if (!((c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-' || c == 'E' || c == 'e'))
            return false;
    }
    return true;
}

// Outcome: the line, or the error's type and text.
template <typename Extract>
QByteArray outcome(const Extract &extract)
{
    try {
        const QByteArray line = extract();
        return "line:" + line;
    } catch (const EConvertError &error) {
        return "convert:" + error.message().toUtf8();
    } catch (const EListError &error) {
        return "list:" + error.message().toUtf8();
    } catch (const EFileError &error) {
        return "file:" + error.message().toUtf8();
    }
    // Anything else escapes and libFuzzer reports it.
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    // An exact-size copy, so that a read past the text's end is caught.
    const QByteArray text(reinterpret_cast<const char *>(bytes), qsizetype(size));
    const QString name = QStringLiteral("/tmp/run 7/fuzz.out");

    const std::vector<std::string_view> views
        = SplitLineViews(std::string_view(text.constData(), std::size_t(text.size())));
    const QByteArray fromViews = outcome([&] { return ExtractOrbitalReport(views, name); });
    const QByteArray fromLines = outcome([&] { return ExtractOrbitalReport(SplitTextLines(text), name); });
    FUZZ_CHECK(fromViews == fromLines);
    const QByteArray fromText = outcome([&] {
        return ExtractOrbitalReportRowFromText(std::string_view(text.constData(), std::size_t(text.size())), name).line;
    });
    FUZZ_CHECK(fromText == fromViews);

    if (fromViews.startsWith("line:")) {
        const QList<QByteArray> fields = fromViews.sliced(5).split('\t');
        FUZZ_CHECK(fields.size() == 5);
        FUZZ_CHECK(fields[0] == "fuzz           ");
        for (int i = 1; i < 5; ++i)
            FUZZ_CHECK(isNumberField(fields[i]));
    }
    return 0;
}
