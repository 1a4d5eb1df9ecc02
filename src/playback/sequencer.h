#pragma once

#include "store/list_views.h"

#include <functional>
#include <vector>

namespace melofon::playback {

// 1 to `maximo` (1 when `maximo` is below 1), uniformly; the generator is seeded once.
int NumeroAlAzar(int maximo);
// Makes the draws repeatable, for tests.
void seedNumeroAlAzar(unsigned seed);

// What a playlist walk works on. The walk keeps no cursor of its own: its position is the
// current row of the file box and, walking all playlists, of the playlist box.
struct WalkControls {
    store::ListBox& lstContenido;
    store::ListBox& lstListas;
    std::function<bool()> todas;      // read once, when the walk starts
    std::function<bool()> aleatorio;  // read at each use
    std::function<bool()> continuado; // read at each use
    bool& detenido;                   // set by Stop; the walk ends at its next pass
    std::function<int()> playState;   // the player's state: 0 or 6 idle, else busy
    // Starts the file box's current entry; false when nothing could be played.
    std::function<bool()> startCurrentEntry;
    // Lets pending window events run; with `wait`, blocks until the next one arrives.
    std::function<void(bool wait)> yield;
};

// The play command's walk: hands the checked entries to the player one after the other,
// each when the previous has ended, and returns when the walk ends (the file last started
// plays on). Every failure inside is ignored.
void runPlaylistWalk(WalkControls& controls);

} // namespace melofon::playback
