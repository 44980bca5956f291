#pragma once

#include <array>
#include <functional>
#include <optional>

// The arrow keys as the keys timer polls them: which are held, and which were pressed since the last
// tick. Fed from key events on the window thread, read once a tick.
//
// X11 reports a held key's auto-repeat as release/press pairs that carry one timestamp and no
// auto-repeat flag: such a pair is no release, so a held key stays held for as long as it is held,
// whatever the system's repeat delay and rate. A key pressed and released between two ticks counts
// as held on the next tick, so that a short tap is never lost.
class CArrowKeys {
public:
    // ORDER: the keys timer's order, Left, Right, Down, Up.
    enum Key : int { kLeft, kRight, kDown, kUp, kCount };
    // Whether the key with this native scan code is physically down now; nothing when the platform
    // cannot say.
    using Probe = std::function<std::optional<bool>(unsigned scanCode)>;

    // An event's timestamp in milliseconds; 0 means none (synthesised events), which never pairs.
    void Press(Key key, unsigned long timestamp, bool autoRepeat, unsigned scanCode = 0);
    void Release(Key key, unsigned long timestamp, bool autoRepeat);
    // The keys held on this tick: those down now and those pressed since the last tick. A release
    // whose repeat press has not come yet is settled by the probe: still down physically, still held.
    std::array<bool, kCount> Tick(const Probe& probe = {});
    // Forgets every key (the window lost the focus: releases will not reach it).
    void Clear() { m_keys = {}; }
    bool AnyDown() const;

private:
    struct State {
        bool down { false };
        bool pressed { false };        // pressed since the last tick
        bool releasePending { false }; // released, unless a press with its timestamp follows
        unsigned long releaseTime { 0 };
        unsigned scanCode { 0 };
    };
    std::array<State, kCount> m_keys {};
};

// The X server's own state of a key, for CArrowKeys::Tick; nothing off X11.
std::optional<bool> PhysicalKeyDown(unsigned scanCode);
