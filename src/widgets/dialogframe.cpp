#include "widgets/dialogframe.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QMessageBox>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <cmath>

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
    box->setObjectName(QStringLiteral("label holder"));
    auto *label = new QLabel(text, box);
    box->setGeometry(holder);
    label->setGeometry(QRect(QPoint(0, 0), holder.size()));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
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
    // Buttons in a group are one stop for Tab, as radio buttons should be;
    // check boxes that do not exclude each other stay out of it, so that
    // each of them can be reached.
    if (box.group->exclusive())
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
    field->setProperty("bottom", bottom);
    field->setProperty("top", top);
    // Keys that cannot be part of a number do nothing.
    field->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("\\s*[+-]?[0-9]*[.,]?[0-9]*\\s*")), field));
    return field;
}

QLineEdit *addNumberField(QWidget *parent, const NumberField &field, double value, const QRect &geometry)
{
    const QString text = value == field.byDefault ? QString::fromLatin1(field.initialText) : shortNumber(value);
    return addNumberField(parent, text, geometry, field.low, field.high);
}

bool readNumberFields(QDialog *dialog, const QList<QPair<QLineEdit *, double *>> &fields)
{
    static const QRegularExpression plain(QStringLiteral("\\A[+-]?([0-9]+([.][0-9]*)?|[.][0-9]+)\\z"));
    QList<double> values;
    for (const auto &[field, out] : fields) {
        const double bottom = field->property("bottom").toDouble();
        const double top = field->property("top").toDouble();
        const QString text = field->text().trimmed().replace(u',', u'.');
        bool ok = text.isEmpty() || plain.match(text).hasMatch();
        const double value = text.isEmpty() || !ok ? 0.0 : QLocale::c().toDouble(text, &ok);
        if (ok && value >= bottom && value <= top) {
            values << value;
            continue;
        }
        QMessageBox box(QMessageBox::Warning, dialog->windowTitle(),
                        QStringLiteral("\"%1\" is not a number from %2 to %3.")
                                .arg(field->text(), shortNumber(bottom), shortNumber(top)),
                        QMessageBox::Ok, dialog);
        box.setObjectName(QStringLiteral("bad number"));
        box.setTextFormat(Qt::PlainText);
        box.exec();
        dialog->activateWindow();
        field->setFocus();
        field->selectAll();
        return false;
    }
    for (qsizetype i = 0; i < fields.size(); ++i)
        *fields[i].second = values[i];
    return true;
}

namespace {

// The least size a child needs for its text at the font in use.
QSize neededSize(QWidget *child)
{
    if (child->objectName() == u"label holder")
        return child->findChild<QLabel *>()->sizeHint();
    return child->sizeHint();
}

class RefitOnFontChange : public QObject
{
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::FontChange || event->type() == QEvent::Polish)
            fitToFont(static_cast<QDialog *>(watched));
        return false;
    }
};

// Tab goes through the fields and buttons top to bottom, left to right,
// whatever the order they were made in.
void tabInReadingOrder(QDialog *dialog)
{
    QList<QWidget *> stops;
    for (QWidget *w : dialog->findChildren<QWidget *>()) {
        if (w->focusPolicy() & Qt::TabFocus)
            stops << w;
    }
    auto place = [dialog](QWidget *w) {
        const QPoint p = w->mapTo(dialog, QPoint());
        return std::make_pair(p.y(), p.x());
    };
    std::stable_sort(stops.begin(), stops.end(), [&](QWidget *a, QWidget *b) { return place(a) < place(b); });
    for (qsizetype i = 1; i < stops.size(); ++i)
        QWidget::setTabOrder(stops[i - 1], stops[i]);
}

} // namespace

void fitToFont(QDialog *dialog)
{
    if (!dialog->property("designSize").isValid()) {
        dialog->installEventFilter(new RefitOnFontChange(dialog));
        dialog->setProperty("designSize", dialog->childrenRect().bottomRight() + QPoint(10, 10));
        tabInReadingOrder(dialog);
    }
    const QList<QWidget *> children = dialog->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
    double sx = 1.0, sy = 1.0;
    for (QWidget *child : children) {
        if (!child->property("design").isValid())
            child->setProperty("design", child->geometry());
        const QRect design = child->property("design").toRect();
        const QSize need = neededSize(child);
        if (child->property("fixedSize").toBool() || design.isEmpty())
            continue;
        sx = std::max(sx, need.width() / double(design.width()));
        sy = std::max(sy, need.height() / double(design.height()));
    }
    auto scaled = [sx, sy](const QRect &r, bool keepSize) {
        return QRect(qRound(r.x() * sx), qRound(r.y() * sy), keepSize ? r.width() : int(std::ceil(r.width() * sx)),
                     keepSize ? r.height() : int(std::ceil(r.height() * sy)));
    };
    for (QWidget *child : children) {
        const QRect geometry = scaled(child->property("design").toRect(), child->property("fixedSize").toBool());
        child->setGeometry(geometry);
        if (child->objectName() == u"label holder")
            child->findChild<QLabel *>()->setGeometry(QRect(QPoint(0, 0), geometry.size()));
    }
    const QPoint corner = dialog->property("designSize").toPoint();
    dialog->setFixedSize(qRound(corner.x() * sx), qRound(corner.y() * sy));
}

QString shortNumber(double value)
{
    return QString::asprintf("%.10g", value);
}
