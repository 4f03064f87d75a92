import QtQuick

// A panel that a disclosure row opens and closes. Its content exists in the layout only
// while contentVisible; expanding shows it first and grows it on the next turn of the
// event loop, collapsing shrinks it and removes it when the 0.14 s ease-out ends, unless
// it was opened again meanwhile. With reduce motion both change at once.
Item {
    id: panel

    property bool reduceMotion: false
    property bool expanded: false
    property bool contentVisible: false
    // 0 collapsed, 1 expanded: everything the animation moves follows it.
    property real progress: 0
    property real topSpace: 8
    property real bottomSpace: 10
    default property alias content: holder.data
    readonly property alias contentItem: holder

    // An expansion asked for and still to come on the next turn of the event loop.
    property bool _expandPending: false

    function toggle() {
        setExpanded(!expanded)
    }

    function setExpanded(on) {
        if (reduceMotion) {
            animation.stop()
            _expandPending = false
            expanded = on
            contentVisible = on
            progress = on ? 1 : 0
            return
        }
        if (on) {
            contentVisible = true
            _expandPending = true
            Qt.callLater(panel._expandNow)
        } else {
            _expandPending = false
            expanded = false
            animateTo(0)
        }
    }

    function _expandNow() {
        if (!_expandPending)
            return
        _expandPending = false
        expanded = true
        animateTo(1)
    }

    function animateTo(target) {
        animation.stop()
        animation.to = target
        animation.start()
    }

    visible: contentVisible
    clip: true
    implicitHeight: (topSpace + holder.implicitHeight + bottomSpace) * progress

    NumberAnimation {
        id: animation

        target: panel
        property: "progress"
        duration: 140
        // Ease-out: the curve (0, 0) (0.58, 1).
        easing.type: Easing.Bezier
        easing.bezierCurve: [0, 0, 0.58, 1, 1, 1]
        onFinished: {
            if (!panel.expanded)
                panel.contentVisible = false
        }
    }

    Item {
        id: holder

        x: 0
        y: panel.topSpace * panel.progress - 4 * (1 - panel.progress)
        width: panel.width
        implicitHeight: childrenRect.height
        opacity: panel.progress
    }
}
