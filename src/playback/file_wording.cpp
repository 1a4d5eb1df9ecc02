#include "playback/file_wording.h"

#include <QDir>
#include <QFileInfo>

namespace melofon::playback {

QString quoted(const QString& path) { return QStringLiteral("«%1»").arg(QDir::toNativeSeparators(path)); }

QString fromUtf8(const char* text) { return QString::fromUtf8(text ? text : ""); }

QString refusalOf(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("el archivo no existe.");
    if (info.isDir())
        return QStringLiteral("es una carpeta, no un archivo.");
    if (!info.isFile())
        return QStringLiteral("no es un archivo normal (es una tubería, un dispositivo o un socket).");
    if (info.size() == 0)
        return QStringLiteral("el archivo está vacío.");
    return {};
}

QString noAnswer(const QString& file) {
    return QStringLiteral("No se puede abrir %1: el archivo no responde (puede estar en una carpeta "
                          "de red que no contesta).")
        .arg(quoted(file));
}

} // namespace melofon::playback
