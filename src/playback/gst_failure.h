#pragma once

// What the player tells the user when a file cannot be opened or played. GStreamer's own
// messages are English and name elements; these are Spanish and name the file.

#include <gst/gst.h>

#include <QString>

namespace melofon::playback {

// «path», in the platform's separators.
QString quoted(const QString& path);
QString fromUtf8(const char* text);

// The reason a path is no file to play, or empty. Only regular files are opened: a FIFO or
// a device would block the reader until someone writes to it. It looks at the file system,
// so it is never called on the window's thread nor under a lock.
QString refusalOf(const QString& path);

// Why a pipeline stopped: what its error message said and where it came from.
struct Failure {
    GQuark domain = 0;
    int code = 0;
    QString detail;
    bool fromSink = false;
    bool fromSynthesizer = false;
};

// "<what> «file»: <why>", e.g. "No se puede abrir «/m/a.mp3»: el archivo no existe."
// `missingDecoder` names the stream no decoder took, when one was reported.
QString describe(const Failure& failure, const QString& what, const QString& file,
                 const QString& missingDecoder);

// The file took longer than a player waits for an answer.
QString noAnswer(const QString& file);

bool hasFactory(GstElement* element, const char* name);

} // namespace melofon::playback
