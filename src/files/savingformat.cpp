#include "files/savingformat.h"

QStringList savingEncodings()
{
    QStringList names;
    for (const EncodingGroup &group : commonEncodings()) {
        for (const QString &name : group.names) {
            if (name != u"bytes" && !names.contains(name))
                names << name;
        }
    }
    return names;
}
