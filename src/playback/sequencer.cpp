#include "playback/sequencer.h"

#include <random>

namespace melofon::playback {

namespace {

std::mt19937& generator() {
    static std::mt19937 g{std::random_device{}()};
    return g;
}

template <class F, class T>
auto safely(const F& f, T fallback) {
    try {
        return f();
    } catch (...) {
        return fallback;
    }
}

int find(const store::ListBox& box, const QString& text) {
    for (int i = 0; i < box.ListCount(); ++i)
        if (box.List(i) == text)
            return i;
    return -1;
}

} // namespace

int NumeroAlAzar(int maximo) {
    if (maximo < 1)
        return 1;
    return std::uniform_int_distribution<int>(1, maximo)(generator());
}

void seedNumeroAlAzar(unsigned seed) { generator().seed(seed); }

PlaylistWalk::PlaylistWalk(WalkControls controls) : w_(std::move(controls)) {}

void PlaylistWalk::play() {
    end();
    w_.detenido = false;
    all_ = safely(w_.todas, false);
    random_ = false;
    round_.clear();
    ++pass_;
    startedThisCycle_ = false;
    // The box tells of the change, and its listeners pump the walk: not running yet, it
    // starts nothing until its state is set.
    w_.lstContenido.setListIndex(0);
    list_ = listText();
    boxGeneration_ = w_.lstContenido.Generation();
    running_ = true;
    pump();
}

void PlaylistWalk::stop() {
    w_.detenido = true;
    end();
}

bool PlaylistWalk::previous() {
    if (pending_ || (!running_ && w_.detenido))
        return false;
    store::ListBox& box = w_.lstContenido;
    const int p = find(box, playing_.text);
    if (p < 0)
        return false;
    if (random_) {
        if (roundGeneration_ != box.Generation())
            return false;
        std::size_t k = std::min(nextInRound_, round_.size());
        while (k > 0 && round_[k - 1] != p)
            --k;
        if (k == 0)
            return false; // not of this round
        nextInRound_ = k >= 2 ? k - 2 : k - 1;
    } else {
        int r = p - 1;
        while (r >= 0 && !(box.Selected(r) && !refused(placeInOrder(r))))
            --r;
        box.setListIndex(r >= 0 ? r : p);
    }
    nextPlaylistDue_ = exhausted_ = dozing_ = false;
    // Over once its last entry started; going back takes it up again.
    running_ = true;
    return true;
}

void PlaylistWalk::end() {
    running_ = pending_ = dozing_ = nextPlaylistDue_ = exhausted_ = false;
    refused_.clear();
    if (!queued_.empty()) {
        queued_.clear();
        safely([&] { w_.queueNext({}); return true; }, false);
    }
}

void PlaylistWalk::started(quint64 open, quint64 cue) {
    if (!running_)
        return;
    if (cue != 0) {
        const auto it = cues_.find(cue);
        if (it == cues_.end())
            return; // not one of the walk's
        reconcile();
        commit(it->second);
    } else if (pending_) {
        pending_ = false;
        if (open == pendingOpen_) {
            finish(pendingStep_, true);
        } else {
            // Another file took the player over first; the entry asked for is not resumed.
            startedThisCycle_ = true;
            playing_ = {};
            finish(pendingStep_, false);
        }
    }
    pump();
}

// A queued entry followed the file before without a gap: the walk stands as if it had
// started that entry itself, whatever moved since the engine took it.
void PlaylistWalk::commit(const Queued& q) {
    store::ListBox& box = w_.lstContenido;
    const auto [random, filling, pass, at] = q.place;
    const bool current = box.Generation() == boxGeneration_ && random == random_ &&
                         (random ? filling == roundSerial_ && roundGeneration_ == box.Generation()
                                 : filling == boxGeneration_ && pass == pass_);
    if (!current) {
        // The walk moved on (a refill, a new round, Play again); the file plays all the same,
        // and a refill of its own playlist goes on after it.
        playing_ = {q.entry.text, find(box, q.entry.text)};
        startedThisCycle_ = true;
        if (!random && filling != boxGeneration_ && listText() == list_)
            resumeAfterPlaying();
        return;
    }
    Step step;
    if (random) {
        nextInRound_ = std::size_t(at);
        step = nextRandom();
    } else {
        box.setListIndex(at);
        step = nextInOrder();
    }
    requested_ = q.entry;
    finish(step, true);
}

void PlaylistWalk::nextFailed(quint64 cue) {
    // Passed over when the walk comes to it, as a file that cannot be opened is.
    if (const auto it = cues_.find(cue); it != cues_.end())
        refused_.insert(it->second.place);
    pump();
}

void PlaylistWalk::failed(quint64 open) {
    if (pending_ && open == pendingOpen_) {
        pending_ = false;
        finish(pendingStep_, false);
    }
    pump();
}

void PlaylistWalk::playerChanged() {
    // Stopped or closed with no word on the file asked for: it will not start.
    if (pending_ && MediaPlayer::idle(safely(w_.playState, 0))) {
        pending_ = false;
        finish(pendingStep_, false);
    }
    pump();
}

void PlaylistWalk::userChanged() {
    dozing_ = false;
    pump();
}

void PlaylistWalk::pump() {
    if (pumping_) {
        again_ = true;
        return;
    }
    pumping_ = true;
    do {
        again_ = false;
        reconcile();
        while (running_) {
            if (w_.detenido) {
                end();
                break;
            }
            if (pending_ || dozing_ || !MediaPlayer::idle(safely(w_.playState, 0)))
                break;

            if (nextPlaylistDue_) {
                // Only now that the last file has ended, so that the boxes show what plays.
                nextPlaylistDue_ = false;
                const int l = w_.lstListas.ListIndex();
                const bool wrap = l >= w_.lstListas.ListCount() - 1;
                w_.lstListas.setListIndex(wrap ? 0 : l + 1); // refills the file box
                list_ = listText();
                boxGeneration_ = w_.lstContenido.Generation();
                restart();
                if (wrap) {
                    dozing_ = !startedThisCycle_;
                    startedThisCycle_ = false;
                }
                continue;
            }

            const Step step = next(safely(w_.aleatorio, false));
            if (!step.start) {
                if (!finish(step, false))
                    break;
                continue;
            }
            const int row = w_.lstContenido.ListIndex();
            requested_ = {w_.lstContenido.List(row), row};
            pendingStep_ = step;
            pending_ = true;
            try {
                pendingOpen_ = w_.startFile(store::SelPathDocumento(w_.lstContenido));
            } catch (...) {
                pending_ = false;
                if (!finish(step, false))
                    break;
                continue;
            }
            break; // until the player says how it went
        }
    } while (again_);
    updateNext();
    pumping_ = false;
}

// The step after an entry was started or passed over; false when the walk is to wait for
// something before its next pass, or has ended.
bool PlaylistWalk::finish(const Step& step, bool startedIt) {
    if (startedIt) {
        startedThisCycle_ = true;
        playing_ = requested_;
    }
    if (step.advance)
        advance(); // a skipped entry costs no wait: the next pass starts the next
    if (!step.boxDone)
        return true;
    const bool continuous = safely(w_.continuado, false);
    if (!all_) {
        if (!continuous) {
            end();
            return false;
        }
        restart();
        // A new round over the same entries: if the last one started nothing that played,
        // wait for something to change (a tick, a click) instead of trying again at once.
        dozing_ = !startedThisCycle_;
        startedThisCycle_ = false;
        return !dozing_;
    }
    const int m = w_.lstListas.ListCount();
    if (w_.lstListas.ListIndex() >= m - 1 && (!continuous || m == 0)) {
        end();
        return false;
    }
    nextPlaylistDue_ = true;
    return true;
}

QString PlaylistWalk::listText() const {
    const int l = w_.lstListas.ListIndex();
    return l < 0 ? QString() : w_.lstListas.List(l);
}

// The file box was filled again. From the same playlist (a file removed, a playlist
// deleted), the walk goes on after the entry that plays; from another one chosen by the
// user, through the new entries.
void PlaylistWalk::reconcile() {
    if (!running_ || w_.lstContenido.Generation() == boxGeneration_)
        return;
    boxGeneration_ = w_.lstContenido.Generation();
    const QString list = listText();
    if (list.isEmpty() && !list_.isEmpty()) {
        // Deleting a playlist leaves none selected: the one playing is chosen again.
        const int l = find(w_.lstListas, list_);
        if (l < 0) {
            list_.clear();
            return;
        }
        const bool wasPumping = std::exchange(pumping_, true);
        w_.lstListas.setListIndex(l);
        pumping_ = wasPumping;
        boxGeneration_ = w_.lstContenido.Generation();
        resumeAfterPlaying();
    } else if (list == list_) {
        resumeAfterPlaying();
    } else {
        list_ = list;
    }
}

void PlaylistWalk::resumeAfterPlaying() {
    // While a start is pending, its outcome will step on past the entry asked for.
    const Entry& from = pending_ ? requested_ : playing_;
    if (from.text.isEmpty() || nextPlaylistDue_)
        return;
    store::ListBox& box = w_.lstContenido;
    const int n = box.ListCount();
    const int r = find(box, from.text);
    const int after = r >= 0 ? r + 1 : from.row; // the row that followed the one removed
    const int target = pending_ ? after - 1 : after;
    round_.clear();
    exhausted_ = false;
    if (target >= -1 && target < n)
        box.setListIndex(target);
    else if (!all_ && n > 0 && safely(w_.continuado, false))
        restart();
    else
        exhausted_ = true;
}

PlaylistWalk::Place PlaylistWalk::placeInOrder(int row) const { return {false, boxGeneration_, pass_, row}; }
PlaylistWalk::Place PlaylistWalk::placeInRound(std::size_t index) const { return {true, roundSerial_, 0, int(index)}; }

// The entries the walk would start, one after the other, if the playing file (or the one
// being opened) ended now and each of them played to its end; as far as that is known in
// advance: not past the end of a pass over the box or of a random round, nor while nothing
// plays. Named while a file opens, so that the player can look at them meanwhile.
std::vector<PlaylistWalk::Queued> PlaylistWalk::lookAhead() const {
    constexpr std::size_t kAhead = 3;
    std::vector<Queued> ahead;
    if (!running_ || dozing_ || nextPlaylistDue_ || exhausted_ || w_.detenido)
        return ahead;
    if (pending_ && pendingStep_.boxDone)
        return ahead; // the last of its pass
    const store::ListBox& box = w_.lstContenido;
    if (box.Generation() != boxGeneration_ || MediaPlayer::idle(safely(w_.playState, 0)))
        return ahead;
    const bool random = safely(w_.aleatorio, false);
    if (random != random_)
        return ahead;
    const int n = box.ListCount();
    const auto add = [&](int row, const Place& place) {
        if (row >= 0 && row < n && box.Selected(row) && !refused(place))
            ahead.push_back({place, {box.List(row), row}});
    };
    if (random) {
        if (roundGeneration_ != box.Generation())
            return ahead;
        for (std::size_t i = nextInRound_; i < round_.size() && ahead.size() < kAhead; ++i)
            add(round_[i], placeInRound(i));
    } else {
        // Opening, the current row is the entry being opened.
        for (int row = std::max(box.ListIndex(), 0) + (pending_ ? 1 : 0); row < n && ahead.size() < kAhead; ++row)
            add(row, placeInOrder(row));
    }
    return ahead;
}

void PlaylistWalk::updateNext() {
    QueuedFiles next;
    for (const Queued& q : lookAhead()) {
        quint64& cue = cueOf_[q.place];
        if (cue == 0) {
            cue = ++lastCue_;
            cues_[cue] = q;
        }
        next.push_back({store::PathOfRow(q.entry.text), cue});
    }
    if (next == queued_)
        return;
    queued_ = next;
    if (cues_.size() > 4096) {
        // Old cues name entries long played; the ones queued now stay.
        std::map<quint64, Queued> keep;
        for (const QueuedFile& f : next)
            keep.insert(*cues_.find(f.cue));
        cues_.swap(keep);
        cueOf_.clear();
        for (const auto& [cue, q] : cues_)
            cueOf_[q.place] = cue;
    }
    safely([&] { w_.queueNext(next); return true; }, false);
}

PlaylistWalk::Step PlaylistWalk::next(bool random) {
    if (random != random_) {
        random_ = random;
        round_.clear();
        // Back in list order, go on after the entry that random order started last.
        if (!random && advance())
            return {false, false, true};
    }
    return random ? nextRandom() : nextInOrder();
}

// Moves to the following row; true when there is none.
bool PlaylistWalk::advance() {
    store::ListBox& box = w_.lstContenido;
    const int c = box.ListIndex();
    if (c >= box.ListCount() - 1)
        return true;
    box.setListIndex(c + 1);
    return false;
}

// Begins a new pass over the box: its first row, or a fresh round. The round over is kept,
// so that Previous can go back in it.
void PlaylistWalk::restart() {
    nextInRound_ = round_.size();
    exhausted_ = false;
    ++pass_;
    w_.lstContenido.setListIndex(0);
}

PlaylistWalk::Step PlaylistWalk::nextInOrder() {
    store::ListBox& box = w_.lstContenido;
    const int n = box.ListCount();
    if (n == 0 || std::exchange(exhausted_, false))
        return {false, false, true};
    if (box.ListIndex() < 0) // another playlist chosen: from its first entry
        box.setListIndex(0);
    const int c = box.ListIndex();
    const bool last = c == n - 1;
    return {box.Selected(c) && !refused(placeInOrder(c)), !last, last};
}

PlaylistWalk::Step PlaylistWalk::nextRandom() {
    store::ListBox& box = w_.lstContenido;
    if (nextInRound_ >= round_.size() || roundGeneration_ != box.Generation()) {
        round_.clear();
        for (int i = 0; i < box.ListCount(); ++i)
            if (box.Selected(i))
                round_.push_back(i);
        // Fisher-Yates: every order equally likely.
        for (int i = int(round_.size()) - 1; i > 0; --i)
            std::swap(round_[std::size_t(i)], round_[std::size_t(NumeroAlAzar(i + 1) - 1)]);
        nextInRound_ = 0;
        roundGeneration_ = box.Generation();
        ++roundSerial_;
        if (round_.empty())
            return {false, false, true};
    }
    const Place place = placeInRound(nextInRound_);
    const int entry = round_[nextInRound_++];
    const bool done = nextInRound_ == round_.size();
    // An entry unchecked or removed since the round began is passed over.
    const bool start = entry < box.ListCount() && box.Selected(entry) && !refused(place) && box.setListIndex(entry);
    return {start, false, done};
}

} // namespace melofon::playback
