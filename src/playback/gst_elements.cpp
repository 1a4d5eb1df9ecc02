// How the kinds Melofon plays are recognised, the output, and the elements playbin makes,
// as it makes them: which decoders, the synthesizer's soundfont, what the sound server is
// told of the stream.

#include "playback/gst_session.h"
#include "playback/mp3_duration.h"

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

// Layer III frames from the first byte on, each header where the frame before ends, all of
// one stream: what an MP3 (after its ID3v2 tag) is. Three frames, or as many as there are.
bool mp3Frames(GstTypeFind* find) {
    guint64 at = 0;
    int first = 0;
    for (int frames = 0; frames < 3; ++frames) {
        const guint8* header = gst_type_find_peek(find, gint64(at), 4);
        if (!header)
            return frames > 0 && at == gst_type_find_get_length(find);
        int stream = 0;
        const int bytes = mp3FrameBytes(header, &stream);
        if (bytes <= 4 || (frames > 0 && stream != first))
            return false;
        first = stream;
        at += guint64(bytes);
    }
    return true;
}

// The three kinds, told before GStreamer's own typefinders are asked: those live in a plugin
// that brings GIO and its libraries with it. The caps are theirs, tags first as with them
// (an ID3v2 tag, then an ID3v1 or APE tag at the end, each taken off by its demuxer before
// what it holds is told), so that what follows is chosen as before. Whatever is not told
// here is left to them.
void recognise(GstTypeFind* find, gpointer) {
    const guint8* d = gst_type_find_peek(find, 0, 12);
    if (!d)
        return;
    const auto at = [&](gint64 offset, const char* text) {
        const guint8* bytes = gst_type_find_peek(find, offset, guint(std::strlen(text)));
        return bytes && std::memcmp(bytes, text, std::strlen(text)) == 0;
    };
    const bool lengthKnown = gst_type_find_get_length(find) > 128;
    const char* kind = nullptr;
    if (std::memcmp(d, "ID3", 3) == 0 && d[3] != 0xFF && d[4] != 0xFF &&
        ((d[6] | d[7] | d[8] | d[9]) & 0x80) == 0) // a tag size in 7-bit bytes
        kind = "application/x-id3";
    else if (lengthKnown && at(-128, "TAG"))
        kind = "application/x-id3";
    else if (at(0, "APETAGEX") || (lengthKnown && at(-32, "APETAGEX")))
        kind = "application/x-apetag";
    else if (std::memcmp(d, "MThd", 4) == 0)
        kind = "audio/midi";
    else if (std::memcmp(d, "RIFF", 4) == 0 && std::memcmp(d + 8, "RMID", 4) == 0)
        kind = "audio/riff-midi";
    else if (std::memcmp(d, "RIFF", 4) == 0 && std::memcmp(d + 8, "WAVE", 4) == 0)
        kind = "audio/x-wav";
    else if (mp3Frames(find))
        kind = "audio/mpeg, mpegversion=(int)1, layer=(int)3, parsed=(boolean)false";
    if (!kind)
        return;
    GstCaps* caps = gst_caps_from_string(kind);
    gst_type_find_suggest(find, GST_TYPE_FIND_MAXIMUM, caps);
    gst_caps_unref(caps);
}

} // namespace

void recogniseOwnKindsFirst() {
    // Above every rank GStreamer's own use (its tag finders' are a little above primary),
    // and first for these extensions too.
    gst_type_find_register(nullptr, "melofon-sound", GST_RANK_PRIMARY + 1000, recognise, "mp3,mid,midi,kar,rmi,wav",
                           nullptr, nullptr, nullptr);
}

// The output from its description, with what is wrong with it; or the test's own.
GstElement* GstPlayer::Session::makeOutput(QString& why) {
    if (makeSink)
        return makeSink();
    GError* error = nullptr;
    GstElement* output = gst_parse_bin_from_description(sinkDescription.constData(), TRUE, &error);
    if (!output)
        why = QStringLiteral("No se puede preparar la salida de sonido «%1»: %2")
                  .arg(QString::fromUtf8(sinkDescription), error ? fromUtf8(error->message) : QString());
    g_clear_error(&error);
    return output;
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
