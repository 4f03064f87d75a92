import QtQuick
import QtQuick.Templates as T

// The close button of a window without a title bar: a quiet cross that darkens when the
// pointer is over it.
T.AbstractButton {
    id: button

    property color tint: palette.windowText

    width: 20
    height: 20
    hoverEnabled: true
    Accessible.name: "Close"

    contentItem: SymbolGlyph {
        name: "xmark"
        size: 14
        color: Qt.rgba(button.tint.r, button.tint.g, button.tint.b, button.hovered ? 0.9 : 0.55)
    }
    background: Rectangle {
        radius: width / 2
        color: button.hovered ? Qt.rgba(button.tint.r, button.tint.g, button.tint.b, 0.1)
                              : "transparent"
    }
}
