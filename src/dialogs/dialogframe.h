// What the small modal dialogs share: fixed geometries, OK and Cancel, labels
// in holders, number fields read the way C's atof reads them.
#pragma once

#include <QRect>
#include <QString>

class QButtonGroup;
class QCheckBox;
class QDialog;
class QGroupBox;
class QRadioButton;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

struct DialogButtons
{
    QPushButton *ok = nullptr;
    QPushButton *cancel = nullptr;
};

// OK and Cancel, 80 x 20 each, at the given top-left corners. OK is the
// default button and accepts the dialog; Cancel rejects it.
DialogButtons addOkCancel(QDialog *dialog, int okX, int cancelX, int y);

// A label at the top-left corner of a holder at the given place and of at
// least the given size.
QLabel *addLabel(QWidget *parent, const QString &text, const QRect &holder);

// An untitled frame at a fixed place whose buttons stand in one column,
// and the group that numbers them in order (exclusive: one checked at most).
struct OptionBox
{
    QGroupBox *frame = nullptr;
    QButtonGroup *group = nullptr;
};
OptionBox addOptionBox(QDialog *dialog, const QRect &geometry, bool exclusive);
QCheckBox *addCheckBox(const OptionBox &box, const QString &text);
QRadioButton *addRadioButton(const OptionBox &box, const QString &text);

// A line edit with a validator for numbers from `bottom` to `top` with up to
// five decimals, written with a decimal point whatever the user's locale.
QLineEdit *addNumberField(QWidget *parent, const QString &text, const QRect &geometry,
                          double bottom, double top);

// The number at the start of the text, as C's atof reads it: blanks first
// are skipped, the longest decimal number is taken, and a text that does not
// begin with one gives 0.
double leadingNumber(const QString &text);

// Whether a number field holds a number within its validator's range.
bool holdsNumberInRange(const QLineEdit *field);

// `value` as printf's %.10g writes it: 25.0 as "25", 23.976 as "23.976".
QString shortNumber(double value);
