#pragma once

// The system setup window: the meter's measurement settings (range, response speed, frequency
// weighting, MAX hold, clock) and the PC-side settings (alarm levels, alarm sound, company name).
// It reads the meter's settings when it opens and sends them back, changed, when the user applies.

#include <QAbstractSpinBox>
#include <QWidget>

#include <cstdint>
#include <optional>

class QCheckBox;
class QCloseEvent;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class TForm6;

// An alarm level: a text box with up and down arrows. The arrows step by 1 dB and keep to the range
// the alarms are meant for; what the user types is kept as typed, and read when the window applies.
class AlarmLevelBox final : public QAbstractSpinBox {
    Q_OBJECT

public:
    static constexpr double ArrowMinimum = 30.0;
    static constexpr double ArrowMaximum = 135.0;

    explicit AlarmLevelBox(QWidget* parent = nullptr);

    void setText(const QString& text);
    QValidator::State validate(QString& input, int& pos) const override;
    void stepBy(int steps) override;

protected:
    StepEnabled stepEnabled() const override;
};

// The setup window, component name "Form8". At most one exists; the frame has disabled Option >
// System Setup before creating it, and every way of closing sets SetupCommandEnabled again.
class TForm8 : public QWidget {
    Q_OBJECT

public:
    // The size the frame opens the window with (its title bar and borders included).
    static constexpr int OpenedWidth = 638;
    static constexpr int OpenedHeight = 428;

    // The opening steps (FormCreate) run here, the status read of the meter with them.
    explicit TForm8(TForm6& module, QWidget* parent = nullptr);
    ~TForm8() override;

    TForm8(const TForm8&) = delete;
    TForm8& operator=(const TForm8&) = delete;

    // The three buttons.
    void OkButtonClick();
    void CancelButtonClick();
    void ApplyButtonClick();
    // The settings of all three pages into the meter and the module. False when a typed alarm level
    // was not a number: the user has been told, and the apply stopped there.
    bool Apply();

    bool AlarmPageShown() const { return alarmPageShown_; }

protected:
    // FormClose.
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void buildLayout();
    QWidget* buildSplUnitPage();
    QWidget* buildPcSoftwarePage();
    QWidget* buildMiscellaneousPage();
    // The "PC Software Setting" page has been shown.
    void AlarmPageShow();
    // The controls of the first page from the meter's status byte.
    void showMeterFlags(int flags);
    // The set-mode byte of the first page's controls; none while no range entry is chosen.
    std::optional<std::uint8_t> chosenModeByte() const;
    void closeWindow();

    TForm6& module_;
    bool alarmPageShown_ = false;
    bool applying_ = false;
    bool closeAfterApply_ = false;

    QTabWidget* pages_ = nullptr;
    QComboBox* rangeList_ = nullptr;
    QCheckBox* setClockBox_ = nullptr;
    QCheckBox* maxModeBox_ = nullptr;
    QRadioButton* fastChoice_ = nullptr;
    QRadioButton* slowChoice_ = nullptr;
    QRadioButton* aChoice_ = nullptr;
    QRadioButton* cChoice_ = nullptr;
    AlarmLevelBox* lowAlarmBox_ = nullptr;
    AlarmLevelBox* highAlarmBox_ = nullptr;
    QRadioButton* alarmOnChoice_ = nullptr;
    QRadioButton* alarmOffChoice_ = nullptr;
    QLineEdit* companyNameBox_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QPushButton* applyButton_ = nullptr;
};
