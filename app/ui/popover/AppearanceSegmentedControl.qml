import QtQuick
import QtQuick.Templates as T
import "Style.js" as Style

// The three-way appearance switch: light, system, dark, with the chosen one on an
// accent-coloured thumb that slides between the segments.
Item {
    id: control

    // "system", "light" or "dark".
    property string selection: "system"
    property QtObject loc
    property bool disableLiquidGlass: false
    property bool reduceMotion: false

    signal selected(string mode)

    readonly property var modes: ["light", "system", "dark"]
    readonly property int selectedIndex: Math.max(0, modes.indexOf(selection))
    readonly property real segmentWidth: (width - 4) / modes.length

    implicitWidth: 180
    implicitHeight: 28

    Rectangle {
        anchors.fill: parent
        radius: 8
        color: control.disableLiquidGlass ? control.palette.window
                                          : Style.thinMaterial(control.palette)
        border.width: 1
        border.color: Style.withAlpha(control.palette.windowText, 0.08)
    }

    Rectangle {
        id: thumb

        objectName: "thumb"
        x: 2 + control.selectedIndex * control.segmentWidth
        y: 2
        width: control.segmentWidth
        height: control.height - 4
        radius: 7
        color: control.palette.highlight

        Behavior on x {
            enabled: !control.reduceMotion
            NumberAnimation {
                duration: 300
                easing.type: Easing.OutCubic
            }
        }
    }

    Row {
        x: 2
        y: 2

        Repeater {
            model: control.modes

            T.AbstractButton {
                id: segment

                required property string modelData
                required property int index

                objectName: "segment_" + modelData
                width: control.segmentWidth
                height: control.height - 4
                checkable: false
                Accessible.role: Accessible.RadioButton
                Accessible.checked: index === control.selectedIndex
                onClicked: control.selected(modelData)

                contentItem: Text {
                    text: control.loc ? (control.loc.revision,
                                         control.loc.string("appearance_" + segment.modelData))
                                      : segment.modelData
                    font.pixelSize: 12
                    font.weight: Font.Medium
                    color: segment.index === control.selectedIndex ? "white"
                                                                   : control.palette.windowText
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    elide: Text.ElideRight
                }
            }
        }
    }
}
