#include "output/XlsxSheet.h"

#include "output/DBGridToExcel.h"
#include "output/ZipStream.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string_view>
#include <system_error>

namespace {

// The XML goes to the writer thread in blocks of about this size, and the caller runs at most this
// many blocks ahead of it, which bounds the memory they hold between them.
constexpr qsizetype XmlBlockBytes = qsizetype(1) << 20;
constexpr std::size_t BlocksAhead = 4;
// How often the caller's whileWaiting runs while it waits.
constexpr auto WaitSlice = std::chrono::milliseconds(20);

constexpr char XmlDeclaration[] = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
                                  "\n";
constexpr char MainNamespace[] = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr char RelationshipsNamespace[] = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr char PackageRelationshipsNamespace[] = "http://schemas.openxmlformats.org/package/2006/relationships";

QString SheetEntry(std::size_t index)
{
    return QStringLiteral("xl/worksheets/sheet%1.xml").arg(index + 1);
}

// A sheet row is a few hundred bytes made of small pieces; they are put together in a buffer on the
// stack and appended to the XML at once.
class Piece {
public:
    Piece& operator<<(std::string_view text)
    {
        end_ = std::copy(text.begin(), text.end(), end_);
        return *this;
    }
    Piece& number(std::uint64_t value)
    {
        end_ = std::to_chars(end_, std::end(buffer_), value).ptr;
        return *this;
    }
    Piece& number(double value)
    {
        end_ = std::to_chars(end_, std::end(buffer_), value).ptr;
        return *this;
    }
    // "A", "B", ... "Z", "AA", ... as the sheet names its columns.
    Piece& column(std::uint32_t col)
    {
        char letters[4];
        int count = 0;
        for (std::uint32_t n = col + 1; n > 0 && count < 4; n = (n - 1) / 26)
            letters[count++] = char('A' + (n - 1) % 26);
        while (count > 0)
            *end_++ = letters[--count];
        return *this;
    }
    void appendTo(QByteArray& out) const { out.append(buffer_, end_ - buffer_); }

private:
    char buffer_[128];
    char* end_ = buffer_;
};

// Text as XML character data. Control characters, which XML cannot carry, are written the way the
// format escapes them ("_x0001_"). Runs of ordinary characters go over whole.
void AppendEscaped(QByteArray& out, const QByteArray& text)
{
    const char* run = text.constData();
    const char* const end = run + text.size();
    for (const char* at = run; at != end; ++at) {
        const auto c = static_cast<unsigned char>(*at);
        const bool special = c == '&' || c == '<' || c == '>' || (c < 0x20 && c != '\t' && c != '\n' && c != '\r');
        if (!special)
            continue;
        out.append(run, at - run);
        run = at + 1;
        if (c == '&') {
            out.append("&amp;");
        } else if (c == '<') {
            out.append("&lt;");
        } else if (c == '>') {
            out.append("&gt;");
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "_x%04X_", unsigned(c));
            out.append(escaped);
        }
    }
    out.append(run, end - run);
}

QByteArray Escaped(const QString& text)
{
    QByteArray out;
    AppendEscaped(out, text.toUtf8());
    out.replace('"', "&quot;");
    return out;
}

} // namespace

XlsxSheet::XlsxSheet(const QString& path, const QString& shownPath, std::function<void()> whileWaiting)
    : shownPath_(shownPath)
    , whileWaiting_(std::move(whileWaiting))
    , zip_(std::make_unique<ZipStream>(path, shownPath))
{
    sheets_.push_back(Sheet { QStringLiteral("Sheet1"), std::nullopt, false });
    xml_.reserve(XmlBlockBytes + 4096);
    try {
        writer_ = std::thread([this] { write(); });
    } catch (const std::system_error& error) {
        throw SpreadsheetExportError(QStringLiteral("Cannot write %1: %2").arg(shownPath_, error.what()));
    }
}

XlsxSheet::~XlsxSheet()
{
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    writer_.join();
}

// ---- the caller's side

void XlsxSheet::startSheet(const QString& name)
{
    rowsDone(UINT32_MAX);
    endSheetXml();
    sheets_.push_back(Sheet { name, std::nullopt, false });
}

void XlsxSheet::freezeRowsAbove(std::uint32_t row)
{
    Sheet& sheet = sheets_.back();
    if (sheet.started)
        throw std::logic_error("an .xlsx sheet's frozen rows are set before its first cell");
    sheet.frozenRows = row;
}

void XlsxSheet::label(std::uint32_t row, std::uint32_t col, const QString& text)
{
    waiting_.push_back(Cell { row, col, true, 0.0, text.toUtf8() });
}

void XlsxSheet::number(std::uint32_t row, std::uint32_t col, double value)
{
    waiting_.push_back(Cell { row, col, false, value, {} });
}

void XlsxSheet::integer(std::uint32_t row, std::uint32_t col, std::int32_t value)
{
    waiting_.push_back(Cell { row, col, false, double(value), {} });
}

void XlsxSheet::blank(std::uint32_t, std::uint32_t)
{
    // A blank cell without a format is what an .xlsx sheet has where it has nothing.
}

void XlsxSheet::rowsDone(std::uint32_t belowRow)
{
    const auto inOrder = [](const Cell& a, const Cell& b) { return a.row != b.row ? a.row < b.row : a.col < b.col; };
    // The cells of a record come in order; only titles and footers may come out of it.
    if (!std::is_sorted(waiting_.begin(), waiting_.end(), inOrder))
        std::stable_sort(waiting_.begin(), waiting_.end(), inOrder);
    const auto firstWaiting
        = std::find_if(waiting_.begin(), waiting_.end(), [&](const Cell& cell) { return cell.row >= belowRow; });
    for (auto cell = waiting_.begin(); cell != firstWaiting; ++cell)
        appendCell(*cell);
    waiting_.erase(waiting_.begin(), firstWaiting);
    if (xml_.size() >= XmlBlockBytes)
        sendXml(false);
}

void XlsxSheet::beginSheetXml()
{
    Sheet& sheet = sheets_.back();
    sheet.started = true;
    send(Step { SheetEntry(sheets_.size() - 1), {}, false });
    xml_ += XmlDeclaration;
    xml_ += QByteArray("<worksheet xmlns=\"") + MainNamespace + "\" xmlns:r=\"" + RelationshipsNamespace + "\">";
    xml_ += QByteArray("<sheetViews><sheetView") + (sheets_.size() == 1 ? " tabSelected=\"1\"" : "")
        + " workbookViewId=\"0\"";
    if (sheet.frozenRows && *sheet.frozenRows > 0) {
        QByteArray topLeft = "A";
        topLeft += QByteArray::number(*sheet.frozenRows + 1);
        xml_ += "><pane ySplit=\"" + QByteArray::number(*sheet.frozenRows) + "\" topLeftCell=\"" + topLeft
            + "\" activePane=\"bottomLeft\" state=\"frozen\"/><selection pane=\"bottomLeft\" activeCell=\"" + topLeft
            + "\" sqref=\"" + topLeft + "\"/></sheetView>";
    } else {
        xml_ += "/>";
    }
    xml_ += "</sheetViews><sheetFormatPr defaultRowHeight=\"15\"/><sheetData>";
}

void XlsxSheet::endSheetXml()
{
    if (!sheets_.back().started)
        beginSheetXml();
    if (openRow_ >= 0)
        xml_ += "</row>";
    openRow_ = -1;
    xml_ += "</sheetData><pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
            "footer=\"0.3\"/></worksheet>";
    sendXml(true);
}

void XlsxSheet::appendCell(const Cell& cell)
{
    // An empty text without a format is no cell at all, as in the .xls sheet's reading.
    if (cell.isText && cell.text.isEmpty())
        return;
    if (!sheets_.back().started)
        beginSheetXml();
    Piece piece;
    if (qint64(cell.row) != openRow_) {
        if (openRow_ >= 0)
            piece << "</row>";
        openRow_ = cell.row;
        piece << "<row r=\"";
        piece.number(std::uint64_t(cell.row) + 1) << "\">";
    }
    piece << "<c r=\"";
    piece.column(cell.col).number(std::uint64_t(cell.row) + 1);
    if (!cell.isText && std::isfinite(cell.number)) {
        piece << "\"><v>";
        piece.number(cell.number) << "</v></c>";
        piece.appendTo(xml_);
        return;
    }
    const QByteArray text = cell.isText ? cell.text : QByteArray::number(cell.number);
    // Blanks at either end are the text's own.
    const bool keepBlanks = text.front() == ' ' || text.back() == ' ';
    piece << (keepBlanks ? "\" t=\"inlineStr\"><is><t xml:space=\"preserve\">" : "\" t=\"inlineStr\"><is><t>");
    piece.appendTo(xml_);
    AppendEscaped(xml_, text);
    xml_.append("</t></is></c>");
}

void XlsxSheet::sendXml(bool whole)
{
    if (xml_.isEmpty() && !whole)
        return;
    send(Step { {}, std::move(xml_), false });
    xml_ = QByteArray();
    xml_.reserve(XmlBlockBytes + 4096);
}

void XlsxSheet::finish()
{
    rowsDone(UINT32_MAX);
    endSheetXml();

    QByteArray types = XmlDeclaration;
    types += R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
             R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
             R"(<Default Extension="xml" ContentType="application/xml"/>)"
             R"(<Override PartName="/xl/workbook.xml" )"
             R"(ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>)"
             R"(<Override PartName="/xl/styles.xml" )"
             R"(ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>)";
    QByteArray workbook = XmlDeclaration;
    workbook
        += QByteArray("<workbook xmlns=\"") + MainNamespace + "\" xmlns:r=\"" + RelationshipsNamespace + "\"><sheets>";
    QByteArray relationships = XmlDeclaration;
    relationships += QByteArray("<Relationships xmlns=\"") + PackageRelationshipsNamespace + "\">";
    for (std::size_t i = 0; i < sheets_.size(); ++i) {
        const QByteArray number = QByteArray::number(qulonglong(i + 1));
        types += "<Override PartName=\"/" + SheetEntry(i).toUtf8()
            + "\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
        workbook += "<sheet name=\"" + Escaped(sheets_[i].name) + "\" sheetId=\"" + number + "\" r:id=\"rId" + number
            + "\"/>";
        relationships += "<Relationship Id=\"rId" + number + "\" Type=\"" + RelationshipsNamespace
            + "/worksheet\" Target=\"worksheets/sheet" + number + ".xml\"/>";
    }
    types += "</Types>";
    workbook += "</sheets></workbook>";
    relationships += "<Relationship Id=\"rId" + QByteArray::number(qulonglong(sheets_.size() + 1)) + "\" Type=\""
        + RelationshipsNamespace + "/styles\" Target=\"styles.xml\"/></Relationships>";
    QByteArray packageRelationships = XmlDeclaration;
    packageRelationships += QByteArray("<Relationships xmlns=\"") + PackageRelationshipsNamespace
        + "\"><Relationship Id=\"rId1\" Type=\"" + RelationshipsNamespace
        + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
    QByteArray styles = XmlDeclaration;
    styles += QByteArray("<styleSheet xmlns=\"") + MainNamespace + "\">"
        + R"(<fonts count="1"><font><sz val="11"/><name val="Calibri"/><family val="2"/></font></fonts>)"
          R"(<fills count="2"><fill><patternFill patternType="none"/></fill>)"
          R"(<fill><patternFill patternType="gray125"/></fill></fills>)"
          R"(<borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders>)"
          R"(<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>)"
          R"(<cellXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/></cellXfs>)"
          R"(<cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles>)"
          "</styleSheet>";

    for (const auto& [entry, bytes] : { std::pair { QStringLiteral("xl/workbook.xml"), workbook },
             std::pair { QStringLiteral("xl/_rels/workbook.xml.rels"), relationships },
             std::pair { QStringLiteral("xl/styles.xml"), styles },
             std::pair { QStringLiteral("_rels/.rels"), packageRelationships },
             std::pair { QStringLiteral("[Content_Types].xml"), types } }) {
        send(Step { entry, {}, false });
        send(Step { {}, bytes, false });
    }
    send(Step { {}, {}, true });
    std::unique_lock lock(mutex_);
    waitFor(lock, [this] { return finished_ || failure_.has_value(); });
    throwFailure();
}

void XlsxSheet::send(Step step)
{
    {
        std::unique_lock lock(mutex_);
        waitFor(lock, [this] { return failure_.has_value() || queue_.size() < BlocksAhead; });
        throwFailure();
        queue_.push_back(std::move(step));
    }
    changed_.notify_all();
}

void XlsxSheet::waitFor(std::unique_lock<std::mutex>& lock, const std::function<bool()>& ready)
{
    while (!changed_.wait_for(lock, WaitSlice, ready)) {
        if (!whileWaiting_)
            continue;
        lock.unlock();
        whileWaiting_();
        lock.lock();
    }
}

void XlsxSheet::throwFailure()
{
    if (failure_)
        throw SpreadsheetExportError(*failure_);
}

// ---- the writer thread's side

void XlsxSheet::write()
{
    for (;;) {
        Step step;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (stop_)
                return;
            step = std::move(queue_.front());
            queue_.pop_front();
        }
        changed_.notify_all();
        std::optional<QString> failure;
        try {
            if (!step.entry.isEmpty())
                zip_->startEntry(step.entry);
            else if (step.finish)
                zip_->finish();
            else
                zip_->write(step.bytes);
        } catch (const SpreadsheetExportError& error) {
            failure = error.text();
        } catch (const std::exception& error) {
            failure = QStringLiteral("Cannot write %1: %2").arg(shownPath_, QString::fromLocal8Bit(error.what()));
        }
        {
            const std::lock_guard lock(mutex_);
            failure_ = failure;
            finished_ = step.finish && !failure;
        }
        changed_.notify_all();
        if (failure)
            return;
    }
}
