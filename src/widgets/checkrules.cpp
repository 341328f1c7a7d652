#include "widgets/checkrules.h"

#include "files/filereading.h"
#include "files/filenames.h"
#include "files/filesaving.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const char ruleFiles[] = "Check rules (*.rules);;All files (*)";

void tellFailure(QWidget *parent, const QString &text, const QString &detail)
{
    QMessageBox box(QMessageBox::Warning, parent->windowTitle(), text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("rules error"));
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(detail);
    for (QLabel *label : box.findChildren<QLabel *>())
        label->setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace

CheckRulesDialog::CheckRulesDialog(QWidget *parent, CheckRules *rules) : QDialog(parent), m_rules(rules)
{
    setObjectName(QStringLiteral("check_rules"));
    setWindowTitle(QStringLiteral("Check Rules"));
    setModal(true);

    // One row a kind: whether it is looked for, and its rule, with the
    // limit in a field where it has one.
    auto *grid = new QGridLayout;
    int row = 0;
    for (const CheckKindInfo &info : checkKinds()) {
        const int k = int(info.kind);
        m_on[k] = new QCheckBox(QString::fromLatin1(info.title), this);
        m_on[k]->setObjectName(QString::fromLatin1(info.word));
        grid->addWidget(m_on[k], row, 0);
        const QString rule = QString::fromLatin1(info.rule);
        if (!info.limitName) {
            grid->addWidget(new QLabel(rule, this), row, 1, 1, 3);
        } else {
            const qsizetype at = rule.indexOf(QLatin1String("%1"));
            m_limit[k] = new QDoubleSpinBox(this);
            m_limit[k]->setObjectName(QString::fromLatin1(info.limitName));
            m_limit[k]->setDecimals(info.decimals);
            m_limit[k]->setRange(info.lowest, info.highest);
            grid->addWidget(new QLabel(rule.first(at).trimmed(), this), row, 1);
            grid->addWidget(m_limit[k], row, 2);
            grid->addWidget(new QLabel(rule.sliced(at + 2).trimmed(), this), row, 3);
            connect(m_on[k], &QCheckBox::toggled, m_limit[k], &QWidget::setEnabled);
        }
        ++row;
    }
    grid->setColumnStretch(3, 1);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ok"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancel"));
    QPushButton *load = buttons->addButton(QStringLiteral("&Load..."), QDialogButtonBox::ActionRole);
    load->setObjectName(QStringLiteral("load"));
    QPushButton *save = buttons->addButton(QStringLiteral("&Save..."), QDialogButtonBox::ActionRole);
    save->setObjectName(QStringLiteral("save"));
    QPushButton *defaults = buttons->addButton(QStringLiteral("&Defaults"), QDialogButtonBox::ResetRole);
    defaults->setObjectName(QStringLiteral("defaults"));
    // Only OK takes Return.
    for (QPushButton *b : {load, save, defaults})
        b->setAutoDefault(false);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);

    auto *column = new QVBoxLayout(this);
    column->addLayout(grid);
    column->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &CheckRulesDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(load, &QPushButton::clicked, this, &CheckRulesDialog::load);
    connect(save, &QPushButton::clicked, this, &CheckRulesDialog::save);
    connect(defaults, &QPushButton::clicked, this, [this] { fill(CheckRules()); });
    fill(*rules);
}

CheckRules CheckRulesDialog::shown() const
{
    CheckRules rules;
    for (int k = 0; k < checkKindCount; ++k) {
        rules.on[size_t(k)] = m_on[k]->isChecked();
        if (m_limit[k])
            rules.limit[size_t(k)] = m_limit[k]->value();
    }
    return rules;
}

void CheckRulesDialog::fill(const CheckRules &rules)
{
    for (int k = 0; k < checkKindCount; ++k) {
        m_on[k]->setChecked(rules.on[size_t(k)]);
        if (m_limit[k]) {
            m_limit[k]->setValue(rules.limit[size_t(k)]);
            m_limit[k]->setEnabled(rules.on[size_t(k)]);
        }
    }
}

void CheckRulesDialog::load()
{
    const QString name = QFileDialog::getOpenFileName(this, QStringLiteral("Load Check Rules"), QString(),
                                                      QLatin1String(ruleFiles));
    if (name.isEmpty())
        return;
    SubtitleText file;
    FileError error;
    CheckRules rules = shown();
    QString why;
    RuleProblem badRule;
    if (!readSubtitleFile(name, file, &error))
        why = error.reason();
    else if (!rulesFromText(file.text, rules, &badRule))
        why = ruleError(name, badRule).words(FileError::Opening);
    if (!why.isEmpty()) {
        tellFailure(this, QStringLiteral("Cannot read rules from \"%1\".").arg(shownName(name)), why);
        return;
    }
    fill(rules);
}

void CheckRulesDialog::save()
{
    const QString name = QFileDialog::getSaveFileName(this, QStringLiteral("Save Check Rules"), QString(),
                                                      QLatin1String(ruleFiles));
    if (name.isEmpty())
        return;
    FileError error;
    if (!writeSubtitleFile(name, rulesToText(shown()).toUtf8(), &error))
        tellFailure(this, QStringLiteral("Cannot save rules to \"%1\".").arg(shownName(name)), error.reason());
}

void CheckRulesDialog::accept()
{
    *m_rules = shown();
    QDialog::accept();
}
