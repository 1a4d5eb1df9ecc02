#include "playback/sequencer.h"

#include <random>

namespace melofon::playback {

namespace {

std::mt19937& generator() {
    static std::mt19937 g{std::random_device{}()};
    return g;
}

bool idle(int state) { return state == 0 || state == 6; }

// The walk's position within the file box: in list order it is the box's current row;
// in random order a round, a shuffled list of the entries checked when it began.
class BoxCursor {
public:
    explicit BoxCursor(store::ListBox& box) : box_(box) {}

    struct Step {
        bool start = false;   // the box's current row is to be started
        bool advance = false; // then move on to the following row (list order)
        bool boxDone = false; // nothing is left of this pass over the box
    };

    // Chooses the next entry and makes it the current row.
    Step next(bool random) {
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
    bool advance() {
        const int c = box_.ListIndex();
        if (c >= box_.ListCount() - 1)
            return true;
        box_.setListIndex(c + 1);
        return false;
    }

    // Begins a new pass over the box: its first row, or a fresh round.
    void restart() {
        round_.clear();
        box_.setListIndex(0);
    }

private:
    Step nextInOrder() {
        const int n = box_.ListCount();
        if (n == 0)
            return {false, false, true};
        if (box_.ListIndex() < 0) // a refill leaves no current row
            box_.setListIndex(0);
        const int c = box_.ListIndex();
        const bool last = c == n - 1;
        return {box_.Selected(c), !last, last};
    }

    Step nextRandom() {
        if (round_.empty() || generation_ != box_.Generation()) {
            round_.clear();
            for (int i = 0; i < box_.ListCount(); ++i)
                if (box_.Selected(i))
                    round_.push_back(i);
            // Fisher-Yates: every order equally likely.
            for (int i = int(round_.size()) - 1; i > 0; --i)
                std::swap(round_[std::size_t(i)], round_[std::size_t(NumeroAlAzar(i + 1) - 1)]);
            next_ = 0;
            generation_ = box_.Generation();
            if (round_.empty())
                return {false, false, true};
        }
        const int entry = round_[next_++];
        const bool done = next_ == round_.size();
        if (done)
            round_.clear();
        // An entry unchecked or removed since the round began is passed over.
        const bool start = entry < box_.ListCount() && box_.Selected(entry) && box_.setListIndex(entry);
        return {start, false, done};
    }

    store::ListBox& box_;
    bool random_ = false;
    std::vector<int> round_;
    std::size_t next_ = 0;
    quint64 generation_ = 0;
};

} // namespace

int NumeroAlAzar(int maximo) {
    if (maximo < 1)
        return 1;
    return std::uniform_int_distribution<int>(1, maximo)(generator());
}

void seedNumeroAlAzar(unsigned seed) { generator().seed(seed); }

void runPlaylistWalk(WalkControls& w) {
    w.detenido = false;
    w.lstContenido.setListIndex(0);
    const bool allPlaylists = w.todas();
    BoxCursor cursor(w.lstContenido);
    bool startedThisCycle = false;
    bool nextPlaylistDue = false;

    const auto safely = [](const auto& f, auto fallback) {
        try {
            return f();
        } catch (...) {
            return fallback;
        }
    };
    // A new round over the same entries: if the last one started nothing that played,
    // wait for something to change (a tick, a click) instead of spinning through it again.
    const auto wrapped = [&] {
        if (!startedThisCycle)
            w.yield(true);
        startedThisCycle = false;
    };

    for (;;) {
        if (w.detenido)
            return;
        if (!idle(safely(w.playState, 0))) {
            // The player tells when it changes state, and the timer ticks: no polling.
            w.yield(true);
            continue;
        }

        if (nextPlaylistDue) {
            // Only now that the last file has ended, so the boxes show what plays.
            nextPlaylistDue = false;
            const int l = w.lstListas.ListIndex();
            if (l < w.lstListas.ListCount() - 1) {
                w.lstListas.setListIndex(l + 1); // refills the file box
            } else {
                w.lstListas.setListIndex(0);
                wrapped();
            }
            cursor.restart();
            continue;
        }

        const auto step = cursor.next(safely(w.aleatorio, false));
        if (step.start)
            startedThisCycle = safely(w.startCurrentEntry, false) || startedThisCycle;
        if (step.advance)
            cursor.advance(); // a skipped entry costs no wait: the next pass starts the next

        if (step.boxDone) {
            const bool continuous = safely(w.continuado, false);
            if (!allPlaylists) {
                if (!continuous)
                    return;
                cursor.restart();
                wrapped();
            } else {
                const bool last = w.lstListas.ListIndex() >= w.lstListas.ListCount() - 1;
                if (last && (!continuous || w.lstListas.ListCount() == 0))
                    return;
                nextPlaylistDue = true;
            }
        }
        w.yield(false);
    }
}

} // namespace melofon::playback
