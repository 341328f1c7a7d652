// The bar above a window's text that says another program changed or
// removed its file, with Reload and Keep.
#pragma once

#include <QFrame>

class QLabel;
class QPushButton;

class ChangedOnDiskBar : public QFrame
{
    Q_OBJECT

public:
    explicit ChangedOnDiskBar(QWidget *parent);

    // `name` as the user knows it; a file that is gone cannot be reloaded.
    void showFor(const QString &name, bool deleted);

signals:
    void reload();
    void keep();

private:
    QLabel *m_text;
    QPushButton *m_reload;
};
