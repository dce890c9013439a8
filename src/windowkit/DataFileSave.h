#pragma once

// The steps a readings window's Save shares: the questions before a data file is written, and the
// write itself with what a failure leaves behind.

#include <QString>

#include <functional>

class QAbstractButton;
class QLineEdit;
class QWidget;
class ReadingTable;
class TForm6;

struct DataFileChoice {
    enum class Outcome {
        Chosen, // path names the file to write
        Cancelled, // the user closed the save dialog
        Declined, // the file exists and the user would not replace it
    };
    Outcome outcome = Outcome::Cancelled;
    QString path;
};

// The save dialog with the window's filter, the ".dmr" rule for a name without any ".", and, when
// that file exists, the window's replace question (given the path) answered Yes or No.
DataFileChoice AskDataFileName(TForm6& module, QWidget* owner, const QString& filter,
    const std::function<QString(const QString& path)>& replaceQuestion);

// Writes the table to path and marks the readings saved (MeasureSaved). A failure is shown in an
// error box with the caption; the readings then stay unsaved, Save stays at hand and the name box
// is emptied, so that the next Save asks where to put them rather than failing the same way again.
bool WriteReadingsFile(TForm6& module, QWidget* owner, const QString& errorCaption, const ReadingTable* table,
    const QString& path, QAbstractButton* saveButton, QLineEdit* nameBox);
