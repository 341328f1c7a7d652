#include "widgets/operationdialogs.h"

#include "widgets/dialogframe.h"

#include "engine/correctionswitches.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

namespace {

void setUpFrame(QDialog *dialog, const char *name)
{
    dialog->setObjectName(QString::fromLatin1(name));
    dialog->setModal(true);
}

} // namespace

SubConvert::SubConvert(const ConvertSettings &settings, QWidget *parent) : QDialog(parent), m_settings(settings)
{
    setUpFrame(this, "sub_convert");
    addOkCancel(this, 40, 130, 190);
    addLabel(this, QStringLiteral("Destination subtitles format:"), QRect(10, 20, 230, 15));
    const OptionBox box = addOptionBox(this, QRect(10, 50, 230, 120), true);
    m_box = box.frame;
    m_group = box.group;
    const char *const texts[4] = {"&Time based    00:00:00:", "T&ime based    0:00:00:",
                                  "&frame based   {000}{000}", "Ti&me based    [000][000]"};
    for (int i = 0; i < 4; ++i)
        m_formats[i] = addRadioButton(box, QString::fromLatin1(texts[i]));
    // Button i stands for format code i + 1.
    if (settings.format >= 1 && settings.format <= 4)
        m_formats[settings.format - 1]->setChecked(true);
    fitToFont(this);
}

SubConvert::~SubConvert() = default;

void SubConvert::accept()
{
    for (int i = 0; i < 4; ++i) {
        if (m_formats[i]->isChecked())
            m_settings.format = i + 1;
    }
    done(QDialog::Accepted);
}

SubShift::SubShift(const ShiftSettings &settings, QWidget *parent) : QDialog(parent), m_settings(settings)
{
    setUpFrame(this, "sub_shift");
    addOkCancel(this, 50, 140, 190);
    addLabel(this, QStringLiteral("Shift subtitles display time:"), QRect(10, 20, 230, 15));
    const OptionBox box = addOptionBox(this, QRect(10, 100, 250, 70), false);
    m_box = box.frame;
    m_group = box.group;
    m_startBox = addCheckBox(box, QStringLiteral("Change &show time/frames"));
    m_endBox = addCheckBox(box, QStringLiteral("Change &hide time/frames"));
    m_startBox->setChecked(settings.start);
    m_endBox->setChecked(settings.end);
    m_field = addNumberField(this, Fields::shiftSeconds, settings.seconds, QRect(20, 50, 160, 20));
    addLabel(this, QStringLiteral("seconds"), QRect(190, 52, 50, 15));
    m_field->setFocus();
    fitToFont(this);
}

SubShift::~SubShift() = default;

void SubShift::accept()
{
    if (!readNumberFields(this, {{m_field, &m_settings.seconds}}))
        return;
    m_settings.start = m_startBox->isChecked();
    m_settings.end = m_endBox->isChecked();
    done(QDialog::Accepted);
}

SubShowtime::SubShowtime(const ShowTimeSettings &settings, QWidget *parent) : QDialog(parent), m_settings(settings)
{
    setUpFrame(this, "sub_showtime");
    addOkCancel(this, 95, 185, 230);
    addLabel(this, QStringLiteral("Change subtitles display time:"), QRect(10, 20, 230, 15));
    const OptionBox box = addOptionBox(this, QRect(10, 90, 340, 120), false);
    m_box = box.frame;
    m_group = box.group;
    const char *const texts[4] = {"&Write down empty hide-time", "&Change only empty chide-time",
                                  "&Display time dependent on subtitles length",
                                  "&Block too long hide time"};
    const bool checked[4] = {settings.writeEmptyEnd, settings.onlyEmptyEnd, settings.lengthDependent,
                             settings.blockTooLong};
    for (int i = 0; i < 4; ++i)
        m_options[i] = addCheckBox(box, QString::fromLatin1(texts[i]));
    for (int i = 0; i < 4; ++i)
        m_options[i]->setChecked(checked[i]);
    connect(m_options[0], &QCheckBox::clicked, this, &SubShowtime::setEmpty);
    setEmpty();
    m_field = addNumberField(this, Fields::displaySeconds, settings.seconds, QRect(60, 50, 160, 20));
    addLabel(this, QStringLiteral("sekunds"), QRect(230, 52, 50, 15));
    m_field->setFocus();
    fitToFont(this);
}

SubShowtime::~SubShowtime() = default;

void SubShowtime::setEmpty()
{
    const bool enabled = !m_options[0]->isChecked();
    for (int i = 1; i < 4; ++i)
        m_options[i]->setEnabled(enabled);
}

void SubShowtime::accept()
{
    if (!readNumberFields(this, {{m_field, &m_settings.seconds}}))
        return;
    // A disabled box is taken with the state it shows.
    bool *const fields[4] = {&m_settings.writeEmptyEnd, &m_settings.onlyEmptyEnd, &m_settings.lengthDependent,
                             &m_settings.blockTooLong};
    for (int i = 0; i < 4; ++i)
        *fields[i] = m_options[i]->isChecked();
    done(QDialog::Accepted);
}

SubFpschange::SubFpschange(const FpsChangeSettings &settings, QWidget *parent) : QDialog(parent), m_settings(settings)
{
    // The same object name as the shift dialog's.
    setUpFrame(this, "sub_shift");
    addOkCancel(this, 50, 140, 140);
    addLabel(this, QStringLiteral("Subtitles FPS value change:"), QRect(10, 20, 250, 15));
    m_fromField = addNumberField(this, Fields::frameRate, settings.from, QRect(20, 50, 160, 20));
    addLabel(this, QStringLiteral("frames/s."), QRect(190, 52, 50, 15));
    m_toField = addNumberField(this, Fields::targetRate, settings.to, QRect(20, 90, 160, 20));
    addLabel(this, QStringLiteral("frames/s."), QRect(190, 92, 50, 15));
    m_fromField->setFocus();
    fitToFont(this);
}

SubFpschange::~SubFpschange() = default;

void SubFpschange::accept()
{
    // A target rate of 0 would turn every frame number into 0 and lose
    // every time in the file.
    if (readNumberFields(this, {{m_fromField, &m_settings.from}, {m_toField, &m_settings.to}}))
        done(QDialog::Accepted);
}

SubCorrect::SubCorrect(const CorrectionSettings &settings, QWidget *parent) : QDialog(parent), m_settings(settings)
{
    // The same object name as the display-time dialog's.
    setUpFrame(this, "sub_showtime");
    addOkCancel(this, 85, 175, 268);
    addLabel(this, QStringLiteral("Correct subtitles:"), QRect(10, 20, 230, 15));
    const OptionBox box = addOptionBox(this, QRect(10, 50, 320, 200), false);
    m_box = box.frame;
    m_group = box.group;
    for (const CorrectionSwitch &option : correctionSwitches)
        m_options.append(addCheckBox(box, QString::fromLatin1(option.label)));
    for (int i = 0; i < correctionSwitchCount; ++i)
        m_options[i]->setChecked(settings.*correctionSwitches[i].field);
    fitToFont(this);
}

SubCorrect::~SubCorrect() = default;

void SubCorrect::accept()
{
    for (int i = 0; i < correctionSwitchCount; ++i)
        m_settings.*correctionSwitches[i].field = m_options[i]->isChecked();
    done(QDialog::Accepted);
}
