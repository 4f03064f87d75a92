import QtQuick
import QtQuick.Templates as T
import "Style.js" as Style

// The kind control: percentage on the left, RPM on the right; the chosen segment is
// filled with the accent colour.
Rectangle {
    id: control

    // "percentage" or "rpm".
    property string mode
    property string percentageText
    property string rpmText

    signal modeChosen(string mode)

    implicitWidth: 240
    implicitHeight: 26
    radius: 6
    color: Style.withAlpha(palette.windowText, 0.07)
    border.width: 1
    border.color: Style.withAlpha(palette.windowText, 0.12)

    Row {
        anchors.fill: parent
        anchors.margins: 2

        Repeater {
            model: [
                { mode: "percentage", text: control.percentageText },
                { mode: "rpm", text: control.rpmText }
            ]

            T.AbstractButton {
                id: segment

                required property var modelData
                readonly property bool isChosen: control.mode === modelData.mode

                objectName: "segment_" + modelData.mode
                width: parent.width / 2
                height: parent.height
                checkable: false
                Accessible.role: Accessible.RadioButton
                Accessible.name: modelData.text
                Accessible.checked: isChosen
                onClicked: control.modeChosen(modelData.mode)

                contentItem: Text {
                    text: segment.modelData.text
                    font.pixelSize: 13
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    color: segment.isChosen ? control.palette.highlightedText
                                            : control.palette.windowText
                }
                background: Rectangle {
                    radius: 4
                    color: segment.isChosen ? control.palette.highlight : "transparent"
                }
            }
        }
    }
}
