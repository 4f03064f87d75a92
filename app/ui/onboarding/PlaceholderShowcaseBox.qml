import QtQuick

// What a page without a video shows in the media frame: a faint rounded box with a dashed
// border, crossed from corner to corner.
Item {
    id: box

    property color primary: palette.windowText
    property color secondary: Qt.rgba(primary.r, primary.g, primary.b, 0.55)

    Canvas {
        id: canvas

        anchors.fill: parent
        onPaint: {
            const context = getContext("2d")
            const radius = 16
            const inset = 2
            context.reset()
            context.beginPath()
            context.roundedRect(1, 1, width - 2, height - 2, radius, radius)
            context.fillStyle = Qt.rgba(box.primary.r, box.primary.g, box.primary.b, 0.04)
            context.fill()
            context.lineWidth = 2
            context.setLineDash([4, 3])
            context.strokeStyle = Qt.rgba(box.secondary.r, box.secondary.g, box.secondary.b, 0.5)
            context.stroke()
            context.setLineDash([])
            context.strokeStyle = Qt.rgba(box.secondary.r, box.secondary.g, box.secondary.b, 0.35)
            context.beginPath()
            context.moveTo(inset, inset)
            context.lineTo(width - inset, height - inset)
            context.moveTo(width - inset, inset)
            context.lineTo(inset, height - inset)
            context.stroke()
        }
    }
    onPrimaryChanged: canvas.requestPaint()
    onSecondaryChanged: canvas.requestPaint()
}
