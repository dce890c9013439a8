#include "setup/Option.h"

#include "core/DecimoraError.h"
#include "core/MeterProtocol.h"
#include "core/SystemTexts.h"
#include "core/systemvar.h"
#include "widgets/NamedLabel.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// The range list: the meter's five ranges by their code, then an entry of its own for a range code
// this program does not know.
const char* const RangeEntries[] = { "30-130", "30-80", "50-100", "60-110", "80-130", "" };
constexpr int KnownRangeCount = 5;
constexpr int UnknownRangeEntry = 5;

constexpr int AlarmPage = 1;

// Designed sizes, in pixels.
constexpr int RangeListWidth = 110;
constexpr int ChoiceGroupWidth = 190;
constexpr int AlarmBoxWidth = 90;
constexpr int CompanyNameBoxWidth = 360;
constexpr int ButtonWidth = 88;

constexpr char ErrorCaption[] = "Error Information";
constexpr char RangeNoticeCaption[] = "System Setup";
constexpr char RangeNotice[] = "No measurement range is chosen, so the meter's range, speed, weighting and MAX mode "
                               "were left as they were.";

// A decimal number as the user's system writes it (the alarm boxes show them so), blanks around it
// allowed, group separators not: "1,005" is no alarm level in a locale whose decimal point is ".".
std::optional<double> DecimalFromText(const QString& text)
{
    QLocale locale = QLocale::system();
    locale.setNumberOptions(locale.numberOptions() | QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = locale.toDouble(text, &ok);
    // "inf" and "nan" are no levels: an alarm compared with them would never, or always, sound.
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

double AlarmLevelFromText(const QString& text)
{
    const std::optional<double> value = DecimalFromText(text);
    if (!value)
        throw DecimoraError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
    return *value;
}

QLabel* makeLabel(QWidget* parent, const char* name, const char* text)
{
    QLabel* label = MakeNamedLabel(parent, name, QString::fromLatin1(text));
    // Plain text keeps the captions' double blanks.
    label->setTextFormat(Qt::PlainText);
    return label;
}

QRadioButton* makeChoice(QWidget* parent, const char* name, const char* text)
{
    auto* choice = new QRadioButton(QString::fromLatin1(text), parent);
    choice->setObjectName(QLatin1String(name));
    return choice;
}

// A titled box holding two exclusive choices side by side.
QGroupBox* makeChoiceGroup(
    QWidget* parent, const char* name, const char* title, QRadioButton* first, QRadioButton* second)
{
    auto* group = new QGroupBox(QString::fromLatin1(title), parent);
    group->setObjectName(QLatin1String(name));
    first->setParent(group);
    second->setParent(group);
    auto* row = new QHBoxLayout(group);
    row->addWidget(first);
    row->addWidget(second);
    row->addStretch(1);
    return group;
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// Alarm level box

AlarmLevelBox::AlarmLevelBox(QWidget* parent)
    : QAbstractSpinBox(parent)
{
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    // The arrows' enabled state follows the text.
    connect(lineEdit(), &QLineEdit::textChanged, this, [this] { update(); });
}

void AlarmLevelBox::setText(const QString& text)
{
    lineEdit()->setText(text);
}

QValidator::State AlarmLevelBox::validate(QString& /*input*/, int& /*pos*/) const
{
    // Typed text is checked only when the window applies, where a text that is no number is reported.
    return QValidator::Acceptable;
}

void AlarmLevelBox::stepBy(int steps)
{
    const double from = DecimalFromText(text()).value_or(ArrowMinimum);
    setText(SystemShortestDecimalText(std::clamp(from + steps, ArrowMinimum, ArrowMaximum)));
}

QAbstractSpinBox::StepEnabled AlarmLevelBox::stepEnabled() const
{
    const std::optional<double> value = DecimalFromText(text());
    if (!value)
        return StepUpEnabled | StepDownEnabled;
    StepEnabled enabled = StepNone;
    if (*value < ArrowMaximum)
        enabled |= StepUpEnabled;
    if (*value > ArrowMinimum)
        enabled |= StepDownEnabled;
    return enabled;
}

// ---------------------------------------------------------------------------------------------------
// The window

TForm8::TForm8(TForm6& module, QWidget* parent)
    : QWidget(parent)
    , module_(module)
{
    setObjectName(QStringLiteral("Form8"));
    setWindowTitle(QStringLiteral("Software System Setup"));
    buildLayout();
    connect(okButton_, &QPushButton::clicked, this, &TForm8::OkButtonClick);
    connect(cancelButton_, &QPushButton::clicked, this, &TForm8::CancelButtonClick);
    connect(applyButton_, &QPushButton::clicked, this, &TForm8::ApplyButtonClick);
    connect(pages_, &QTabWidget::currentChanged, this, [this](int page) {
        if (page == AlarmPage)
            AlarmPageShow();
    });
    FormCreate();
}

TForm8::~TForm8() = default;

void TForm8::buildLayout()
{
    pages_ = new QTabWidget(this);
    pages_->setObjectName(QStringLiteral("PageControl"));
    pages_->addTab(buildSplUnitPage(), QStringLiteral("SPL Unit Setting"));
    pages_->addTab(buildPcSoftwarePage(), QStringLiteral("PC Software Setting"));
    pages_->addTab(buildMiscellaneousPage(), QStringLiteral("Miscellaneous Option"));

    const auto makeButton = [this](const char* name, const char* text) {
        auto* button = new QPushButton(QString::fromLatin1(text), this);
        button->setObjectName(QLatin1String(name));
        button->setFixedWidth(ButtonWidth);
        return button;
    };
    okButton_ = makeButton("OkButton", "Ok");
    cancelButton_ = makeButton("CancelButton", "Cancel");
    applyButton_ = makeButton("ApplyButton", "Apply");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(okButton_);
    buttons->addWidget(cancelButton_);
    buttons->addWidget(applyButton_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(pages_, 1);
    layout->addLayout(buttons);
}

QWidget* TForm8::buildSplUnitPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("SplUnitPage"));

    rangeList_ = new QComboBox(page);
    rangeList_->setObjectName(QStringLiteral("RangeList"));
    for (const char* entry : RangeEntries)
        rangeList_->addItem(QString::fromLatin1(entry));
    rangeList_->setFixedWidth(RangeListWidth);
    auto* rangeRow = new QHBoxLayout;
    rangeRow->addWidget(makeLabel(page, "RangeLabel", "Measurement Range"));
    rangeRow->addWidget(rangeList_);
    rangeRow->addWidget(makeLabel(page, "RangeUnitLabel", "dB"));
    rangeRow->addStretch(1);

    setClockBox_ = new QCheckBox(QStringLiteral("Setup System Time With PC Current Time"), page);
    setClockBox_->setObjectName(QStringLiteral("SetClockBox"));
    maxModeBox_ = new QCheckBox(QStringLiteral("MAX Work Mode"), page);
    maxModeBox_->setObjectName(QStringLiteral("MaxModeBox"));

    fastChoice_ = makeChoice(page, "FastChoice", "Fast");
    slowChoice_ = makeChoice(page, "SlowChoice", "Slow");
    aChoice_ = makeChoice(page, "AChoice", "A");
    cChoice_ = makeChoice(page, "CChoice", "C");
    QGroupBox* speed = makeChoiceGroup(page, "SpeedGroup", "Sample Speed", fastChoice_, slowChoice_);
    QGroupBox* weight = makeChoiceGroup(page, "WeightGroup", "  Weight  ", aChoice_, cChoice_);
    speed->setFixedWidth(ChoiceGroupWidth);
    weight->setFixedWidth(ChoiceGroupWidth);
    auto* choices = new QHBoxLayout;
    choices->addWidget(speed);
    choices->addSpacing(16);
    choices->addWidget(weight);
    choices->addStretch(1);

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(20, 20, 20, 12);
    layout->setSpacing(14);
    layout->addLayout(rangeRow);
    layout->addWidget(setClockBox_);
    layout->addWidget(maxModeBox_);
    layout->addLayout(choices);
    layout->addStretch(1);
    return page;
}

QWidget* TForm8::buildPcSoftwarePage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("PcSoftwarePage"));

    const auto makeAlarmBox = [page](const char* name) {
        auto* box = new AlarmLevelBox(page);
        box->setObjectName(QLatin1String(name));
        box->setFixedWidth(AlarmBoxWidth);
        box->setText(QStringLiteral("30"));
        return box;
    };
    lowAlarmBox_ = makeAlarmBox("LowAlarmBox");
    highAlarmBox_ = makeAlarmBox("HighAlarmBox");

    auto* levels = new QGridLayout;
    levels->setHorizontalSpacing(10);
    levels->setVerticalSpacing(12);
    levels->addWidget(makeLabel(page, "LowAlarmLabel", "Low db  Alarm"), 0, 0);
    levels->addWidget(lowAlarmBox_, 0, 1);
    levels->addWidget(makeLabel(page, "LowAlarmUnitLabel", "db"), 0, 2);
    levels->addWidget(makeLabel(page, "HighAlarmLabel", "High db Alarm"), 1, 0);
    levels->addWidget(highAlarmBox_, 1, 1);
    levels->addWidget(makeLabel(page, "HighAlarmUnitLabel", "db"), 1, 2);
    levels->setColumnStretch(3, 1);

    alarmOnChoice_ = makeChoice(page, "AlarmOnChoice", "On");
    alarmOffChoice_ = makeChoice(page, "AlarmOffChoice", "Off");
    QGroupBox* sound = makeChoiceGroup(page, "AlarmSoundGroup", "Alarm Sound", alarmOnChoice_, alarmOffChoice_);
    sound->setFixedWidth(ChoiceGroupWidth);

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(20, 20, 20, 12);
    layout->setSpacing(18);
    layout->addLayout(levels);
    layout->addWidget(sound);
    layout->addStretch(1);
    return page;
}

QWidget* TForm8::buildMiscellaneousPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("MiscellaneousPage"));

    companyNameBox_ = new QLineEdit(page);
    companyNameBox_->setObjectName(QStringLiteral("CompanyNameBox"));
    companyNameBox_->setFixedWidth(CompanyNameBoxWidth);

    auto* row = new QHBoxLayout;
    row->addWidget(makeLabel(page, "CompanyNameLabel", "Company's Name"));
    row->addWidget(companyNameBox_);
    row->addStretch(1);

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(20, 20, 20, 12);
    layout->addLayout(row);
    layout->addStretch(1);
    return page;
}

void TForm8::FormCreate()
{
    TForm6& m = module_;
    m.FormsReady = false;
    alarmPageShown_ = false;

    (m.AlarmSoundOn ? alarmOnChoice_ : alarmOffChoice_)->setChecked(true);
    companyNameBox_->setText(m.CompanyName);

    // Asks the meter when it is free (not in a measurement run or a download) and waits 260 ms for
    // the answer, the user interface alive meanwhile; without an answer the last status received.
    showMeterFlags(m.Link().readStatus().value_or(m.LiveFlags));

    m.FormsReady = true;
}

void TForm8::showMeterFlags(int flags)
{
    maxModeBox_->setChecked((flags & MeterStatus::MaxHold) != 0);
    ((flags & MeterStatus::CWeighting) ? cChoice_ : aChoice_)->setChecked(true);
    ((flags & MeterStatus::Fast) ? fastChoice_ : slowChoice_)->setChecked(true);
    // A range code this program does not know shows as the empty entry rather than as some range the
    // meter is not in.
    const int range = flags & MeterStatus::RangeMask;
    rangeList_->setCurrentIndex(range < KnownRangeCount ? range : UnknownRangeEntry);
}

void TForm8::AlarmPageShow()
{
    // Every showing fills the boxes from the levels in force, so that the page never shows a level
    // that is not the one the alarms use: typing that was not applied is dropped when the page is
    // left and shown again.
    alarmPageShown_ = true;
    lowAlarmBox_->setText(SystemShortestDecimalText(module_.SystemLowAlarm));
    highAlarmBox_->setText(SystemShortestDecimalText(module_.SystemHighAlarm));
}

std::optional<std::uint8_t> TForm8::chosenModeByte() const
{
    const int entry = rangeList_->currentIndex();
    if (entry < 0 || entry >= KnownRangeCount)
        return std::nullopt;
    return ModeByte(entry, fastChoice_->isChecked(), cChoice_->isChecked(), maxModeBox_->isChecked());
}

bool TForm8::Apply()
{
    TForm6& m = module_;
    applying_ = true;
    // Without a known range there is no mode byte the meter could take as meant: it keeps its mode.
    const std::optional<std::uint8_t> modeByte = chosenModeByte();
    const bool applied = m.RunOrReport(QString::fromLatin1(ErrorCaption), this, [&] {
        m.CompanyName = companyNameBox_->text();
        // A failed write is recorded in LastErrorText, not shown; the meter shows what it took when
        // the window is opened again.
        m.Link().applySettings(setClockBox_->isChecked(), m.SystemTime().now(), modeByte);
        m.AlarmSoundOn = alarmOnChoice_->isChecked();
        if (alarmPageShown_) {
            m.SystemLowAlarm = AlarmLevelFromText(lowAlarmBox_->text());
            m.SystemHighAlarm = AlarmLevelFromText(highAlarmBox_->text());
        }
    });
    if (applied && !modeByte) {
        m.ShowMessageBox(QString::fromLatin1(RangeNotice), QString::fromLatin1(RangeNoticeCaption), MessageButtons::Ok,
            MessageIcon::Information, this);
    }
    applying_ = false;
    if (closeAfterApply_) {
        // A close asked for while the apply waited goes ahead now that nothing runs inside the window.
        closeAfterApply_ = false;
        QWidget* window = qobject_cast<QMdiSubWindow*>(parentWidget());
        QTimer::singleShot(0, window ? window : this, &QWidget::close);
    }
    return applied;
}

void TForm8::OkButtonClick()
{
    // A second press while the first one's apply waits does nothing.
    if (applying_)
        return;
    // A bad alarm level keeps the window open, so that the user can put it right.
    if (Apply())
        closeWindow();
}

void TForm8::ApplyButtonClick()
{
    // The meter's hold (MeterBusy) is left alone: it belongs to a measurement run or a download,
    // which gives it back when it ends.
    if (applying_)
        return;
    Apply();
}

void TForm8::CancelButtonClick()
{
    closeWindow();
}

void TForm8::closeWindow()
{
    // The frame's subwindow when there is one: it asks this window (closeEvent) and then goes.
    QWidget* window = qobject_cast<QMdiSubWindow*>(parentWidget());
    (window ? window : this)->close();
}

void TForm8::closeEvent(QCloseEvent* event)
{
    if (applying_) {
        // The apply waits inside this window's handler; the window closes when it is done.
        closeAfterApply_ = true;
        event->ignore();
        return;
    }
    module_.SetupCommandEnabled = true;
    event->accept();
}
