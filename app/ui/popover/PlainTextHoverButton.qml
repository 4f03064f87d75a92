import QtQuick
import QtQuick.Templates as T
import "Style.js" as Style

// A footer entry: full-width text in the secondary colour that takes on hoverColor, over a
// faint rounded wash of it, while the pointer is over it.
T.AbstractButton {
    id: control

    property color hoverColor: palette.windowText
    readonly property bool isHovered: hovered

    hoverEnabled: true
    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: implicitContentHeight + topPadding + bottomPadding
    leftPadding: 12
    rightPadding: 12
    topPadding: 5
    bottomPadding: 5

    contentItem: Text {
        text: control.text
        font.pixelSize: Style.body
        font.weight: Font.Medium
        color: control.hovered ? control.hoverColor : control.palette.placeholderText
        elide: Text.ElideRight
        verticalAlignment: Text.AlignVCenter
    }

    background: Rectangle {
        radius: 6
        color: control.hovered ? Style.withAlpha(control.hoverColor, 0.1) : "transparent"
    }
}
