#include "widgets/changedbar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

ChangedOnDiskBar::ChangedOnDiskBar(QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("changedOnDisk"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(0xff, 0xf4, 0xce));
    colours.setColor(QPalette::WindowText, Qt::black);
    setPalette(colours);
    m_text = new QLabel(this);
    m_text->setTextFormat(Qt::PlainText);
    m_text->setWordWrap(true);
    m_reload = new QPushButton(QStringLiteral("&Reload"), this);
    m_reload->setObjectName(QStringLiteral("reload"));
    auto *keepButton = new QPushButton(QStringLiteral("&Keep"), this);
    keepButton->setObjectName(QStringLiteral("keep"));
    keepButton->setToolTip(QStringLiteral("Keep the text shown here; saving asks before it replaces the file"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->addWidget(m_text, 1);
    layout->addWidget(m_reload);
    layout->addWidget(keepButton);
    connect(m_reload, &QPushButton::clicked, this, &ChangedOnDiskBar::reload);
    connect(keepButton, &QPushButton::clicked, this, [this] {
        hide();
        emit keep();
    });
    hide();
}

void ChangedOnDiskBar::showFor(const QString &name, bool deleted)
{
    m_text->setText(QStringLiteral("Another program has %1 \"%2\" since it was opened or saved here.")
                            .arg(deleted ? QStringLiteral("deleted") : QStringLiteral("changed"), name));
    m_reload->setVisible(!deleted);
    show();
}
