#include "dialogs/dialogframe.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QDoubleValidator>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

DialogButtons addOkCancel(QDialog *dialog, int okX, int cancelX, int y)
{
    DialogButtons buttons;
    buttons.ok = new QPushButton(QStringLiteral("OK"), dialog);
    buttons.cancel = new QPushButton(QStringLiteral("Cancel"), dialog);
    buttons.ok->setObjectName(QStringLiteral("ok"));
    buttons.cancel->setObjectName(QStringLiteral("cancel"));
    buttons.ok->setGeometry(okX, y, 80, 20);
    buttons.cancel->setGeometry(cancelX, y, 80, 20);
    buttons.ok->setDefault(true);
    QObject::connect(buttons.ok, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(buttons.cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    return buttons;
}

QLabel *addLabel(QWidget *parent, const QString &text, const QRect &holder)
{
    auto *box = new QWidget(parent);
    auto *label = new QLabel(text, box);
    label->move(0, 0);
    label->adjustSize();
    // The holder's size was chosen for a smaller font than most desktops
    // use today: it grows to show the whole text rather than cut it off.
    box->setGeometry(QRect(holder.topLeft(), holder.size().expandedTo(label->size())));
    return label;
}

OptionBox addOptionBox(QDialog *dialog, const QRect &geometry, bool exclusive)
{
    OptionBox box;
    box.frame = new QGroupBox(dialog);
    box.frame->setGeometry(geometry);
    new QVBoxLayout(box.frame);
    box.group = new QButtonGroup(box.frame);
    box.group->setExclusive(exclusive);
    return box;
}

namespace {

template <typename Button>
Button *addOption(const OptionBox &box, const QString &text)
{
    auto *button = new Button(text, box.frame);
    box.frame->layout()->addWidget(button);
    box.group->addButton(button, int(box.group->buttons().size()));
    return button;
}

} // namespace

QCheckBox *addCheckBox(const OptionBox &box, const QString &text)
{
    return addOption<QCheckBox>(box, text);
}

QRadioButton *addRadioButton(const OptionBox &box, const QString &text)
{
    return addOption<QRadioButton>(box, text);
}

QLineEdit *addNumberField(QWidget *parent, const QString &text, const QRect &geometry,
                          double bottom, double top)
{
    auto *field = new QLineEdit(text, parent);
    field->setGeometry(geometry);
    auto *validator = new QDoubleValidator(bottom, top, 5, field);
    validator->setLocale(QLocale::c());
    validator->setNotation(QDoubleValidator::StandardNotation);
    field->setValidator(validator);
    return field;
}

double leadingNumber(const QString &text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto digitAt = [&](qsizetype k) { return k < n && text[k] >= u'0' && text[k] <= u'9'; };
    while (i < n && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r')))
        ++i;
    const qsizetype start = i;
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    qsizetype digits = 0;
    while (digitAt(i)) {
        ++i;
        ++digits;
    }
    if (i < n && text[i] == u'.') {
        ++i;
        while (digitAt(i)) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return 0.0;
    // An exponent counts only when digits follow it.
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        qsizetype e = i + 1;
        if (e < n && (text[e] == u'+' || text[e] == u'-'))
            ++e;
        if (digitAt(e)) {
            while (digitAt(e))
                ++e;
            i = e;
        }
    }
    QString number = text.mid(start, i - start);
    if (number.endsWith(u'.'))
        number.chop(1);
    return QLocale::c().toDouble(number);
}

bool holdsNumberInRange(const QLineEdit *field)
{
    const auto *validator = qobject_cast<const QDoubleValidator *>(field->validator());
    bool ok = false;
    const double value = QLocale::c().toDouble(field->text().trimmed(), &ok);
    return ok && validator && value >= validator->bottom() && value <= validator->top();
}

QString shortNumber(double value)
{
    return QString::asprintf("%.10g", value);
}
