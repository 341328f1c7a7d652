// File names as the system has them: bytes, not always valid UTF-8.
//
// A name travels through the programs as a QString. Bytes that are not part
// of valid UTF-8 are carried as the lone surrogates U+DC80..U+DCFF (one per
// byte), so that every name goes back to the system byte for byte and two
// different names never become one.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

QString nameFromNative(QByteArrayView bytes);
QByteArray nameToNative(const QString &name);

// The name for a message or a caption: carried bytes shown as \xNN.
QString shownName(const QString &name);
