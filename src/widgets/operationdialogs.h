// The dialogs of the five whole-file operations. Each opens with fixed
// settings, whatever was chosen the time before, and writes its settings
// through the pointers it was given when the user presses OK; Cancel,
// Escape and the close button write nothing.
#pragma once

#include <QDialog>
#include <QList>

struct CorrectionSettings;

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
    explicit SubConvert(int *convertFormat);
    ~SubConvert() override;

public slots:
    void accept() override;

private:
    int *m_convertFormat;
    QGroupBox *m_box;
    QButtonGroup *m_group;
    QRadioButton *m_formats[4];
};

// Seconds to move subtitles by, and whether show and hide times move.
class SubShift : public QDialog
{
    Q_OBJECT

public:
    SubShift(double *shiftSeconds, bool *shiftStart, bool *shiftEnd);
    ~SubShift() override;

public slots:
    void accept() override;

private:
    double *m_seconds;
    bool *m_start;
    bool *m_end;
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
    SubShowtime(double *showSeconds, bool *writeEmptyEnd, bool *onlyEmptyEnd,
                bool *lengthDependent, bool *blockTooLong);
    ~SubShowtime() override;

public slots:
    // The other three options are disabled while hide times are emptied.
    void setEmpty();
    void accept() override;

private:
    double *m_seconds;
    bool *m_fields[4];
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
    // Proposes `from` (the rate the window reads frame numbers at) and 29.
    SubFpschange(double *fpsFrom, double *fpsTo, double from = 25.0);
    ~SubFpschange() override;

public slots:
    // Takes the rates only when both lie within 0.1 to 200; otherwise the
    // first field that does not gets the focus and the dialog stays open.
    void accept() override;

private:
    double *m_from;
    double *m_to;
    QLineEdit *m_fromField;
    QLineEdit *m_toField;
};

// Which corrections of the text to make.
class SubCorrect : public QDialog
{
    Q_OBJECT

public:
    // The switches of the correction's table, written into `settings`.
    explicit SubCorrect(CorrectionSettings *settings);
    ~SubCorrect() override;

public slots:
    void accept() override;

private:
    CorrectionSettings *m_settings;
    QGroupBox *m_box;
    QButtonGroup *m_group;
    QList<QCheckBox *> m_options; // in the table's order
};
