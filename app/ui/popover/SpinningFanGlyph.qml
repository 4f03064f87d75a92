import QtQuick
import Zephro.Ui

// The header's fan, turning at a speed that follows the fans: rpm × 0.18 degrees a second,
// so a turn takes 2000 / rpm seconds. At or below 100 RPM it stands still at its last
// angle. An animator turns it, on the render thread where there is one, so an open
// popover costs no script run per frame.
SymbolGlyph {
    id: glyph

    property real rpm: 0
    readonly property bool spinning: rpm > 100
    readonly property bool turning: animator.running
    // Only while someone can see it turn.
    readonly property bool shown: glyph.visible && glyph.Window.window !== null
                                  && glyph.Window.window.visible

    // A new speed carries on from where the fan stands: stopping writes the animator's
    // angle back to the item.
    function restart() {
        const wasRunning = animator.running
        if (wasRunning)
            animator.stop()
        rotation = rotation % 360
        animator.from = rotation
        animator.to = rotation + 360
        animator.duration = 2000000 / Math.max(rpm, 1)
        if (wasRunning)
            animator.start()
    }

    name: "fan.fill"
    onRpmChanged: restart()
    onShownChanged: restart()

    RotationAnimator {
        id: animator

        target: glyph
        running: glyph.spinning && glyph.shown
        loops: Animation.Infinite
        easing.type: Easing.Linear
    }
}
