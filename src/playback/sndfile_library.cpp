#include "playback/sndfile_library.h"

#include <dlfcn.h>

#include <type_traits>

namespace melofon::playback {

const SndfileLibrary* sndfile() {
    static const SndfileLibrary* const library = []() -> const SndfileLibrary* {
        void* handle = dlopen("libsndfile.so.1", RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return nullptr;
        static SndfileLibrary l;
        const auto find = [&](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
            return function != nullptr;
        };
        if (find(l.open, "sf_open") && find(l.close, "sf_close") && find(l.readShort, "sf_readf_short") &&
            find(l.readInt, "sf_readf_int") && find(l.readFloat, "sf_readf_float") && find(l.error, "sf_error") &&
            find(l.strerror, "sf_strerror"))
            return &l;
        return nullptr;
    }();
    return library;
}

} // namespace melofon::playback
