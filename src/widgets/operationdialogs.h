// The dialogs of the five whole-file operations. Each shows the settings it
// is given and, once the user presses OK, gives the ones chosen through
// settings(); Cancel, Escape and the close button leave them as given. A
// dialog writes nowhere else.
#pragma once

#include "engine/operationsettings.h"

#include <QDialog>
#include <QList>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QRadioButton;

// The format a conversion writes: a SubtitleFormat code.
class SubConvert : public QDialog
{
    Q_OBJECT

public:
    explicit SubConvert(const ConvertSettings &settings, QWidget *parent = nullptr);
    ~SubConvert() override;

    ConvertSettings settings() const { return m_settings; }

public slots:
    void accept() override;

private:
    ConvertSettings m_settings;
    QGroupBox *m_box;
    QButtonGroup *m_group;
    QRadioButton *m_formats[4];
};

// Seconds to move subtitles by, and whether show and hide times move.
class SubShift : public QDialog
{
    Q_OBJECT

public:
    explicit SubShift(const ShiftSettings &settings, QWidget *parent = nullptr);
    ~SubShift() override;

    ShiftSettings settings() const { return m_settings; }

public slots:
    void accept() override;

private:
    ShiftSettings m_settings;
    QGroupBox *m_box;
    QButtonGroup *m_group;
    QCheckBox *m_startBox;
    QCheckBox *m_endBox;
    QLineEdit *m_field;
};

// How long subtitles stay on screen.
class SubShowtime : public QDialog
{
    Q_OBJECT

public:
    explicit SubShowtime(const ShowTimeSettings &settings, QWidget *parent = nullptr);
    ~SubShowtime() override;

    ShowTimeSettings settings() const { return m_settings; }

public slots:
    // The other three options are disabled while hide times are emptied.
    void setEmpty();
    void accept() override;

private:
    ShowTimeSettings m_settings;
    QGroupBox *m_box;
    QButtonGroup *m_group;
    QCheckBox *m_options[4];
    QLineEdit *m_field;
};

// The frame rate frame numbers were made for, and the one to write them in.
class SubFpschange : public QDialog
{
    Q_OBJECT

public:
    explicit SubFpschange(const FpsChangeSettings &settings, QWidget *parent = nullptr);
    ~SubFpschange() override;

    FpsChangeSettings settings() const { return m_settings; }

public slots:
    // Takes the rates only when both lie within 0.1 to 200; otherwise the
    // first field that does not gets the focus and the dialog stays open.
    void accept() override;

private:
    FpsChangeSettings m_settings;
    QLineEdit *m_fromField;
    QLineEdit *m_toField;
};

// Which corrections of the text to make: the switches of the correction's
// table.
class SubCorrect : public QDialog
{
    Q_OBJECT

public:
    explicit SubCorrect(const CorrectionSettings &settings, QWidget *parent = nullptr);
    ~SubCorrect() override;

    CorrectionSettings settings() const { return m_settings; }

public slots:
    void accept() override;

private:
    CorrectionSettings m_settings;
    QGroupBox *m_box;
    QButtonGroup *m_group;
    QList<QCheckBox *> m_options; // in the table's order
};
