#pragma once

// Printed PDF files read back with poppler-utils (pdfinfo, pdftotext), as a person's PDF reader
// would see them.

#include <QProcess>
#include <QRegularExpression>
#include <QSizeF>
#include <QString>
#include <QStringList>

struct PdfDocument {
    // False when the file could not be read as a PDF.
    bool readable = false;
    int pageCount = 0;
    // The first page's size in points.
    QSizeF pageSize;
    // The text of each page, laid out as on the page (pdftotext -layout).
    QStringList pageTexts;
};

inline QString RunTool(const QString& program, const QStringList& arguments, bool* ok = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    const bool finished = process.waitForFinished(120000);
    if (ok)
        *ok = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return QString::fromUtf8(process.readAllStandardOutput());
}

inline PdfDocument ReadPdf(const QString& path)
{
    PdfDocument pdf;
    bool ok = false;
    const QString info = RunTool(QStringLiteral("pdfinfo"), { path }, &ok);
    if (!ok)
        return pdf;
    const auto pages = QRegularExpression(QStringLiteral(R"(Pages:\s+(\d+))")).match(info);
    const auto size = QRegularExpression(QStringLiteral(R"(Page size:\s+([\d.]+) x ([\d.]+) pts)")).match(info);
    if (!pages.hasMatch() || !size.hasMatch())
        return pdf;
    pdf.pageCount = pages.captured(1).toInt();
    pdf.pageSize = QSizeF(size.captured(1).toDouble(), size.captured(2).toDouble());
    const QString text
        = RunTool(QStringLiteral("pdftotext"), { QStringLiteral("-layout"), path, QStringLiteral("-") }, &ok);
    if (!ok)
        return pdf;
    // pdftotext ends every page with a form feed.
    pdf.pageTexts = text.split(QLatin1Char('\f'));
    if (!pdf.pageTexts.isEmpty() && pdf.pageTexts.last().trimmed().isEmpty())
        pdf.pageTexts.removeLast();
    pdf.readable = true;
    return pdf;
}

// The pattern of a line that holds exactly these texts, in this order, apart from blanks.
inline QRegularExpression LineOf(const QStringList& texts)
{
    QStringList escaped;
    for (const QString& text : texts)
        escaped << QRegularExpression::escape(text);
    return QRegularExpression(QStringLiteral(R"(^\s*%1\s*$)").arg(escaped.join(QStringLiteral(R"(\s+)"))),
        QRegularExpression::MultilineOption);
}

inline bool HasLine(const QString& text, const QStringList& texts)
{
    return LineOf(texts).match(text).hasMatch();
}
