#pragma once

// What the player tells the user when a file cannot be played, from what GStreamer said.

#include "playback/file_wording.h"

#include <gst/gst.h>

#include <QString>

namespace melofon::playback {

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

bool hasFactory(GstElement* element, const char* name);

} // namespace melofon::playback
