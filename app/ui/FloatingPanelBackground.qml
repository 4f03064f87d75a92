import QtQuick

// The background of a floating panel without a title bar: the window colour, slightly
// translucent where the compositor blends windows, a hairline edge, a close button in the
// corner, and dragging anywhere on it moves the window.
Item {
    id: background

    property bool closable: true
    property bool translucent: true

    signal closeRequested()

    Rectangle {
        anchors.fill: parent
        color: Qt.rgba(background.palette.window.r, background.palette.window.g,
                       background.palette.window.b,
                       background.translucent ? 0.96 : 1)
        border.width: 1
        border.color: Qt.rgba(background.palette.windowText.r, background.palette.windowText.g,
                              background.palette.windowText.b, 0.15)
    }
    DragHandler {
        target: null
        onActiveChanged: if (active && background.Window.window) background.Window.window.startSystemMove()
    }
    CloseButton {
        objectName: "closeButton"
        visible: background.closable
        x: background.width - width - 8
        y: 8
        tint: background.palette.windowText
        onClicked: background.closeRequested()
    }
}
