#pragma once

// The core's UTF-16 text and Qt's, for the window's side only.
#include "import/Text.h"

#include <QString>
#include <QStringList>

inline QString ToQString(const Text& text) { return QString::fromStdU16String(text); }
inline Text ToText(const QString& text) { return text.toStdU16String(); }

inline QStringList ToQStringList(const TextList& list)
{
    QStringList out;
    out.reserve(static_cast<qsizetype>(list.size()));
    for (const Text& text : list)
        out << ToQString(text);
    return out;
}
