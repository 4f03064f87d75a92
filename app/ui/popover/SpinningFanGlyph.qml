import QtQuick
import Zephro.Ui

// The header's fan, turning at a speed that follows the fans: rpm × 0.18 degrees a second,
// so a turn takes 2000 / rpm seconds. At or below 100 RPM it stands still at its last
// angle, and it turns only while someone can see it.
//
// It moves 10 times a second: every frame of an open popover is drawn in software, and 60
// of them cost 3.5 % of a core where 10 cost 0.8 %. A step stays under 45 degrees, half the
// four blades' symmetry, since a larger one looks like a slow turn backwards: above
// 2222 RPM the fan turns as it does at 2222.
SymbolGlyph {
    id: glyph

    property real rpm: 0
    readonly property bool spinning: rpm > 100
    readonly property bool turning: ticker.running
    // Only while someone can see it turn.
    readonly property bool shown: glyph.visible && glyph.Window.window !== null
                                  && glyph.Window.window.visible
    readonly property int framesPerSecond: 10
    readonly property real largestStep: 40

    // Degrees a frame at this speed.
    function stepFor(rpm) {
        return Math.min(rpm * 0.18 / framesPerSecond, largestStep)
    }

    name: "fan.fill"

    Timer {
        id: ticker

        interval: 1000 / glyph.framesPerSecond
        repeat: true
        running: glyph.spinning && glyph.shown
        onTriggered: glyph.rotation = (glyph.rotation + glyph.stepFor(glyph.rpm)) % 360
    }
}
