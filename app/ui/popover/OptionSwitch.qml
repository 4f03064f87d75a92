import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import "Style.js" as Style

// One option: its label at the leading end and a small switch at the trailing end. The
// switch always shows `checked` as the owner has it; a click only asks for a change
// through toggled(), so an owner that refuses it (or stores something else) is believed.
RowLayout {
    id: row

    property alias text: label.text
    property bool checked: false
    readonly property alias control: toggle

    signal toggled(bool on)

    spacing: 8

    Text {
        id: label

        font.pixelSize: Style.body
        font.weight: Font.Medium
        color: row.palette.windowText
        elide: Text.ElideRight
        Layout.fillWidth: true
    }

    T.Switch {
        id: toggle

        objectName: "switch"
        checked: row.checked
        implicitWidth: 30
        implicitHeight: 18
        Accessible.name: label.text
        onToggled: {
            const wanted = checked
            checked = Qt.binding(() => row.checked)
            row.toggled(wanted)
        }

        indicator: Rectangle {
            anchors.fill: parent
            radius: height / 2
            color: toggle.checked ? toggle.palette.highlight
                                  : Style.withAlpha(toggle.palette.windowText, 0.18)

            Rectangle {
                width: parent.height - 4
                height: width
                radius: width / 2
                y: 2
                x: toggle.checked ? parent.width - width - 2 : 2
                color: "white"
                border.width: 0.5
                border.color: Style.withAlpha("black", 0.15)
            }
        }
    }
}
