// A report definition (Decimora_en.rav, or one a user edited), as File > Print Data Sheet reads it
// at every print. Whatever the file holds, the reader either refuses it with a ReportError or gives
// a definition the engine can lay out: finite lengths and font sizes, columns of some width, known
// fields.
#include "FuzzSupport.h"
#include "report/ReportDefinition.h"

#include <cmath>
#include <cstdlib>

namespace {

void Require(bool holds)
{
    if (!holds)
        std::abort();
}

bool Finite(double value)
{
    return std::isfinite(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    EnsureFuzzApplication();
    const QByteArrayView xml(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    ReportDefinition definition;
    try {
        definition = ParseReportDefinition(xml, QStringLiteral("Decimora_en.rav"));
    } catch (const ReportError&) {
        return 0; // the answer to most inputs
    }
    const QMarginsF& margins = definition.marginsMm;
    for (const double margin : { margins.left(), margins.top(), margins.right(), margins.bottom() })
        Require(Finite(margin) && margin >= 0.0);
    Require(Finite(definition.titleSizePt) && definition.titleSizePt > 0.0);
    Require(Finite(definition.fontSizePt) && definition.fontSizePt > 0.0);
    Require(!definition.columns.empty());
    for (const ReportColumn& column : definition.columns) {
        Require(Finite(column.widthMm) && column.widthMm > 0.0);
        Require(ReportFieldNames().contains(column.field));
    }
    for (const ReportSummaryLine& line : definition.summary) {
        if (IsLevelFunction(line.function))
            Require(!LevelFigureName(line.function, line.weighting).isEmpty());
    }
    return 0;
}
