// What the small modal dialogs share: fixed geometries, OK and Cancel, labels
// in holders, number fields read the way C's atof reads them.
#pragma once

#include "engine/fieldranges.h"

#include <QList>
#include <QPair>
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

// A line edit for a plain decimal number from `bottom` to `top`; a comma
// serves as the decimal point as well as a point does.
QLineEdit *addNumberField(QWidget *parent, const QString &text, const QRect &geometry,
                          double bottom, double top);
// One for `field`: its range, and its initial text.
inline QLineEdit *addNumberField(QWidget *parent, const NumberField &field, const QRect &geometry)
{
    return addNumberField(parent, QString::fromLatin1(field.initialText), geometry, field.low, field.high);
}
// One for `field` showing `value`: its default as the field's initial text.
QLineEdit *addNumberField(QWidget *parent, const NumberField &field, double value, const QRect &geometry);

// Reads every number field into its place, or refuses: on the first field
// whose whole text is not one plain decimal number within its range, a
// message box (the dialog its parent) says why, the field takes the focus,
// and nothing is written. An empty field reads as 0, as it always has.
bool readNumberFields(QDialog *dialog, const QList<QPair<QLineEdit *, double *>> &fields);

// Makes the dialog's design geometry the least it has: every child, and
// the dialog, grow in proportion until each text fits whole at the font in
// use, keeping their order and alignment. Done again when the font changes.
void fitToFont(QDialog *dialog);

// `value` as printf's %.10g writes it: 25.0 as "25", 23.976 as "23.976".
QString shortNumber(double value);
