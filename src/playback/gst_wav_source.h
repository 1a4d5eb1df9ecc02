#pragma once

// Private to the player: WAV files are decoded by libsndfile and reach playbin as raw
// samples through an appsrc. GStreamer's own parser stops at the pad byte of an odd-sized
// chunk (8-bit mono with an odd count of samples: silence) and stamps MS ADPCM with the
// wrong times (the output then drops half of it as late).

#include <gst/gst.h>

#include <QString>

namespace melofon::playback {

// The URI playbin is given for a WAV file: appsrc's scheme, the file's path.
QString sndfileUri(const QString& path);

// playbin made `source` for a URI: when it is one of sndfileUri's, it is fed from the file
// named there. The file is opened on the source's own streaming thread, when it first
// asks for samples; a file that cannot be read is the source's error.
void feedFromSndfile(GstElement* source);

} // namespace melofon::playback
