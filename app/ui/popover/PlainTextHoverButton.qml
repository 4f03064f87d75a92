import QtQuick
import Zephro.Ui
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
    implicitHeight: Style.rowHeight
    leftPadding: 12
    rightPadding: 12

    contentItem: Text {
        text: control.text
        font.pixelSize: Style.body
        font.weight: Font.Medium
        color: control.hovered ? control.hoverColor : Theme.secondaryText(control.palette)
        elide: Text.ElideRight
        verticalAlignment: Text.AlignVCenter
    }

    background: Rectangle {
        radius: 6
        color: control.hovered ? Style.withAlpha(control.hoverColor, 0.1) : "transparent"
    }
}
