#include "playback/gst_failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>

namespace melofon::playback {

QString quoted(const QString& path) { return QStringLiteral("«%1»").arg(QDir::toNativeSeparators(path)); }

QString fromUtf8(const char* text) { return QString::fromUtf8(text ? text : ""); }

bool hasFactory(GstElement* element, const char* name) {
    GstElementFactory* factory = gst_element_get_factory(element);
    return factory && std::strcmp(GST_OBJECT_NAME(factory), name) == 0;
}

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

QString describe(const Failure& failure, const QString& what, const QString& file,
                 const QString& missingDecoder) {
    const QString head = QStringLiteral("%1 %2: ").arg(what, quoted(file));
    if (failure.fromSynthesizer || missingDecoder.startsWith(QStringLiteral("audio/x-midi")) ||
        missingDecoder.startsWith(QStringLiteral("audio/midi")))
        return head + QStringLiteral(
                          "para los archivos MIDI hace falta una fuente de sonidos General MIDI "
                          "(soundfont), como la del paquete timgm6mb-soundfont.");
    if (!missingDecoder.isEmpty())
        return head + QStringLiteral("falta el complemento de GStreamer que descodifica «%1».")
                          .arg(missingDecoder);
    if (failure.fromSink)
        return head + QStringLiteral("no hay salida de sonido disponible (%1).").arg(failure.detail);
    if (failure.domain == GST_RESOURCE_ERROR) {
        if (failure.code == GST_RESOURCE_ERROR_NOT_FOUND)
            return head + QStringLiteral("el archivo no existe.");
        if (failure.code == GST_RESOURCE_ERROR_OPEN_READ || failure.code == GST_RESOURCE_ERROR_READ ||
            failure.code == GST_RESOURCE_ERROR_NOT_AUTHORIZED)
            return head + QStringLiteral("no se puede leer el archivo.");
    }
    if (failure.domain == GST_STREAM_ERROR)
        return head + QStringLiteral("no es un archivo de sonido que se pueda reproducir.");
    if (failure.domain == GST_CORE_ERROR && failure.code == GST_CORE_ERROR_MISSING_PLUGIN)
        return head + QStringLiteral("falta un complemento de GStreamer para este tipo de archivo.");
    return head + (failure.detail.isEmpty() ? QStringLiteral("error desconocido.") : failure.detail);
}

QString noAnswer(const QString& file) {
    return QStringLiteral("No se puede abrir %1: el archivo no responde (puede estar en una carpeta "
                          "de red que no contesta).")
        .arg(quoted(file));
}

} // namespace melofon::playback
