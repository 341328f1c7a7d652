// The bytes of a text in a format the user chose to save it in.
#pragma once

#include "files/textcodec.h"

// encodeSubtitleText() with the line ends of `format` written out, CR LF
// included. False, naming the line, column and character, when the
// encoding cannot store the text; nothing is then made.
bool encodeInFormat(QStringView text, const FileFormat &format, QByteArray &bytes, QString *error);

// The encodings a save may choose, in the order they are offered.
QStringList savingEncodings();
