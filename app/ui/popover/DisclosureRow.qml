import QtQuick
import Zephro.Ui
import QtQuick.Layouts
import QtQuick.Templates as T
import "Style.js" as Style

// The row that opens and closes a panel: a title, an optional detail text and a chevron
// that turns a quarter with the panel. Primary while hovered, pressed or open.
T.AbstractButton {
    id: control

    property string detail
    property bool expanded: false
    // How far the panel is open, 0 to 1; turns the chevron.
    property real progress: 0
    readonly property bool isHovered: hovered
    readonly property bool isPressed: pressed
    readonly property color tone: hovered || pressed || expanded ? palette.windowText
                                                                 : Theme.secondaryText(palette)

    hoverEnabled: true
    implicitHeight: Style.rowHeight
    leftPadding: 12
    rightPadding: 12

    contentItem: RowLayout {
        spacing: 6

        Text {
            text: control.text
            font.pixelSize: Style.body
            font.weight: Font.Medium
            color: control.tone
        }
        Item {
            Layout.fillWidth: true
        }
        Text {
            objectName: "disclosureDetail"
            visible: control.detail.length > 0
            text: control.detail
            font.pixelSize: 12
            color: Theme.secondaryText(control.palette)
            elide: Text.ElideRight
            Layout.maximumWidth: 140
        }
        SymbolGlyph {
            name: "chevron.right"
            size: 16
            bold: true
            color: control.tone
            rotation: 90 * control.progress
            Layout.preferredWidth: 16
        }
    }

    background: Rectangle {
        radius: 6
        color: control.hovered || control.pressed ? Style.withAlpha(control.palette.windowText, 0.1)
                                                  : "transparent"
    }
}
