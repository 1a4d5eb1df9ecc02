#include "playback/gst_wav_source.h"

#include "playback/sndfile_library.h"
#include "playback/sound_file.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>


#include <algorithm>

namespace melofon::playback {

namespace {

constexpr char kScheme[] = "appsrc";

// GStreamer's own order of the channels WAV files use, and its default layouts for 3 to 8.
guint64 channelMask(int channels) {
    static constexpr guint64 kMasks[9] = {0, 0, 0x3, 0xb, 0x33, 0x37, 0x3f, 0x13f, 0xc3f};
    return channels < 9 ? kMasks[channels] : 0;
}

struct Feed {
    QByteArray path;
    const SndfileLibrary* sf = sndfile(); // loaded: the file was found to be a WAV with it
    SNDFILE* file = nullptr;
    SF_INFO info{};
    enum Sample { S16, S32, F32 } sample = S16;
    sf_count_t done = 0;
    sf_count_t frames = 0; // those it truly holds
    bool ended = false;

    ~Feed() {
        if (file)
            sf->close(file);
    }

    int bytesPerFrame() const { return info.channels * (sample == S16 ? 2 : 4); }

    // As a decoder would say it: the pipeline ends with this file's error.
    static void fail(GstElement* source, GQuark domain, int code, const QString& detail) {
        GError* error = g_error_new_literal(domain, code, detail.toUtf8().constData());
        gst_element_post_message(source, gst_message_new_error(GST_OBJECT(source), error, nullptr));
        g_error_free(error);
    }

    bool open(GstElement* source) {
        file = sf ? sf->open(path.constData(), SFM_READ, &info) : nullptr;
        if (!file || info.channels <= 0 || info.samplerate <= 0) {
            fail(source, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_OPEN_READ,
                 sf ? QString::fromUtf8(sf->strerror(file)) : QStringLiteral("libsndfile"));
            return false;
        }
        // The samples in their own width: 8 and 16 bits and the codecs as 16, 24 and 32 as
        // 32, float and double as float.
        const int coding = info.format & SF_FORMAT_SUBMASK;
        sample = coding == SF_FORMAT_PCM_24 || coding == SF_FORMAT_PCM_32 ? S32
                 : coding == SF_FORMAT_FLOAT || coding == SF_FORMAT_DOUBLE ? F32
                                                                           : S16;
        static constexpr const char* kFormats[] = {"S16LE", "S32LE", "F32LE"};
        GstCaps* caps = gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, kFormats[sample], "layout",
                                            G_TYPE_STRING, "interleaved", "rate", G_TYPE_INT, info.samplerate,
                                            "channels", G_TYPE_INT, info.channels, nullptr);
        if (info.channels > 1)
            gst_caps_set_simple(caps, "channel-mask", GST_TYPE_BITMASK, channelMask(info.channels), nullptr);
        frames = trueWavFrames(QFile::decodeName(path), info.frames, wavCompressed(info.format));
        g_object_set(source, "caps", caps, "duration", gst_util_uint64_scale(frames, GST_SECOND, info.samplerate),
                     nullptr);
        gst_caps_unref(caps);
        return true;
    }

    // A tenth of a second a buffer: few wake-ups, and little held ahead of the output.
    void push(GstElement* source) {
        if (ended)
            return;
        if (!file && !open(source)) {
            ended = true;
            return;
        }
        const sf_count_t want = std::min<sf_count_t>(std::max(1, info.samplerate / 10), frames - done);
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, gsize(want * bytesPerFrame()), nullptr);
        GstMapInfo map;
        gst_buffer_map(buffer, &map, GST_MAP_WRITE);
        const sf_count_t got = want <= 0       ? 0
                               : sample == S16 ? sf->readShort(file, reinterpret_cast<short*>(map.data), want)
                               : sample == S32 ? sf->readInt(file, reinterpret_cast<int*>(map.data), want)
                                               : sf->readFloat(file, reinterpret_cast<float*>(map.data), want);
        gst_buffer_unmap(buffer, &map);
        if (got <= 0) {
            gst_buffer_unref(buffer);
            ended = true;
            if (sf->error(file) != SF_ERR_NO_ERROR)
                return fail(source, GST_STREAM_ERROR, GST_STREAM_ERROR_DECODE, QString::fromUtf8(sf->strerror(file)));
            GstFlowReturn flow;
            g_signal_emit_by_name(source, "end-of-stream", &flow);
            return;
        }
        gst_buffer_set_size(buffer, gsize(got * bytesPerFrame()));
        const GstClockTime start = gst_util_uint64_scale(guint64(done), GST_SECOND, guint64(info.samplerate));
        done += got;
        GST_BUFFER_PTS(buffer) = start;
        GST_BUFFER_DURATION(buffer) =
            gst_util_uint64_scale(guint64(done), GST_SECOND, guint64(info.samplerate)) - start;
        GstFlowReturn flow;
        g_signal_emit_by_name(source, "push-buffer", buffer, &flow);
        gst_buffer_unref(buffer);
    }
};

} // namespace

QString sndfileUri(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    return QString::fromLatin1(kScheme) + QUrl::fromLocalFile(absolute).toString(QUrl::FullyEncoded).mid(4);
}

void feedFromSndfile(GstElement* source) {
    gchar* uri = GST_IS_URI_HANDLER(source) ? gst_uri_handler_get_uri(GST_URI_HANDLER(source)) : nullptr;
    const QString text = QString::fromUtf8(uri ? uri : "");
    g_free(uri);
    if (!text.startsWith(QLatin1String(kScheme) + QLatin1String("://")))
        return;
    auto* feed = new Feed;
    feed->path = QFile::encodeName(QUrl(QStringLiteral("file") + text.mid(int(sizeof kScheme) - 1)).toLocalFile());
    g_object_set(source, "format", GST_FORMAT_TIME, "stream-type", 0, nullptr);
    g_signal_connect_data(
        source, "need-data",
        G_CALLBACK(+[](GstElement* src, guint, gpointer data) { static_cast<Feed*>(data)->push(src); }), feed,
        [](gpointer data, GClosure*) { delete static_cast<Feed*>(data); }, GConnectFlags(0));
}

} // namespace melofon::playback
