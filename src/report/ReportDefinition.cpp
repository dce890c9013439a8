#include "report/ReportDefinition.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <utility>

namespace {

constexpr char RootElement[] = "report";
constexpr char FormatVersion[] = "1";

// The page sizes a definition may name; "printer" keeps the printer's paper.
struct NamedPageSize {
    const char* name;
    QPageSize::PageSizeId id;
};
constexpr std::array<NamedPageSize, 9> PageSizes { {
    { "A3", QPageSize::A3 },
    { "A4", QPageSize::A4 },
    { "A5", QPageSize::A5 },
    { "A6", QPageSize::A6 },
    { "B5", QPageSize::B5 },
    { "Letter", QPageSize::Letter },
    { "Legal", QPageSize::Legal },
    { "Executive", QPageSize::Executive },
    { "Tabloid", QPageSize::Tabloid },
} };

ReportBlock BlockOf(ReportBlockKind kind)
{
    ReportBlock block;
    block.kind = kind;
    return block;
}

QString quotedPath(const QString& path)
{
    return QStringLiteral("\"%1\"").arg(QDir::toNativeSeparators(path));
}

// Walks the XML and turns every fault into a ReportError that names the file and the place.
class DefinitionReader {
public:
    DefinitionReader(QByteArrayView xml, QString shownName)
        : xml_(QByteArray(xml.data(), xml.size()))
        , shownName_(std::move(shownName))
    {
    }

    ReportDefinition read()
    {
        if (!nextElement())
            fail(QStringLiteral("it holds no element"));
        if (xml_.name() != QLatin1String(RootElement)) {
            fail(QStringLiteral("its first element is <%1>, where a definition starts with <%2>")
                     .arg(xml_.name().toString(), QLatin1String(RootElement)));
        }
        allowAttributes({ "version" });
        const QString version = requiredAttribute("version");
        if (version != QLatin1String(FormatVersion))
            fail(QStringLiteral("it is of version %1; this program reads version %2").arg(version, FormatVersion));

        bool seenPage = false;
        bool seenHeader = false;
        bool seenData = false;
        bool seenSummary = false;
        while (nextChild()) {
            const auto name = xml_.name();
            if (name == QLatin1String("page")) {
                once(seenPage);
                readPage();
            } else if (name == QLatin1String("page-header")) {
                once(seenHeader);
                readPageHeader();
            } else if (name == QLatin1String("data")) {
                once(seenData);
                readData();
                definition_.blocks.push_back(BlockOf(ReportBlockKind::Data));
            } else if (name == QLatin1String("summary")) {
                once(seenSummary);
                readSummary();
                definition_.blocks.push_back(BlockOf(ReportBlockKind::Summary));
            } else if (name == QLatin1String("fields")) {
                readFields();
            } else if (name == QLatin1String("chart")) {
                readChart();
            } else if (name == QLatin1String("table")) {
                readTable();
            } else {
                unknownElement(QLatin1String(RootElement));
            }
        }
        // Whatever follows the root element must still be well-formed.
        while (!xml_.atEnd())
            xml_.readNext();
        checkWellFormed();
        // The summary prints under the last row of the data band, wherever it is written.
        const auto data = std::find_if(definition_.blocks.begin(), definition_.blocks.end(),
            [](const ReportBlock& block) { return block.kind == ReportBlockKind::Data; });
        const auto summary = std::find_if(definition_.blocks.begin(), definition_.blocks.end(),
            [](const ReportBlock& block) { return block.kind == ReportBlockKind::Summary; });
        if (data != definition_.blocks.end() && summary != definition_.blocks.end()) {
            definition_.blocks.erase(summary);
            const auto dataAgain = std::find_if(definition_.blocks.begin(), definition_.blocks.end(),
                [](const ReportBlock& block) { return block.kind == ReportBlockKind::Data; });
            definition_.blocks.insert(dataAgain + 1, BlockOf(ReportBlockKind::Summary));
        }
        const bool prints = std::any_of(definition_.blocks.begin(), definition_.blocks.end(),
            [](const ReportBlock& block) { return block.kind != ReportBlockKind::Summary; });
        if (!prints)
            failAtEnd(QStringLiteral("it has no <data> band, <table>, <chart> or <fields>: nothing to print"));
        if (seenSummary && !seenData)
            failAtEnd(QStringLiteral("its <summary> sums up a <data> band it does not have"));
        return definition_;
    }

private:
    [[noreturn]] void fail(const QString& reason)
    {
        throw ReportError(QStringLiteral("%1 is not a report definition: %2 (line %3, column %4).")
                              .arg(shownName_, reason)
                              .arg(xml_.lineNumber())
                              .arg(xml_.columnNumber()));
    }
    [[noreturn]] void failAtEnd(const QString& reason)
    {
        throw ReportError(QStringLiteral("%1 is not a report definition: %2.").arg(shownName_, reason));
    }

    void checkWellFormed()
    {
        if (xml_.hasError() && xml_.error() != QXmlStreamReader::CustomError)
            fail(QStringLiteral("the XML is broken: %1").arg(xml_.errorString()));
    }

    // Moves to the next start element of the document, skipping comments and processing
    // instructions; false at the end.
    bool nextElement()
    {
        while (!xml_.atEnd()) {
            xml_.readNext();
            checkWellFormed();
            if (xml_.isStartElement())
                return true;
        }
        checkWellFormed();
        return false;
    }

    // Moves to the next child element of the current element; false at its end tag. Text between
    // the children may only be white space.
    bool nextChild()
    {
        while (true) {
            xml_.readNext();
            checkWellFormed();
            if (xml_.atEnd())
                fail(QStringLiteral("the document ends inside an element"));
            if (xml_.isStartElement())
                return true;
            if (xml_.isEndElement())
                return false;
            if (xml_.isCharacters() && !xml_.isWhitespace())
                fail(QStringLiteral("text \"%1\" stands where only elements belong").arg(xml_.text().trimmed()));
        }
    }

    void once(bool& seen)
    {
        if (seen)
            fail(QStringLiteral("<%1> appears twice").arg(xml_.name().toString()));
        seen = true;
    }

    [[noreturn]] void unknownElement(QLatin1String parent)
    {
        fail(QStringLiteral("<%1> is not an element of <%2>").arg(xml_.name().toString(), parent));
    }

    // Refuses any attribute of the current element that is not listed: a misspelt attribute would
    // otherwise be dropped without a word.
    void allowAttributes(std::initializer_list<const char*> allowed)
    {
        for (const QXmlStreamAttribute& attribute : xml_.attributes()) {
            bool known = false;
            for (const char* name : allowed)
                known = known || attribute.qualifiedName() == QLatin1String(name);
            if (!known) {
                fail(QStringLiteral("<%1> has no attribute %2")
                         .arg(xml_.name().toString(), attribute.qualifiedName().toString()));
            }
        }
    }

    std::optional<QString> attribute(const char* name) const
    {
        const QXmlStreamAttributes attributes = xml_.attributes();
        if (!attributes.hasAttribute(QLatin1String(name)))
            return std::nullopt;
        return attributes.value(QLatin1String(name)).toString();
    }

    QString requiredAttribute(const char* name)
    {
        const std::optional<QString> value = attribute(name);
        if (!value || value->trimmed().isEmpty())
            fail(QStringLiteral("<%1> needs the attribute %2").arg(xml_.name().toString(), QLatin1String(name)));
        return value->trimmed();
    }

    [[noreturn]] void badValue(const char* name, const QString& value, const QString& expected)
    {
        fail(QStringLiteral("%1=\"%2\" of <%3> is not %4")
                 .arg(QLatin1String(name), value, xml_.name().toString(), expected));
    }

    // A length with its unit: "15mm", "1.5cm", "0.5in", "12pt". Millimetres.
    double length(const char* name, double fallback, double minimum)
    {
        const std::optional<QString> text = attribute(name);
        if (!text)
            return fallback;
        static const std::array<std::pair<const char*, double>, 4> units { { { "mm", 1.0 }, { "cm", 10.0 },
            { "in", 25.4 }, { "pt", 25.4 / 72.0 } } };
        const QString value = text->trimmed();
        for (const auto& [unit, millimetres] : units) {
            if (!value.endsWith(QLatin1String(unit)))
                continue;
            bool ok = false;
            const double number = value.chopped(2).trimmed().toDouble(&ok);
            // A number near the largest double is finite as written but not in millimetres.
            if (ok && std::isfinite(number * millimetres) && number >= minimum)
                return number * millimetres;
        }
        badValue(name, *text,
            minimum > 0 ? QStringLiteral("a length above zero with its unit, such as 25mm")
                        : QStringLiteral("a length with its unit, such as 15mm"));
    }

    // A font size in points: "9.5pt" or "9.5".
    double fontSize(const char* name, double fallback)
    {
        const std::optional<QString> text = attribute(name);
        if (!text)
            return fallback;
        QString value = text->trimmed();
        if (value.endsWith(QLatin1String("pt")))
            value.chop(2);
        bool ok = false;
        const double points = value.trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(points) || points < 4.0 || points > 72.0)
            badValue(name, *text, QStringLiteral("a font size from 4pt to 72pt"));
        return points;
    }

    template <typename Value, std::size_t N>
    Value choice(const char* name, const std::array<std::pair<const char*, Value>, N>& choices, Value fallback)
    {
        const std::optional<QString> text = attribute(name);
        if (!text)
            return fallback;
        QStringList names;
        for (const auto& [word, value] : choices) {
            if (text->trimmed() == QLatin1String(word))
                return value;
            names << QString::fromLatin1(word);
        }
        badValue(name, *text, QStringLiteral("one of %1").arg(names.join(QStringLiteral(", "))));
    }

    QString field(const char* name)
    {
        const QString value = requiredAttribute(name);
        if (!ReportFieldNames().contains(value)) {
            badValue(name, value,
                QStringLiteral("a field of the table (%1)").arg(ReportFieldNames().join(QStringLiteral(", "))));
        }
        return value;
    }

    // The text of an element that has no children.
    QString elementText()
    {
        const QString name = xml_.name().toString();
        const QString text = xml_.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
        if (xml_.hasError()) {
            if (xml_.error() == QXmlStreamReader::UnexpectedElementError)
                fail(QStringLiteral("<%1> holds an element where only text belongs").arg(name));
            checkWellFormed();
        }
        return text.simplified();
    }

    void emptyElement()
    {
        const QString name = xml_.name().toString();
        if (nextChild())
            fail(QStringLiteral("<%1> takes no element inside it").arg(name));
    }

    void readPage()
    {
        allowAttributes({ "size", "orientation", "margin-left", "margin-top", "margin-right", "margin-bottom" });
        if (const std::optional<QString> size = attribute("size")) {
            const QString value = size->trimmed();
            bool found = value == QLatin1String("printer");
            QStringList names { QStringLiteral("printer") };
            for (const NamedPageSize& named : PageSizes) {
                names << QString::fromLatin1(named.name);
                if (value.compare(QLatin1String(named.name), Qt::CaseInsensitive) == 0) {
                    definition_.pageSize = QPageSize(named.id);
                    found = true;
                }
            }
            if (!found)
                badValue("size", *size, QStringLiteral("one of %1").arg(names.join(QStringLiteral(", "))));
        }
        static const std::array<std::pair<const char*, std::optional<QPageLayout::Orientation>>, 3> orientations { {
            { "printer", std::nullopt },
            { "portrait", QPageLayout::Portrait },
            { "landscape", QPageLayout::Landscape },
        } };
        definition_.orientation = choice("orientation", orientations, definition_.orientation);
        QMarginsF& margins = definition_.marginsMm;
        margins.setLeft(length("margin-left", margins.left(), 0.0));
        margins.setTop(length("margin-top", margins.top(), 0.0));
        margins.setRight(length("margin-right", margins.right(), 0.0));
        margins.setBottom(length("margin-bottom", margins.bottom(), 0.0));
        emptyElement();
    }

    void readPageHeader()
    {
        allowAttributes({});
        bool seenTitle = false;
        bool seenDate = false;
        bool seenNumber = false;
        while (nextChild()) {
            const auto name = xml_.name();
            if (name == QLatin1String("title")) {
                once(seenTitle);
                allowAttributes({ "size" });
                definition_.titleSizePt = fontSize("size", definition_.titleSizePt);
                definition_.title = elementText();
            } else if (name == QLatin1String("print-date")) {
                once(seenDate);
                allowAttributes({});
                definition_.printDate = elementText();
            } else if (name == QLatin1String("page-number")) {
                once(seenNumber);
                allowAttributes({});
                definition_.pageNumber = elementText();
            } else {
                unknownElement(QLatin1String("page-header"));
            }
        }
    }

    void readData()
    {
        allowAttributes({ "connection", "font-size", "shading" });
        definition_.connection = requiredAttribute("connection");
        definition_.fontSizePt = fontSize("font-size", definition_.fontSizePt);
        static const std::array<std::pair<const char*, bool>, 2> shadings { {
            { "none", false },
            { "alternate", true },
        } };
        definition_.alternateShading = choice("shading", shadings, false);
        definition_.columns = readColumns(QLatin1String("data"), [this] { return field("field"); });
        if (definition_.columns.empty())
            fail(QStringLiteral("the <data> band has no <column>"));
    }

    // <column> children of a <data> band or a <table>; keys are checked by the caller.
    std::vector<ReportColumn> readColumns(QLatin1String parent, const std::function<QString()>& key)
    {
        static const std::array<std::pair<const char*, ReportAlignment>, 3> alignments { {
            { "left", ReportAlignment::Left },
            { "center", ReportAlignment::Center },
            { "right", ReportAlignment::Right },
        } };
        std::vector<ReportColumn> columns;
        while (nextChild()) {
            if (xml_.name() != QLatin1String("column"))
                unknownElement(parent);
            allowAttributes({ "field", "title", "width", "align" });
            ReportColumn column;
            column.field = key();
            column.title = attribute("title").value_or(column.field);
            column.widthMm = length("width", 30.0, 0.1);
            column.alignment = choice("align", alignments, ReportAlignment::Left);
            column.alignmentGiven = attribute("align").has_value();
            columns.push_back(column);
            emptyElement();
        }
        return columns;
    }

    void readFields()
    {
        allowAttributes({ "title" });
        ReportBlock block = BlockOf(ReportBlockKind::Fields);
        block.title = attribute("title").value_or(QString()).simplified();
        while (nextChild()) {
            if (xml_.name() != QLatin1String("field"))
                unknownElement(QLatin1String("fields"));
            allowAttributes({ "label" });
            ReportFieldLine line;
            line.label = attribute("label").value_or(QString()).simplified();
            line.text = elementText();
            block.fields.push_back(line);
        }
        if (block.fields.empty())
            fail(QStringLiteral("<fields> has no <field>"));
        definition_.blocks.push_back(block);
    }

    void readChart()
    {
        allowAttributes({ "source", "title", "height" });
        ReportBlock block = BlockOf(ReportBlockKind::Chart);
        block.source = requiredAttribute("source");
        block.title = attribute("title").value_or(QString()).simplified();
        block.heightMm = length("height", block.heightMm, 20.0);
        emptyElement();
        definition_.blocks.push_back(block);
    }

    void readTable()
    {
        allowAttributes({ "source", "title", "font-size", "shading", "empty" });
        ReportBlock block = BlockOf(ReportBlockKind::Table);
        block.source = requiredAttribute("source");
        block.title = attribute("title").value_or(QString()).simplified();
        block.emptyText = attribute("empty").value_or(QStringLiteral("None")).simplified();
        block.fontSizePt = fontSize("font-size", block.fontSizePt);
        static const std::array<std::pair<const char*, bool>, 2> shadings { {
            { "none", false },
            { "alternate", true },
        } };
        block.alternateShading = choice("shading", shadings, false);
        // The source's columns are known only when the program binds it: here any key is taken.
        block.columns = readColumns(QLatin1String("table"), [this] { return requiredAttribute("field"); });
        definition_.blocks.push_back(block);
    }

    void readSummary()
    {
        allowAttributes({ "field", "title" });
        definition_.summaryField = field("field");
        definition_.summaryTitle = attribute("title").value_or(QString()).simplified();
        static const std::array<std::pair<const char*, ReportSummaryFunction>, 10> functions { {
            { "count", ReportSummaryFunction::Count },
            { "maximum", ReportSummaryFunction::Maximum },
            { "minimum", ReportSummaryFunction::Minimum },
            { "average", ReportSummaryFunction::Average },
            { "leq", ReportSummaryFunction::Leq },
            { "l10", ReportSummaryFunction::L10 },
            { "l50", ReportSummaryFunction::L50 },
            { "l90", ReportSummaryFunction::L90 },
            { "lmax", ReportSummaryFunction::Lmax },
            { "lmin", ReportSummaryFunction::Lmin },
        } };
        static const std::array<std::pair<const char*, Weighting>, 2> weightings { {
            { "A", Weighting::A },
            { "C", Weighting::C },
        } };
        while (nextChild()) {
            if (xml_.name() != QLatin1String("line"))
                unknownElement(QLatin1String("summary"));
            requiredAttribute("function");
            ReportSummaryLine line;
            line.function = choice("function", functions, ReportSummaryFunction::Count);
            if (IsLevelFunction(line.function)) {
                allowAttributes({ "function", "weighting", "label", "unit" });
                line.weighting = choice("weighting", weightings, Weighting::A);
                // Unnamed, a figure reads as it does in the statistics window and the spreadsheet.
                line.label = attribute("label").value_or(LevelFigureName(line.function, line.weighting)).simplified();
                line.unit = attribute("unit").value_or(QStringLiteral("dB")).simplified();
            } else {
                // A weighting here would be silently ignored: these take every row of the field.
                allowAttributes({ "function", "label", "unit" });
                line.label = attribute("label").value_or(QString()).simplified();
                line.unit = attribute("unit").value_or(QString()).simplified();
            }
            definition_.summary.push_back(line);
            emptyElement();
        }
    }

    QXmlStreamReader xml_;
    QString shownName_;
    ReportDefinition definition_;
};

} // namespace

bool IsLevelFunction(ReportSummaryFunction function)
{
    switch (function) {
    case ReportSummaryFunction::Count:
    case ReportSummaryFunction::Maximum:
    case ReportSummaryFunction::Minimum:
    case ReportSummaryFunction::Average:
        return false;
    case ReportSummaryFunction::Leq:
    case ReportSummaryFunction::L10:
    case ReportSummaryFunction::L50:
    case ReportSummaryFunction::L90:
    case ReportSummaryFunction::Lmax:
    case ReportSummaryFunction::Lmin:
        break;
    }
    return true;
}

QString LevelFigureName(ReportSummaryFunction function, Weighting weighting)
{
    QString suffix;
    switch (function) {
    case ReportSummaryFunction::Leq:
        suffix = QStringLiteral("eq");
        break;
    case ReportSummaryFunction::L10:
        suffix = QStringLiteral("10");
        break;
    case ReportSummaryFunction::L50:
        suffix = QStringLiteral("50");
        break;
    case ReportSummaryFunction::L90:
        suffix = QStringLiteral("90");
        break;
    case ReportSummaryFunction::Lmax:
        suffix = QStringLiteral("max");
        break;
    case ReportSummaryFunction::Lmin:
        suffix = QStringLiteral("min");
        break;
    case ReportSummaryFunction::Count:
    case ReportSummaryFunction::Maximum:
    case ReportSummaryFunction::Minimum:
    case ReportSummaryFunction::Average:
        return {};
    }
    return QStringLiteral("L") + QLatin1Char(WeightingLetter(weighting)) + suffix;
}

const QStringList& ReportFieldNames()
{
    static const QStringList names { QStringLiteral("RecNo"), QStringLiteral("MeaValue"), QStringLiteral("Weight"),
        QStringLiteral("Time"), QStringLiteral("Date") };
    return names;
}

QString FillReportFields(QString text, const QMap<QString, QString>& fields)
{
    for (auto field = fields.cbegin(); field != fields.cend(); ++field)
        text.replace(QLatin1Char('{') + field.key() + QLatin1Char('}'), field.value());
    return text;
}

ReportDefinition ParseReportDefinition(QByteArrayView xml, const QString& shownName)
{
    return DefinitionReader(xml, shownName).read();
}

ReportDefinition ReadReportDefinition(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw ReportError(QStringLiteral("The report definition %1 does not exist.").arg(quotedPath(path)));
    if (info.isDir())
        throw ReportError(QStringLiteral("The report definition %1 is a folder.").arg(quotedPath(path)));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ReportError(
            QStringLiteral("The report definition %1 cannot be read: %2.").arg(quotedPath(path), file.errorString()));
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw ReportError(
            QStringLiteral("The report definition %1 cannot be read: %2.").arg(quotedPath(path), file.errorString()));
    return ParseReportDefinition(content, quotedPath(path));
}
