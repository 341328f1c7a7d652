#include "widgets/myabout.h"

#include "widgets/dialogframe.h"
#include "images/tarnlyx.xpm"

#include <QPalette>
#include <QPixmap>
#include <QPushButton>

MyAbout::MyAbout(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("my_about"));
    setModal(true);

    const QPixmap logo(tarnlyx_xpm);
    const int w = logo.width();
    const int h = logo.height();
    auto *banner = new QWidget(this);
    banner->setObjectName(QStringLiteral("logo"));
    banner->setGeometry(5, 20, w, h);
    QPalette palette = banner->palette();
    palette.setBrush(QPalette::Window, logo);
    banner->setPalette(palette);
    banner->setAutoFillBackground(true);
    banner->setProperty("fixedSize", true);

    addLabel(this, QStringLiteral("Movie subtitles editor"), QRect(25, h + 30, w - 25, 20));
    addLabel(this, QStringLiteral("Written by the Tarnlyx developers"), QRect(25, h + 50, w - 25, 20));
    addLabel(this, QStringLiteral("https://tarnlyx.example.org/"), QRect(25, h + 70, w - 25, 20));

    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setGeometry((w + 10) / 2 - 40, h + 105, 80, 20);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    ok->setFocus();
    fitToFont(this);
}

MyAbout::~MyAbout() = default;
