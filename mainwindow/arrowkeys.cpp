#include "arrowkeys.h"

#include <algorithm>

#ifdef GLIMMERSET_HAVE_XCB
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#endif

void CArrowKeys::Press(Key key, unsigned long timestamp, bool autoRepeat, unsigned scanCode)
{
    State& k = m_keys[key];
    if (scanCode != 0) {
        k.scanCode = scanCode;
    }
    if (k.releasePending && timestamp != 0 && timestamp == k.releaseTime) {
        k.releasePending = false; // the release was the first half of an auto-repeat pair
        return;
    }
    if (autoRepeat || (k.down && !k.releasePending)) {
        return; // repeats of a key already held
    }
    k.down = true;
    k.pressed = true;
    k.releasePending = false;
}

void CArrowKeys::Release(Key key, unsigned long timestamp, bool autoRepeat)
{
    State& k = m_keys[key];
    if (autoRepeat || !k.down) {
        return;
    }
    // Settled by the next press or the next tick, whichever comes first.
    k.releasePending = true;
    k.releaseTime = timestamp;
}

std::array<bool, CArrowKeys::kCount> CArrowKeys::Tick(const Probe& probe)
{
    std::array<bool, kCount> held {};
    for (int i = 0; i < kCount; ++i) {
        State& k = m_keys[static_cast<size_t>(i)];
        if (k.releasePending) {
            const std::optional<bool> physical = probe && k.scanCode != 0 ? probe(k.scanCode) : std::nullopt;
            if (!physical.value_or(false)) {
                k.down = false;
                k.releasePending = false;
            }
        }
        held[static_cast<size_t>(i)] = k.down || k.pressed;
        k.pressed = false;
    }
    return held;
}

bool CArrowKeys::AnyDown() const
{
    return std::any_of(m_keys.begin(), m_keys.end(), [](const State& k) { return k.down; });
}

std::optional<bool> PhysicalKeyDown(unsigned scanCode)
{
#ifdef GLIMMERSET_HAVE_XCB
    // On X11 the native scan code is the key code; the server's key map is its physical state.
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    constexpr unsigned kKeyCodes = 256;
    if (x11 == nullptr || x11->connection() == nullptr || scanCode == 0 || scanCode >= kKeyCodes) {
        return std::nullopt;
    }
    xcb_connection_t* connection = x11->connection();
    xcb_query_keymap_reply_t* reply
        = xcb_query_keymap_reply(connection, xcb_query_keymap(connection), nullptr);
    if (reply == nullptr) {
        return std::nullopt;
    }
    const bool down = (reply->keys[scanCode / 8] >> (scanCode % 8)) & 1;
    std::free(reply);
    return down;
#else
    (void)scanCode;
    return std::nullopt;
#endif
}
