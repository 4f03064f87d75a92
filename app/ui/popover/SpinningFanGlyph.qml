import QtQuick
import Zephro.Ui

// The header's fan, turning at a speed that follows the fans: every 1/60 s it advances by
// rpm / 6000 × 18 degrees. At or below 100 RPM it stands still at its last angle.
SymbolGlyph {
    id: glyph

    property real rpm: 0
    property real angle: 0
    readonly property bool spinning: rpm > 100

    // One tick of the spin, or `ticks` of them at once when the timer ran late.
    function advance(ticks) {
        if (rpm <= 100)
            return
        angle += rpm / 6000 * 18 * ticks
        while (angle >= 360)
            angle -= 360
    }

    name: "fan.fill"
    rotation: angle

    Timer {
        property double last: 0

        interval: 16
        repeat: true
        // Only while someone can see it turn.
        running: glyph.spinning && glyph.visible && glyph.Window.window !== null
                 && glyph.Window.window.visible
        onRunningChanged: last = Date.now()
        onTriggered: {
            const now = Date.now()
            // A stalled event loop does not make the fan jump.
            glyph.advance(Math.min((now - last) / (1000 / 60), 6))
            last = now
        }
    }
}
