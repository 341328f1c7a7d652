// The rules of the checks: which kinds of problem are looked for, and at
// which limits; a rule set is saved to a small file and read back.
#pragma once

#include "engine/checkrules.h"

#include <QDialog>

class QCheckBox;
class QDoubleSpinBox;

class CheckRulesDialog : public QDialog
{
    Q_OBJECT

public:
    // Shows `*rules`; OK writes the rules shown back, Cancel leaves them.
    CheckRulesDialog(QWidget *parent, CheckRules *rules);

public slots:
    void accept() override;

private:
    CheckRules shown() const;
    void fill(const CheckRules &rules);
    // Reads a rule file into the fields; says why when it cannot.
    void load();
    // Writes the rules shown to a rule file; says why when it cannot.
    void save();

    CheckRules *m_rules;
    QCheckBox *m_on[checkKindCount] = {};
    QDoubleSpinBox *m_limit[checkKindCount] = {};
};
