import QtQuick
import "Spring.js" as Spring

// A page's texts sliding from fromX to toX while fading in or out, on the page spring.
Transition {
    id: transition

    property real fromX: 0
    property real toX: 0
    // "in" or "out".
    property string fading: "in"

    NumberAnimation {
        property: "x"
        from: transition.fromX
        to: transition.toX
        duration: Spring.duration
        easing.type: Easing.BezierSpline
        easing.bezierCurve: Spring.curve
    }
    NumberAnimation {
        property: "opacity"
        from: transition.fading === "in" ? 0 : 1
        to: transition.fading === "in" ? 1 : 0
        duration: Spring.duration
        easing.type: Easing.BezierSpline
        easing.bezierCurve: Spring.curve
    }
}
