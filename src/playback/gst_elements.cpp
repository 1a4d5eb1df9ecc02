// The plugins GStreamer may load, and the elements playbin makes, as it makes them: which
// decoders, the synthesizer's soundfont, what the sound server is told of the stream.

#include "playback/gst_session.h"

#include <cstring>

namespace melofon::playback {

namespace {

// decodebin's question before it makes an element; GstAutoplugSelectResult is in no header.
enum { kAutoplugTry = 0, kAutoplugSkip = 2 };

// For the kinds Melofon plays, the elements it chose, whatever else the machine has: another
// set's decoder (libav's, which decodebin tries first for MP3) would be loaded, with its
// libraries, to do the same work. Other kinds are left to decodebin's own choice.
int chooseElement(GstElement*, GstPad*, GstCaps* caps, GstElementFactory* factory, gpointer) {
    if (!caps || gst_caps_get_size(caps) == 0)
        return kAutoplugTry;
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    const char* chosen = nullptr;
    gint version = 0;
    gboolean parsed = FALSE;
    if (gst_structure_has_name(s, "audio/mpeg") && gst_structure_get_int(s, "mpegversion", &version) && version == 1)
        chosen = gst_structure_get_boolean(s, "parsed", &parsed) && parsed ? "mpg123audiodec" : "mpegaudioparse";
    else if (gst_structure_has_name(s, "audio/midi") || gst_structure_has_name(s, "audio/riff-midi"))
        chosen = "midiparse";
    else if (gst_structure_has_name(s, "audio/x-midi-event"))
        chosen = "fluiddec";
    if (!chosen)
        return kAutoplugTry;
    return std::strcmp(GST_OBJECT_NAME(factory), chosen) == 0 ? kAutoplugTry : kAutoplugSkip;
}

} // namespace

QByteArray ownPluginList() {
    return QByteArrayLiteral(
        // The pipeline, and how it finds what a file holds.
        "coreelements,playback,typefindfunctions,app,"
        // MP3, with its tags; MIDI; WAV, where libsndfile is missing.
        "id3demux,apetag,audioparsers,mpg123,midi,fluidsynthmidi,wavparse,alaw,mulaw,"
        // The way to the output, and every output autoaudiosink may choose.
        "audioconvert,audioresample,volume,autodetect,pulseaudio,pipewire,alsa,jack,oss4,ossaudio,openal");
}

// Each element playbin makes, the output's own included, as it is made.
void GstPlayer::Session::setUp(GstElement* element) {
    if (hasFactory(element, "decodebin"))
        g_signal_connect(element, "autoplug-select", G_CALLBACK(chooseElement), nullptr);
    if (!soundfont.isEmpty() && hasFactory(element, "fluiddec"))
        g_object_set(element, "soundfont", soundfont.constData(), nullptr);
    // The sound server is told the stream is music, and whose: a call then pauses it, and
    // the desktop's volume for music applies.
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(element), "stream-properties")) {
        GstStructure* properties = gst_structure_new("props", "media.role", G_TYPE_STRING, "music", "application.name",
                                                     G_TYPE_STRING, "Melofon", "application.icon_name", G_TYPE_STRING,
                                                     "melofon", nullptr);
        g_object_set(element, "stream-properties", properties, nullptr);
        gst_structure_free(properties);
    }
}

} // namespace melofon::playback
