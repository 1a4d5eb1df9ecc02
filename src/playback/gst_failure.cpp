#include "playback/gst_failure.h"

#include <cstring>

namespace melofon::playback {

bool hasFactory(GstElement* element, const char* name) {
    GstElementFactory* factory = gst_element_get_factory(element);
    return factory && std::strcmp(GST_OBJECT_NAME(factory), name) == 0;
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

} // namespace melofon::playback
