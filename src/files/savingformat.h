// The formats a user may choose to save a text in.
#pragma once

#include "files/textcodec.h"

// The encodings a save may choose, in the order they are offered.
QStringList savingEncodings();
